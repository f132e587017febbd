#pragma once

// The operator's numbers of a run: the speed list's pauses, the countdown to power-cycle the
// device, and the intervals of the run's timers.

#include "protocol/boot_line.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace norvak::protocol {

// The speed list: item k pauses k + 1 steps after each line, and its text starts with that
// pause in milliseconds. The middle item is selected when the window opens.
inline constexpr int speedItemCount = 5;
inline constexpr int normalSpeedItem = 2;

// Steps of the pause after each line for the speed item `item`; -1 (no item) pauses none.
[[nodiscard]] constexpr int pauseStepsOf(int item) {
    return item + 1;
}

[[nodiscard]] constexpr std::chrono::milliseconds pauseOf(int item) {
    return pauseStep * pauseStepsOf(item);
}

// Every item's pause in milliseconds, in the list's order.
inline constexpr std::array<int, speedItemCount> speedItemMilliseconds = [] {
    std::array<int, speedItemCount> pauses{};
    for (int item = 0; item < speedItemCount; ++item) {
        pauses[static_cast<std::size_t>(item)] = static_cast<int>(pauseOf(item).count());
    }
    return pauses;
}();

// The seconds the operator has to switch the device off and on after START (and again after
// the boot program's answer); the countdown's timer ticks once a second.
inline constexpr std::int32_t secondsToRestart = 60;

// The run's timers.
inline constexpr std::chrono::milliseconds wakeUpInterval{5};         // "i" while waiting
inline constexpr std::chrono::milliseconds countdownInterval{1000};   // one second a tick
inline constexpr std::chrono::milliseconds readyRequestDelay{333};    // ">" to "f"
inline constexpr std::chrono::milliseconds fileSenderDelay{1000};     // "_" to the first line
inline constexpr std::chrono::milliseconds dotWatchdogInterval{3000}; // longest wait for "."
// A port lost while waiting for the boot program: how often the run looks whether it is back.
inline constexpr std::chrono::milliseconds portWatchInterval{100};

} // namespace norvak::protocol
