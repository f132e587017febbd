#pragma once

// SIGINT, SIGTERM and SIGHUP (each unless ignored from the start, as under nohup or for a
// background job's SIGINT) as events of the Qt event loop: the run is cancelled from a handler
// like any other, never from inside a signal handler. On Linux this is the window program's own
// watcher (mainwindow/termination_signals.h): the signals are blocked for the whole process and
// read from a signalfd, so blockTerminationSignals() must run before any thread starts (before
// QApplication); one that comes meanwhile waits and is seen at once. On Windows Ctrl-C and
// Ctrl-Break come from the console's handler.

#include <QObject>

#include <memory>

namespace norvak {
class TerminationSignals;
} // namespace norvak

namespace norvak::cli {

// Call first thing in main, before any thread exists. Elsewhere than Linux it does nothing.
void blockTerminationSignals();

// True when one of the blocked termination signals waits to be read, for work that does not
// reach the event loop (the check before a run). One system call; the signal stays pending
// for the watcher. Elsewhere than Linux always false.
[[nodiscard]] bool terminationSignalPending();

class SignalWatcher final : public QObject {
    Q_OBJECT

public:
    SignalWatcher();
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

signals:
    void terminationRequested(int signalNumber);

private:
    std::unique_ptr<TerminationSignals> signals_; // Linux only
};

} // namespace norvak::cli
