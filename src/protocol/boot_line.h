#pragma once

// The line to the device's boot program and what travels on it. Every room and tool that
// speaks to the boot program takes its numbers and characters from here.

#include <chrono>
#include <cstdint>

namespace norvak::protocol {

// The line runs at one fixed rate with no parity, 8 data bits and 1 stop bit, whatever the
// window's speed box says.
inline constexpr std::int32_t baudRate = 57600;
// The serial control's settings text after the rate.
inline constexpr char settingsAfterRate[] = ",n,8,1";
// What one character takes on the line: its start bit, 8 data bits and the stop bit.
inline constexpr int bitsPerCharacter = 10;

// Host to device.
inline constexpr char wakeUp = 'i';       // sent until the boot program answers
inline constexpr char readyRequest = 'f'; // asks the boot program to get ready for the file
inline constexpr char gCommand = 'g';     // the hidden g button's command character
inline constexpr char lineEnd = '\n';     // after each line of the file

// Device to host.
inline constexpr char bootPrompt = '>';   // the boot program has started
inline constexpr char readyForFile = '_'; // the file may come
inline constexpr char lineAccepted = '.'; // a line is programmed
inline constexpr char programmed = 'P';   // the whole file is programmed

// The pause after each line is the device's only flow control: a whole number of these
// steps, never shorter.
inline constexpr std::chrono::milliseconds pauseStep{20};

} // namespace norvak::protocol
