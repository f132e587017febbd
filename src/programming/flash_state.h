#pragma once

#include <cstdint>

namespace norvak {

// The state of a programming run. Stored as a 32-bit value; no other value ever occurs.
enum class FlashState : std::int32_t {
    Idle = 0,
    WaitingForBoot = 1,  // sending "i", waiting for the boot program's ">"
    WaitingForReady = 2, // "f" sent or about to be, waiting for "_"
    Sending = 3,         // the file is streamed; "." per line, "P" at the end
};

} // namespace norvak
