#pragma once

// Sleeping until a deadline on the monotonic clock, as precisely as the platform allows: the
// pause after each streamed line is the device's only flow control, so a sleep must never end
// early and should end as soon after its deadline as the system can wake the thread.
//
// Linux: clock_nanosleep on CLOCK_MONOTONIC with an absolute deadline, with the thread's timer
// slack set to its minimum. Windows: a high-resolution waitable timer, or the 1 ms system timer
// resolution where such timers are missing. Elsewhere: std::this_thread::sleep_until. On every
// platform the sleep ends `spinMargin` early and the thread waits out the rest awake.

#include <chrono>

namespace norvak {

inline constexpr std::chrono::microseconds spinMargin{250};

// Returns once std::chrono::steady_clock has reached `deadline` (at once if it has passed).
void preciseSleepUntil(std::chrono::steady_clock::time_point deadline);

} // namespace norvak
