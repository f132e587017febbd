#pragma once

// What the process and its threads cost: CPU time and resident memory, as Linux reports them.

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace norvak::bench {

// CPU time of the calling thread (CLOCK_THREAD_CPUTIME_ID).
[[nodiscard]] std::chrono::nanoseconds threadCpuTime();
// CPU time of the whole process, user and system, all threads (getrusage).
[[nodiscard]] std::chrono::nanoseconds processCpuTime();
// The process's threads, by their kernel ids.
[[nodiscard]] std::vector<long> threadIds();
// CPU time of one of the process's threads, user and system, in clock ticks (10 ms) from
// /proc; nothing if the thread is gone.
[[nodiscard]] std::optional<std::chrono::nanoseconds> threadCpuTime(long threadId);

// A "kB" field of /proc/self/status ("VmRSS", "VmHWM"), in bytes.
[[nodiscard]] std::optional<double> statusBytes(std::string_view field);
// Sets the peak resident size (VmHWM) back to the current one; false if the kernel refused.
[[nodiscard]] bool resetPeakResident();

} // namespace norvak::bench
