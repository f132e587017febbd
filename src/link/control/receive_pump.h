#pragma once

// When the serial control raises its receive events (OnComm), from the toolkit's timers and
// clock. It sees the port only through ReceiveLine.
//
// OnComm is raised from the event loop (a check on the next event-loop pass after Qt's
// readyRead, or the end of the gap below), never from inside readyRead itself: Qt announces
// no further bytes while one of its readyRead emissions is still on the stack, and a handler
// raised from there would hear of nothing more until it returned. A handler that returns
// while RThreshold bytes still wait, having taken some or with more come meanwhile, is
// followed by another check, so no received byte stays unannounced; a handler that leaves
// bytes alone is raised again when more arrive. OnComm is never raised from inside another
// member call (Output, Input, InBufferCount): only the pump's own timers raise.
//
// Receive events nest. A handler that yields to the event loop, or shows a modal box, while
// it runs (the window's handler yields once at its end; the file streamer and the boxes run
// inside that yield) hears of bytes that arrive meanwhile through a nested OnComm, so that
// each byte is handled once, in arrival order, under the state the byte before left. Only
// one handler reads at a time: a handler reads until it finds the buffer empty and does not
// yield while it reads, so the nested one starts where the outer one stopped.
//
// The nesting is bounded by kMaxReceiveNesting. A nested event needs a handler suspended in
// a yield for a whole kReceiveEventGap (a handler's own closing yield passes in well under a
// millisecond, so a stream does not chain handlers through their closing yields); the chains
// that occur are a handler's yield running the file streamer, whose yields run a handler
// that shows a box or whose yield starts the next thing: three or four levels. The bound
// keeps the stack finite should every yield last a whole gap (a machine too slow to paint);
// each level holds a few kilobytes of stack. At the bound no event is raised: the bytes wait
// until one of the handlers returns, or until the drain loop of an outer handler that has
// not read yet (one showing the error box before its drain) takes them.
//
// While bytes keep coming, receive events are at least kReceiveEventGap apart (one frame of
// a 60 Hz screen): a byte on a quiet line is announced at once, a stream in batches. A
// full-rate line thus costs the handler, and the repaint that follows it, about 60 runs a
// second instead of one per delivery of the system (about a thousand a second from a USB
// adapter or a pseudo-terminal). Within the gap Qt does not read either: the bytes wait in
// the system, which holds a pseudo-terminal's or a USB adapter's sender back and takes far
// more than a gap's worth from a serial line.
//
// Nothing of an earlier opening acts after the port was opened or closed again: reset()
// stops the pending check and the gap.

#include "seam/toolkit.h"

#include <QtGlobal>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace norvak {

// What the pump asks of the port, and how it raises an event.
struct ReceiveLine {
    // The port is open and a handler is there to raise.
    std::function<bool()> canRaise;
    // Bytes waiting to be read, wherever they wait; 0 while closed.
    std::function<qint64()> waitingBytes;
    // Bytes Input has handed out since the control was made.
    std::function<quint64()> bytesTaken;
    // Within the gap after an event Qt leaves the bytes with the system.
    std::function<void(bool hold)> holdBytesInSystem;
    // Sets CommEvent and calls the handler.
    std::function<void()> raise;
};

class ReceivePump {
public:
    static constexpr std::chrono::milliseconds kReceiveEventGap{16};
    // Receive handlers running inside one another at most (see above).
    static constexpr int kMaxReceiveNesting = 8;

    ReceivePump(Toolkit& toolkit, ReceiveLine line);

    // Events are raised while at least `count` bytes wait; none while it is 0.
    void setThreshold(std::int16_t count) { threshold_ = count; }

    // The port was opened or closed: the rules start afresh.
    void reset();
    // Qt has read bytes from the system (its readyRead).
    void bytesArrived();
    // Looks on the next event-loop pass whether an event is due.
    void checkSoon();

private:
    void raiseIfDue();
    // True within the gap after the last event; the end of the gap then checks again.
    [[nodiscard]] bool deferWithinGap();
    void raise(qint64 waitingBefore);
    void checkAgainIfBytesWait(qint64 waitingBefore, quint64 takenBefore);
    void startGap();
    void endGap();

    ReceiveLine line_;
    Toolkit& toolkit_;
    std::unique_ptr<Timer> check_;       // 0 ms: ticks on the next event-loop pass
    std::unique_ptr<Timer> gap_;         // enabled at each event, ticks when its gap ends
    std::optional<TimePoint> lastEvent_; // while the gap after it lasts
    std::int16_t threshold_ = 0;
    int depth_ = 0;         // handlers running inside one another
    bool deferred_ = false; // an event fell due within the gap; its bytes wait in the system
    quint64 resets_ = 0;    // so that a handler's return after a reset schedules nothing
};

} // namespace norvak
