#include "tests/support/virtual_toolkit.h"

#include <QTime>

#include <algorithm>

namespace norvak::test {

class VirtualToolkit::VirtualTimer final : public Timer {
public:
    VirtualTimer(VirtualToolkit& toolkit, Milliseconds interval)
        : toolkit_(toolkit)
        , interval_(interval) {
        toolkit_.timers_.push_back(this);
    }
    ~VirtualTimer() override { std::erase(toolkit_.timers_, this); }
    VirtualTimer(const VirtualTimer&) = delete;
    VirtualTimer& operator=(const VirtualTimer&) = delete;

    void setEnabled(bool on) override {
        if (on && !enabled_) {
            due_ = toolkit_.now_ + interval_;
            sequence_ = ++toolkit_.enableSequence_;
        }
        enabled_ = on;
    }
    [[nodiscard]] bool isEnabled() const override { return enabled_; }
    [[nodiscard]] Milliseconds interval() const override { return interval_; }

    [[nodiscard]] Milliseconds due() const { return due_; }
    [[nodiscard]] std::uint64_t sequence() const { return sequence_; }

    void fire() {
        // Like a precise Qt timer: the next tick is one interval on; missed ticks are dropped.
        due_ += interval_;
        if (due_ <= toolkit_.now_) {
            due_ = toolkit_.now_ + interval_;
        }
        fireTick();
    }

private:
    VirtualToolkit& toolkit_;
    Milliseconds interval_;
    Milliseconds due_{0};
    std::uint64_t sequence_ = 0;
    bool enabled_ = false;
};

VirtualToolkit::~VirtualToolkit() = default;

std::unique_ptr<Timer> VirtualToolkit::makeTimer(Milliseconds interval) {
    return std::make_unique<VirtualTimer>(*this, interval);
}

void VirtualToolkit::sleepUntil(TimePoint deadline) {
    const auto target = std::chrono::duration_cast<Milliseconds>(deadline - TimePoint{});
    const Milliseconds duration = std::max(target - now_, Milliseconds::zero()) + wakeUpLate;
    sleeps.push_back(duration);
    now_ += duration;
}

void VirtualToolkit::busy(Milliseconds duration) {
    now_ += duration;
}

TimePoint::duration VirtualToolkit::yield() {
    ++yieldCount;
    now_ += yieldLooksFor; // the event loop's own look for events: no handler runs meanwhile
    const Milliseconds handlersFrom = now_;
    runDue();
    return now_ - handlersFrom;
}

void VirtualToolkit::showMessage(const MessageBoxRequest& request) {
    messages.push_back(request);
    if (onMessage) {
        onMessage(request);
    }
}

QString VirtualToolkit::showOpenDialog(const OpenDialogRequest& request) {
    dialogs.push_back(request);
    if (dialogAnswers.empty()) {
        return request.previousPath;
    }
    const std::optional<QString> answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer.value_or(request.previousPath);
}

QString VirtualToolkit::timeOfDayText() {
    return QTime(12, 0)
        .addMSecs(static_cast<int>(now_.count() % 86'400'000))
        .toString(QStringLiteral("HH:mm:ss"));
}

void VirtualToolkit::advance(Milliseconds duration) {
    runUntil(now_ + duration);
}

void VirtualToolkit::runDue() {
    runUntil(now_);
}

void VirtualToolkit::post(std::function<void()> call) {
    posted_.push_back(std::move(call));
}

void VirtualToolkit::after(Milliseconds delay, std::function<void()> call) {
    scheduled_.push_back({now_ + delay, ++enableSequence_, std::move(call)});
}

void VirtualToolkit::runUntil(Milliseconds target) {
    while (runNext(target)) {
    }
    now_ = std::max(now_, target);
}

bool VirtualToolkit::runNext(Milliseconds limit) {
    // Posted calls are due at once; among timers the earliest, then the first enabled.
    if (!posted_.empty()) {
        const auto call = std::move(posted_.front());
        posted_.pop_front();
        call();
        return true;
    }
    VirtualTimer* next = nullptr;
    for (VirtualTimer* timer : timers_) {
        if (!timer->isEnabled() || timer->due() > std::max(limit, now_)) {
            continue;
        }
        if (next == nullptr || timer->due() < next->due() ||
            (timer->due() == next->due() && timer->sequence() < next->sequence())) {
            next = timer;
        }
    }
    const auto firstScheduled = std::min_element(
        scheduled_.begin(), scheduled_.end(), [](const Scheduled& a, const Scheduled& b) {
            return a.due < b.due || (a.due == b.due && a.sequence < b.sequence);
        });
    const bool scheduledIsDue =
        firstScheduled != scheduled_.end() && firstScheduled->due <= std::max(limit, now_);
    const bool scheduledFirst =
        scheduledIsDue &&
        (next == nullptr || firstScheduled->due < next->due() ||
         (firstScheduled->due == next->due() && firstScheduled->sequence < next->sequence()));
    if (scheduledFirst) {
        now_ = std::max(now_, firstScheduled->due);
        const auto call = std::move(firstScheduled->call);
        scheduled_.erase(firstScheduled);
        call();
        return true;
    }
    if (next == nullptr) {
        return false;
    }
    now_ = std::max(now_, next->due());
    next->fire();
    return true;
}

} // namespace norvak::test
