#pragma once

// The handler of the serial control's receive event: the only reader of what the device
// sends. Every character moves the programming run under the state of that moment and is
// then appended to the log box as it came.
//
// The echo is collected and appended to the log box in one piece: before a transition
// (">", "_", "P"), before the handler yields or fails, and every kEchoBlock characters. Nothing
// else runs while the drain loop reads, so the log box ends up with exactly what came, in order,
// and whatever runs next (a handler in the yield, one that rewrites the log box) finds every
// character handled so far already shown.

#include "programming/run_table.h"

#include <QByteArray>

namespace norvak {

class SerialControl;

class ReceiveDispatcher final : private EchoBeforeTransition {
public:
    ReceiveDispatcher(MainWindow& window, SerialControl& comm, RunTable& table)
        : w_(window)
        , comm_(comm)
        , table_(table) {}

    void MSComm1_OnComm();

private:
    void reportErrorEvent();
    void drain();
    void echo(const QByteArray& ch);
    void showEchoSoFar() override;

    static constexpr qsizetype kEchoBlock = 64 * 1024;

    MainWindow& w_;
    SerialControl& comm_;
    RunTable& table_;
    QByteArray pendingEcho_; // handled, not yet in the log box; empty outside a drain
};

} // namespace norvak
