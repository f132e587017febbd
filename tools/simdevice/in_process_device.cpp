#include "tools/simdevice/in_process_device.h"

#include "tools/simdevice/boot_program.h"
#include "tools/simdevice/line_clock.h"

#include <algorithm>
#include <deque>
#include <random>
#include <stdexcept>
#include <utility>

namespace norvak {
namespace {

using TimePoint = InProcessDevice::TimePoint;
using detail::BootProgram;
using detail::LineClock;

struct TxByte {
    char value;
    bool dot;
};

} // namespace

// The cable in both directions and the firmware at its far end. Every step runs in the order
// things happened on the line, so that a timer (a power cycle dropping unsent answers, the
// end of programming) sees the line as it stood at its own moment.
struct InProcessDevice::Impl final : detail::DevicePort {
    explicit Impl(SimDeviceConfig cfg)
        : config(std::move(cfg))
        , rxClock(config.baudRate, config.paced)
        , txClock(config.baudRate, config.paced)
        , rng(config.seed) {
        if (config.baudRate == 0) {
            throw std::invalid_argument("baud rate must not be zero");
        }
    }

    void advance(TimePoint now);
    void receiveUntil(TimePoint now);
    void runTimersUntil(TimePoint until);
    void transmitUntil(TimePoint now);
    void closeLine(TimePoint at);
    [[nodiscard]] std::optional<TimePoint> nextEvent() const;

    // DevicePort
    void send(std::string_view bytes, TimePoint at, bool dot) override;
    void dropUnsent() override {
        txQueue.clear();
        hangUpPending = false;
    }
    void hangUpWhenSent() override { hangUpPending = true; }
    char randomByte() override { return static_cast<char>(byteValues(rng)); }

    const SimDeviceConfig config;
    SimRecording rec;
    std::vector<SimHostWrite> hostWrites;
    BootProgram program{config, rec, *this};

    LineClock rxClock;
    LineClock txClock;
    std::deque<char> cable; // from the host, not yet taken by the device
    std::deque<TxByte> txQueue;
    std::string delivered; // complete at the host's end, not yet taken by it
    TimePoint now{};       // the moment the device has been brought up to
    TimePoint acting{};    // the moment of the byte or timer the firmware is handling
    bool hangUpPending = false;
    std::optional<TimePoint> goneAt;

    std::mt19937 rng;
    std::uniform_int_distribution<int> byteValues{0, 255};
};

void InProcessDevice::Impl::advance(TimePoint until) {
    now = std::max(now, until);
    if (goneAt) {
        return;
    }
    receiveUntil(now);
    runTimersUntil(now);
    transmitUntil(now);
}

void InProcessDevice::Impl::receiveUntil(TimePoint until) {
    const std::size_t due = std::min(rxClock.due(until), cable.size());
    for (std::size_t i = 0; i < due && !goneAt; ++i) {
        const TimePoint at = rxClock.paced() ? rxClock.completionOf(0) : until;
        runTimersUntil(at);
        transmitUntil(at);
        if (goneAt) {
            return;
        }
        acting = at;
        program.take(cable.front(), at);
        cable.pop_front();
        rxClock.advance(1);
    }
}

void InProcessDevice::Impl::runTimersUntil(TimePoint until) {
    for (auto next = program.nextTimer(); next && *next <= until && !goneAt;
         next = program.nextTimer()) {
        transmitUntil(*next);
        acting = *next;
        program.runTimer();
    }
}

void InProcessDevice::Impl::transmitUntil(TimePoint until) {
    const std::size_t due = std::min(txClock.due(until), txQueue.size());
    for (std::size_t i = 0; i < due; ++i) {
        const TimePoint at = txClock.paced() ? txClock.completionOf(0) : until;
        const TxByte byte = txQueue.front();
        txQueue.pop_front();
        txClock.advance(1);
        rec.sent += byte.value;
        rec.sentAt.push_back(at);
        delivered += byte.value;
        if (byte.dot) {
            rec.dots.push_back(at);
        }
    }
    if (hangUpPending && txQueue.empty() && !goneAt) {
        // The line goes once its last answer is complete, or when asked if nothing was left.
        closeLine(std::max(acting, txClock.paced() ? txClock.completionOf(-1) : until));
    }
}

void InProcessDevice::Impl::send(std::string_view bytes, TimePoint at, bool dot) {
    if (goneAt) {
        return;
    }
    if (txQueue.empty()) {
        txClock.start(at);
    }
    for (const char b : bytes) {
        txQueue.push_back({b, dot});
    }
}

void InProcessDevice::Impl::closeLine(TimePoint at) {
    dropUnsent();
    cable.clear();
    goneAt = at;
    program.lineGone();
}

std::optional<TimePoint> InProcessDevice::Impl::nextEvent() const {
    if (goneAt) {
        return std::nullopt;
    }
    std::optional<TimePoint> next = program.nextTimer();
    const auto consider = [&next](TimePoint t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (!cable.empty()) {
        consider(rxClock.paced() ? rxClock.completionOf(0) : now);
    }
    if (!txQueue.empty()) {
        consider(txClock.paced() ? txClock.completionOf(0) : now);
    }
    return next;
}

InProcessDevice::InProcessDevice(SimDeviceConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

InProcessDevice::~InProcessDevice() = default;

const SimDeviceConfig& InProcessDevice::config() const noexcept {
    return impl_->config;
}

void InProcessDevice::hostSends(std::string_view bytes, TimePoint now) {
    impl_->advance(now);
    if (impl_->goneAt || bytes.empty()) {
        return;
    }
    impl_->hostWrites.push_back({impl_->now, std::string(bytes)});
    if (impl_->cable.empty()) {
        impl_->rxClock.start(impl_->now);
    }
    impl_->cable.insert(impl_->cable.end(), bytes.begin(), bytes.end());
}

void InProcessDevice::advance(TimePoint now) {
    impl_->advance(now);
}

std::string InProcessDevice::takeDelivered() {
    return std::exchange(impl_->delivered, {});
}

std::optional<InProcessDevice::TimePoint> InProcessDevice::nextEvent() const {
    return impl_->nextEvent();
}

std::optional<InProcessDevice::TimePoint> InProcessDevice::lineGoneAt() const {
    return impl_->goneAt;
}

void InProcessDevice::powerCycle(TimePoint now) {
    impl_->advance(now);
    impl_->acting = impl_->now;
    impl_->program.powerCycle();
    if (onChangedFromOutside) {
        onChangedFromOutside();
    }
}

void InProcessDevice::hangUp(TimePoint now) {
    impl_->advance(now);
    if (!impl_->goneAt) {
        impl_->closeLine(impl_->now);
    }
    if (onChangedFromOutside) {
        onChangedFromOutside();
    }
}

const SimRecording& InProcessDevice::recording() const {
    return impl_->rec;
}

const std::vector<SimHostWrite>& InProcessDevice::hostWrites() const {
    return impl_->hostWrites;
}

SimRecording InProcessDevice::takeRecording() {
    impl_->hostWrites.clear();
    SimRecording taken = std::exchange(impl_->rec, SimRecording{});
    impl_->rec.mode = taken.mode;
    return taken;
}

} // namespace norvak
