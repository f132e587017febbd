#include "link/control/receive_pump.h"

#include <QScopedValueRollback>

#include <utility>

namespace norvak {

ReceivePump::ReceivePump(Toolkit& toolkit, ReceiveLine line)
    : line_(std::move(line))
    , toolkit_(toolkit)
    , check_(toolkit.makeTimer(Milliseconds{0}))
    , gap_(toolkit.makeTimer(kReceiveEventGap)) {
    check_->onTick([this] {
        check_->setEnabled(false);
        raiseIfDue();
    });
    gap_->onTick([this] { endGap(); });
}

void ReceivePump::reset() {
    ++resets_;
    check_->setEnabled(false);
    gap_->setEnabled(false);
    lastEvent_.reset();
    deferred_ = false;
    line_.holdBytesInSystem(false);
}

void ReceivePump::bytesArrived() {
    // Within a gap in which an event fell due, the end of the gap makes the check: a stream
    // delivered a few bytes at a time then costs no more than Qt's own read. Otherwise the
    // check runs from the event loop, outside Qt's readyRead.
    if (deferred_) {
        return;
    }
    checkSoon();
}

void ReceivePump::checkSoon() {
    check_->setEnabled(true); // a check already pending stays the one check
}

void ReceivePump::raiseIfDue() {
    if (depth_ >= kMaxReceiveNesting || threshold_ <= 0 || !line_.canRaise()) {
        return; // at the bound, the check after a returning handler announces what waits
    }
    const qint64 before = line_.waitingBytes();
    if (before < threshold_ || deferWithinGap()) {
        return;
    }
    raise(before);
}

bool ReceivePump::deferWithinGap() {
    if (!lastEvent_ || toolkit_.monotonicNow() - *lastEvent_ >= kReceiveEventGap) {
        return false;
    }
    if (!deferred_) {
        deferred_ = true;
        line_.holdBytesInSystem(true);
    }
    return true;
}

void ReceivePump::raise(qint64 waitingBefore) {
    // Raised from a check just before the end of the gap: the handler reads at once.
    startGap();
    line_.holdBytesInSystem(false);
    const quint64 takenBefore = line_.bytesTaken();
    const quint64 resetsBefore = resets_;
    {
        const QScopedValueRollback depth(depth_, depth_ + 1);
        line_.raise();
    }
    if (resets_ == resetsBefore) {
        checkAgainIfBytesWait(waitingBefore, takenBefore);
    }
}

void ReceivePump::checkAgainIfBytesWait(qint64 waitingBefore, quint64 takenBefore) {
    const qint64 after = line_.waitingBytes();
    const auto taken = static_cast<qint64>(line_.bytesTaken() - takenBefore);
    const qint64 arrived = after - waitingBefore + taken;
    // Bytes may have come that no nested event announced (the nesting bound), and a handler
    // limited by InputLen may leave some behind. A handler that took nothing while nothing
    // new came has seen what waits: raising again would only spin.
    if (after >= threshold_ && threshold_ > 0 && (arrived > 0 || taken > 0)) {
        checkSoon();
    }
}

void ReceivePump::startGap() {
    // The gap timer ticks one whole gap after it is enabled: enabled again, it measures the
    // gap from this event.
    lastEvent_ = toolkit_.monotonicNow();
    deferred_ = false;
    gap_->setEnabled(false);
    gap_->setEnabled(true);
}

void ReceivePump::endGap() {
    gap_->setEnabled(false);
    lastEvent_.reset();
    if (!std::exchange(deferred_, false)) {
        return; // nothing fell due within the gap
    }
    line_.holdBytesInSystem(false);
    raiseIfDue();
}

} // namespace norvak
