#pragma once

// What a simulated device is configured with and what it records, wherever it runs: behind a
// pseudo-terminal (simdevice.h) or behind a serial control in the host's own process
// (in_process_device.h). Nothing here depends on the operating system.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvak {

using SimClock = std::chrono::steady_clock;

// What the boot program sends after the end record's dot.
inline constexpr std::string_view simProgrammedMessage =
    "Programmed successfully! Restarting device....\r\n";

// Random bytes the device puts on the line by itself, as a poisson process.
struct SimNoise {
    double bytesPerSecond = 100.0;
    std::size_t count = 0; // bytes in total; 0 = no end
};

struct SimDeviceConfig {
    // The device's own numbers and characters, not the host's src/protocol/: the simulated
    // device is what the host's are checked against.
    std::uint32_t baudRate = 57600;
    bool paced = true; // false: bytes pass as fast as the pseudo-terminal allows
    std::optional<std::chrono::milliseconds> autoPowerCycleAfter; // none: only by powerCycle()
    // Set: the automatic power cycle switches the device's own USB-serial adapter off too; the
    // port goes away for this long and comes back as a new pseudo-terminal (linkPath follows).
    std::optional<std::chrono::milliseconds> powerCycleRemovesPortFor;
    std::chrono::microseconds programmingTime{0}; // per accepted line
    std::size_t receiveBufferSize = 256;
    std::string linkPath;   // if set, a symlink to the slave, replaced if it is a symlink already
    std::uint32_t seed = 1; // for noise, garbage and floods
    // Polls the line without ever sleeping, at the cost of a core: no byte then waits for the
    // device's thread to be woken, which on some machines takes milliseconds (benchmarks).
    bool busyPoll = false;

    // Fault modes.
    bool silent = false;                   // never answers anything, yet takes and programs lines
    std::optional<int> dotsStopAfterLine;  // lines after this one get no dot
    std::chrono::microseconds slowDots{0}; // extra delay before every dot
    std::optional<int> hangUpAfterLine;    // closes the line once this line is answered
    std::optional<SimNoise> noise;
    bool garbagePrompt = false; // answers "i" with a random byte other than ">"
};

enum class SimMode { Application, BootCommand, BootReceiving, HungUp };

struct SimLine {
    int number = 0; // 1-based within the file, empty lines included
    std::string text;
    SimClock::time_point at; // when its LF arrived
};

struct SimProgrammedFile {
    int lines = 0;       // lines answered with a dot, the end record included
    int dataRecords = 0; // S1/S2/S3
    std::size_t dataBytes = 0;
    int rejectedLines = 0;
    std::size_t lostBytes = 0;
    SimClock::time_point started;  // when "f" arrived
    SimClock::time_point finished; // when the end record's dot was due
};

struct SimRecording {
    SimMode mode = SimMode::Application;
    std::string received;                         // every byte taken off the line, in every mode
    std::vector<SimClock::time_point> receivedAt; // arrival time of each byte of received
    std::string sent;                             // every byte put on the line
    std::vector<SimClock::time_point> sentAt;     // when each byte of sent was complete
    std::vector<SimLine> acceptedLines;
    std::vector<SimLine> rejectedLines;
    std::vector<SimClock::time_point> dots; // when each "." went onto the line
    std::size_t lostBytes = 0;
    int powerCycles = 0;
    std::vector<SimProgrammedFile> programmedFiles;
};

} // namespace norvak
