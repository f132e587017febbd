#include "programming/receive_dispatcher.h"

#include "link/control/serial_control.h"
#include "seam/failure_handling.h"

namespace norvak {

void ReceiveDispatcher::MSComm1_OnComm() {
    // Any failure abandons the rest of this event silently; what was done stays (the
    // characters handled are shown), and those not yet read wait for the next event.
    const bool drained = droppingFailure([this] {
        if (comm_.CommEvent() > 1000) {
            reportErrorEvent();
        }
        drain();
    });
    showEchoSoFar();
    if (drained) {
        w_.toolkit().yield();
    }
}

void ReceiveDispatcher::reportErrorEvent() {
    w_.showMessageBox(QStringLiteral("COM error ") + QString::number(comm_.CommEvent()),
                      MessageIcon::None);
}

void ReceiveDispatcher::drain() {
    // Until the buffer is found empty, also while more keeps arriving. The state is read
    // anew for every character: the one before may have changed it.
    do {
        if (comm_.InBufferCount() > 0) {
            const QByteArray ch = comm_.Input();
            table_.characterReceived(ch, *this);
            echo(ch);
        }
    } while (comm_.InBufferCount() != 0);
}

void ReceiveDispatcher::echo(const QByteArray& ch) {
    pendingEcho_.append(ch);
    if (pendingEcho_.size() >= kEchoBlock) {
        showEchoSoFar();
    }
}

void ReceiveDispatcher::showEchoSoFar() {
    if (pendingEcho_.isEmpty()) {
        return;
    }
    // Each byte is shown as the character with that code; nothing is filtered.
    const QString text = QString::fromLatin1(pendingEcho_);
    pendingEcho_.resize(0); // keeps its capacity for the next drain
    w_.logAppendAtEnd(text);
}

} // namespace norvak
