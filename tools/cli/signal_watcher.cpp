#include "signal_watcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>
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
