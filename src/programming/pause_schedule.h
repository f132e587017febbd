#pragma once

// The deadlines of the pause after one streamed line. The pause is n steps (protocol::pauseStep),
// each followed by a yield to the event loop. It is counted from the moment the line's LF was
// written: step k ends no earlier than that moment + k steps, plus the time the handlers
// took in the yields before it. A sleep that woke late is not added to the next step's
// deadline, so late wake-ups do not add up over the steps; time spent in handlers is added,
// so no step is shortened to make up for a handler that ran long. The event loop's own look
// for events in a yield is no handler's time and, like a late wake-up, is not added. Each
// line starts its own schedule: nothing carries over from one pause to the next.

#include "protocol/boot_line.h"
#include "seam/toolkit.h"

namespace norvak {

class PauseSchedule {
public:
    static constexpr Milliseconds step = protocol::pauseStep;

    // `lineSent`: when the line's LF was written.
    explicit PauseSchedule(TimePoint lineSent)
        : deadline_(lineSent) {}

    // The deadline of the next step.
    [[nodiscard]] TimePoint nextStepEnd() {
        deadline_ += step;
        return deadline_;
    }

    // Handlers ran this long in the yield after a step: the next step ends that much later.
    void addHandlerTime(TimePoint::duration spent) {
        if (spent > TimePoint::duration::zero()) {
            deadline_ += spent;
        }
    }

private:
    TimePoint deadline_;
};

} // namespace norvak
