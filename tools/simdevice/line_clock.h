#pragma once

// Schedule of one direction of a serial line (internal to the simulated device).

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace norvak::detail {

// Byte k of a burst that started at base is complete at base + (k + 1) byte times. Times
// come from the byte count, so no rounding error adds up over long runs. Unpaced, every
// byte is due at once.
class LineClock {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int64_t bitsPerByte = 10; // start, 8 data, stop

    LineClock(std::uint32_t baudRate, bool paced)
        : baudRate_(baudRate)
        , paced_(paced) {}

    // Starts a burst at t, unless the previous one has not ended by then.
    void start(Clock::time_point t) noexcept {
        base_ = std::max(t, completionOf(-1));
        count_ = 0;
    }

    // When the k-th byte after those taken is complete.
    [[nodiscard]] Clock::time_point completionOf(std::int64_t k) const noexcept {
        return base_ + offset(count_ + k + 1);
    }
    [[nodiscard]] Clock::time_point next() const noexcept {
        return paced_ ? completionOf(0) : Clock::time_point::min();
    }

    // Bytes complete by now that have not been taken yet.
    [[nodiscard]] std::size_t due(Clock::time_point now) const noexcept {
        if (!paced_) {
            return std::numeric_limits<std::size_t>::max();
        }
        if (now < base_) {
            return 0;
        }
        // elapsed * baud / nanosPerByteAtOneBaud, split so that hours of traffic cannot overflow
        const std::int64_t elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - base_).count();
        std::int64_t complete = elapsed / nanosPerByteAtOneBaud * baudRate_ +
                                elapsed % nanosPerByteAtOneBaud * baudRate_ / nanosPerByteAtOneBaud;
        if (offset(complete + 1) <= std::chrono::nanoseconds(elapsed)) {
            ++complete; // agree with completionOf(), which rounds down
        }
        return complete > count_ ? static_cast<std::size_t>(complete - count_) : 0;
    }

    void advance(std::size_t n) noexcept { count_ += static_cast<std::int64_t>(n); }
    [[nodiscard]] bool paced() const noexcept { return paced_; }

private:
    static constexpr std::int64_t nanosPerByteAtOneBaud = bitsPerByte * 1'000'000'000;

    [[nodiscard]] std::chrono::nanoseconds offset(std::int64_t bytes) const noexcept {
        if (!paced_) {
            return std::chrono::nanoseconds::zero();
        }
        return std::chrono::nanoseconds(bytes / baudRate_ * nanosPerByteAtOneBaud +
                                        bytes % baudRate_ * nanosPerByteAtOneBaud / baudRate_);
    }

    std::int64_t baudRate_;
    bool paced_;
    Clock::time_point base_{};
    std::int64_t count_ = 0;
};

} // namespace norvak::detail
