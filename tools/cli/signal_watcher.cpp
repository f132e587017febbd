#include "tools/cli/signal_watcher.h"

#include "mainwindow/termination_signals.h"

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <QPointer>

#include <csignal>
#include <mutex>
#include <windows.h>
#endif

namespace norvak::cli {

#ifdef Q_OS_LINUX

// The window program's own watcher: the same signals, the same nohup rule.
void blockTerminationSignals() {
    TerminationSignals::block();
}

bool terminationSignalPending() {
    return TerminationSignals::pending();
}

SignalWatcher::SignalWatcher()
    : signals_(std::make_unique<TerminationSignals>()) {
    connect(signals_.get(), &TerminationSignals::received, this,
            &SignalWatcher::terminationRequested);
}

SignalWatcher::~SignalWatcher() = default;

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

#else

// Elsewhere the signals keep their default action: the program ends at once.
void blockTerminationSignals() {}
bool terminationSignalPending() {
    return false;
}
SignalWatcher::SignalWatcher() = default;
SignalWatcher::~SignalWatcher() = default;

#endif

} // namespace norvak::cli
