#include "mainwindow/precise_sleep.h"

#include <thread>

#if defined(__linux__)
#include <cerrno>
#include <ctime>
#include <sys/prctl.h>
#elif defined(_WIN32)
#include <windows.h>

#include <timeapi.h>
#endif

namespace norvak {

using Clock = std::chrono::steady_clock;

#if defined(__linux__)

namespace {

// The kernel may defer a wake-up by the thread's timer slack (50 µs by default) to batch it
// with others; the pause needs each wake-up as close to its deadline as possible.
void minimiseTimerSlack() {
    thread_local const bool done = [] {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        return true;
    }();
    (void)done;
}

timespec monotonicTimespec(Clock::time_point deadline) {
    // Counted from this moment on both clocks, so nothing assumes that steady_clock and
    // CLOCK_MONOTONIC share their epoch.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto remaining =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    const auto target =
        std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + remaining;
    const auto seconds = std::chrono::floor<std::chrono::seconds>(target);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((target - seconds).count())};
}

void sleepUntil(Clock::time_point deadline) {
    minimiseTimerSlack();
    if (Clock::now() >= deadline) {
        return;
    }
    const timespec target = monotonicTimespec(deadline);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

} // namespace

#elif defined(_WIN32)

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// One timer for the thread, closed when the thread ends.
class WaitableTimer {
public:
    WaitableTimer()
        : handle_(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                           TIMER_ALL_ACCESS)) {
        if (handle_ == nullptr) {
            // Before Windows 10 1803: a plain timer, with the system timer at 1 ms.
            handle_ = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
            raisedResolution_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
        }
    }
    ~WaitableTimer() {
        if (raisedResolution_) {
            ::timeEndPeriod(1);
        }
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
        }
    }
    WaitableTimer(const WaitableTimer&) = delete;
    WaitableTimer& operator=(const WaitableTimer&) = delete;

    // Waits about `duration`; false when no timer could be made.
    bool wait(std::chrono::nanoseconds duration) const {
        if (handle_ == nullptr) {
            return false;
        }
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>((duration.count() + 99) / 100); // relative, 100 ns
        if (!::SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) {
            return false;
        }
        return ::WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_ = nullptr;
    bool raisedResolution_ = false;
};

void sleepUntil(Clock::time_point deadline) {
    thread_local const WaitableTimer timer;
    // A timer may wake a little early by the clocks' differing ticks: wait again for the rest.
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        if (!timer.wait(deadline - now)) {
            std::this_thread::sleep_until(deadline);
            return;
        }
    }
}

} // namespace

#else

namespace {

void sleepUntil(Clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
}

} // namespace

#endif

void preciseSleepUntil(Clock::time_point deadline) {
    sleepUntil(deadline - spinMargin);
    // The system wakes a sleeping thread a tenth of a millisecond or more after its deadline,
    // and every such delay lengthens the pause. The last stretch is spent awake: it ends at
    // the deadline, never before. It does not yield the core: any thread that is ready, even
    // one at the lowest priority, could keep it for a whole time slice, milliseconds past the
    // deadline.
    while (Clock::now() < deadline) {
    }
}

} // namespace norvak
