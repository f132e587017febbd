#pragma once

// A toolkit on a virtual clock for tests: timers tick when the test advances the clock (a
// 61-second countdown runs in microseconds), the sleep moves the clock on to its deadline
// without running anything, a yield runs whatever is due, and message boxes and file dialogs are
// answered by the test.

#include "seam/toolkit.h"

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace norvak::test {

class VirtualToolkit final : public Toolkit {
public:
    VirtualToolkit() = default;
    ~VirtualToolkit() override;
    VirtualToolkit(const VirtualToolkit&) = delete;
    VirtualToolkit& operator=(const VirtualToolkit&) = delete;

    [[nodiscard]] std::unique_ptr<Timer> makeTimer(Milliseconds interval) override;
    void sleepUntil(TimePoint deadline) override;
    TimePoint::duration yield() override;
    void showMessage(const MessageBoxRequest& request) override;
    [[nodiscard]] QString showOpenDialog(const OpenDialogRequest& request) override;
    [[nodiscard]] QString timeOfDayText() override;
    [[nodiscard]] TimePoint monotonicNow() override { return TimePoint{} + now_; }

    // Virtual time since the toolkit was made.
    [[nodiscard]] Milliseconds now() const { return now_; }
    // Runs every tick and posted call that falls due up to now + duration, in time order.
    void advance(Milliseconds duration);
    // A handler keeps the thread busy this long: the clock moves on, nothing else runs.
    void busy(Milliseconds duration);
    // Runs what is due now (posted calls, ticks whose time has come).
    void runDue();
    // Queues a call as the event loop would deliver it: at the next yield or advance.
    void post(std::function<void()> call);
    // Runs `call` once `delay` has passed from now, in time order with the timers' ticks (for
    // example a device answer that arrives while the streamer is pausing).
    void after(Milliseconds delay, std::function<void()> call);

    // Every message box shown, in order. `onMessage` runs while a box is "open": a test can
    // advance the clock there to let events arrive under the modal box.
    std::vector<MessageBoxRequest> messages;
    std::function<void(const MessageBoxRequest&)> onMessage;

    // Answers for the file dialog, in order; std::nullopt is a Cancel. With no answer left the
    // dialog is cancelled.
    std::deque<std::optional<QString>> dialogAnswers;
    std::vector<OpenDialogRequest> dialogs;

    int yieldCount = 0;
    std::vector<Milliseconds> sleeps; // how long each sleep held the thread
    Milliseconds wakeUpLate{0};       // each sleep wakes this long after its deadline
    Milliseconds yieldLooksFor{0};    // each yield spends this long before it runs a handler

    class VirtualTimer;

private:
    void runUntil(Milliseconds target);
    // Runs the earliest thing due at or before `limit`; false when nothing is due.
    bool runNext(Milliseconds limit);

    Milliseconds now_{0};
    std::vector<VirtualTimer*> timers_; // not owned: each timer removes itself when destroyed
    std::deque<std::function<void()>> posted_;
    struct Scheduled {
        Milliseconds due;
        std::uint64_t sequence;
        std::function<void()> call;
    };
    std::vector<Scheduled> scheduled_;
    std::uint64_t enableSequence_ = 0;
};

} // namespace norvak::test
