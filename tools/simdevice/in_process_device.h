#pragma once

// The simulated device without a pseudo-terminal: the same boot program, configuration and
// recording as SimDevice, with the cable between it and the host modelled in the host's own
// process. The serial control in in_process_serial.h is its host end.
//
// Nothing runs by itself: the caller brings the device up to a moment with advance(), and
// the device works out what happened on the line until then. Times come from the line's own
// schedule, 10 bits per byte at the configured baud (a tenth of it in bytes/s each way),
// and not from when advance() is called, so a host that looks late sees every byte stamped
// with the moment it was complete on the line. Bytes the host sends are on the cable from
// the moment they are handed over; the device takes them one byte time apart.
//
// Behaviour as SimDevice's (simdevice.h), apart from what the pseudo-terminal brings:
// no noise, floods or raw sends. A hang-up (hangUpAfterLine, hangUp()) ends the line once
// the last answer is out; the host end decides when its port notices.
//
// Not thread-safe: the host end and the caller use it from one thread, the interface thread.

#include "tools/simdevice/sim_types.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvak {

// Bytes the host handed to the line in one call, and when: what the host's own clock saw,
// before the line's pace delays them.
struct SimHostWrite {
    SimClock::time_point at;
    std::string bytes;
};

class InProcessDevice {
public:
    using TimePoint = SimClock::time_point;

    // Throws std::invalid_argument for a baud rate of 0.
    explicit InProcessDevice(SimDeviceConfig config = {});
    ~InProcessDevice();
    InProcessDevice(const InProcessDevice&) = delete;
    InProcessDevice& operator=(const InProcessDevice&) = delete;
    InProcessDevice(InProcessDevice&&) = delete;
    InProcessDevice& operator=(InProcessDevice&&) = delete;

    [[nodiscard]] const SimDeviceConfig& config() const noexcept;

    // --- The host's end of the cable ---
    // The host hands bytes to the line at `now`; once the line has gone they vanish.
    void hostSends(std::string_view bytes, TimePoint now);
    // Everything on the line up to `now`: bytes reach the device, its timers run, its answers
    // reach the host's end. `now` never goes back.
    void advance(TimePoint now);
    // The answers that have reached the host's end since the last call, in order.
    [[nodiscard]] std::string takeDelivered();
    // When advance() next has something to do; none while the line is quiet.
    [[nodiscard]] std::optional<TimePoint> nextEvent() const;
    // When the line went (a hang-up); none while it is there.
    [[nodiscard]] std::optional<TimePoint> lineGoneAt() const;

    // Called after powerCycle() and hangUp(), so that the host's end looks at the line again.
    std::function<void()> onChangedFromOutside;

    // --- The device's side, as SimDevice's ---
    void powerCycle(TimePoint now);
    void hangUp(TimePoint now); // at once, as if the adapter were pulled
    [[nodiscard]] const SimRecording& recording() const;
    // Every hand-over by the host since the recording began.
    [[nodiscard]] const std::vector<SimHostWrite>& hostWrites() const;
    // Returns the recording and starts a new one (the mode carries over); the host's
    // hand-overs start afresh too.
    SimRecording takeRecording();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace norvak
