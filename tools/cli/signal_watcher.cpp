#include "signal_watcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <QMetaObject>
#include <QPointer>

#include <csignal>
#include <mutex>
#include <windows.h>
#endif

namespace norvak::cli {

#ifdef Q_OS_LINUX

namespace {

bool ignoredSinceStart(int signalNumber) {
    struct sigaction action {};
    return sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // The terminal closed: nobody is left to watch the run. Unless the program was started
    // to outlive its terminal (nohup): a blocked signal is kept even when ignored.
    if (!ignoredSinceStart(SIGHUP)) {
        sigaddset(&set, SIGHUP);
    }
    return set;
}

} // namespace

void blockTerminationSignals() {
    const sigset_t set = terminationSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

bool terminationSignalPending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) {
        return false;
    }
    const sigset_t set = terminationSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&set, signal) == 1 && sigismember(&pending, signal) == 1) {
            return true;
        }
    }
    return false;
}

SignalWatcher::SignalWatcher() {
    const sigset_t set = terminationSignals();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
}

SignalWatcher::~SignalWatcher() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SignalWatcher::readSignals() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        emit terminationRequested(static_cast<int>(info.ssi_signo));
    }
}

#elif defined(Q_OS_WIN)

namespace {

// The console calls its handler on a thread of its own, with no context: the watcher it
// reports to is found here, and the report is posted to the watcher's event loop.
struct ConsoleWatch {
    std::mutex mutex;
    QPointer<SignalWatcher> watcher;
};

ConsoleWatch& consoleWatch() {
    static ConsoleWatch watch;
    return watch;
}

BOOL WINAPI onConsoleControl(DWORD event) {
    // Ctrl-C and Ctrl-Break cancel the run as SIGINT does on Linux; closing the console or
    // logging off keep their default, the end of the program.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    ConsoleWatch& watch = consoleWatch();
    const std::scoped_lock lock(watch.mutex);
    if (watch.watcher.isNull()) {
        return FALSE;
    }
    QMetaObject::invokeMethod(
        watch.watcher.data(),
        [watcher = watch.watcher] {
            if (!watcher.isNull()) {
                emit watcher->terminationRequested(SIGINT);
            }
        },
        Qt::QueuedConnection);
    return TRUE;
}

} // namespace

// The console's handler runs on its own thread and is registered with the watcher.
void blockTerminationSignals() {}

// Until the watcher exists (the check before a run), Ctrl-C and Ctrl-Break keep the console's
// default and end the program at once; nothing has been sent then.
bool terminationSignalPending() {
    return false;
}

SignalWatcher::SignalWatcher() {
    {
        ConsoleWatch& watch = consoleWatch();
        const std::scoped_lock lock(watch.mutex);
        watch.watcher = this;
    }
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalWatcher::~SignalWatcher() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    ConsoleWatch& watch = consoleWatch();
    const std::scoped_lock lock(watch.mutex);
    watch.watcher.clear();
}

void SignalWatcher::readSignals() {}

#else

// Elsewhere the signals keep their default action: the program ends at once.
void blockTerminationSignals() {}
bool terminationSignalPending() {
    return false;
}
SignalWatcher::SignalWatcher() = default;
SignalWatcher::~SignalWatcher() = default;
void SignalWatcher::readSignals() {}

#endif

} // namespace norvak::cli
