#pragma once

// SIGTERM, SIGHUP and SIGINT as events of the window program's event loop, so that a program
// asked to end (killed by SIGTERM, its terminal closed, Ctrl-C) closes its window as the close
// button does: the close handler closes the port, which removes Qt's lock file and drops our
// claim, and the run sends nothing more. Ended by the signal's default action instead, the
// program would leave Qt's lock file behind, and a lock file of root's in the sticky lock
// folder refuses every other user.
//
// On Linux the signals are blocked for the whole process and read from a signalfd; a signal
// that was ignored when the program started (nohup) stays ignored. Elsewhere they keep their
// default action: Windows sends a window program no console events.

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace norvak {

class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    // First thing in main, before any thread exists: a thread started earlier would still take
    // a signal with its default action. A signal that comes before the watcher exists waits
    // for it.
    static void block();
    // True when one of the blocked signals waits to be read, for work that does not reach the
    // event loop (a long check before a run). One system call; the signal stays pending for
    // the watcher. Always false where the signals are not blocked.
    [[nodiscard]] static bool pending();

    TerminationSignals();
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The status the program ends with: 128 plus the number of the first signal received, as
    // a shell reports a program that a signal ended; `normalStatus` when none came.
    [[nodiscard]] int exitStatus(int normalStatus) const;

signals:
    // Once for each signal, on the event loop; connected to the window's close.
    void received(int signalNumber);

private:
    void readSignals();

    int descriptor_ = -1; // the signalfd; Linux only
    int first_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace norvak
