#pragma once

// A device with a serial boot program behind a pseudo-terminal.
//
// The device runs on its own thread, so a program under test in the same process may block
// its own thread while it talks to slavePath(). Bytes travel at the pace of the configured
// line, 10 bits per byte (57600 baud: 5760 bytes/s each way): the device takes bytes off the
// line no faster than that and sends no faster either. All members are thread-safe.
//
// Behaviour:
//  - At start the device runs its application: it records what it receives and answers
//    nothing until it is power-cycled (powerCycle(), or autoPowerCycleAfter the first "i").
//  - The boot program answers every "i" with ">" and "f" with "_", then takes LF-terminated
//    lines (a CR before the LF is dropped). A good S-record gets "." once it is programmed
//    (programmingTime after its LF); a damaged one, or one longer than 1024 characters, gets
//    "\r\nE: bad line N\r\n" at once and no dot. Lines are numbered from 1 after "f".
//    An empty line counts as accepted and gets "." without programming time: the host sends
//    a lone LF for an empty line of its file and would otherwise wait for a dot that never
//    comes.
//  - After the dot of the end record (S7/S8/S9) it sends programmedMessage and runs its
//    application again.
//  - Bytes that arrive while a line is being programmed wait in a receive buffer of
//    receiveBufferSize bytes; beyond that they are lost, and the line they belong to is
//    damaged (the receiver's overrun mark travels with the next byte kept).
//  - A power cycle resets the boot program and drops any output not yet on the line.
//  - A hang-up closes the pseudo-terminal: the host's port reports an error and slavePath()
//    goes away (its number may soon serve another pseudo-terminal). A planned hang-up
//    (hangUpAfterLine) first lets the host read the last answer, for up to half a second.
//
// Typical use in a test:
//     SimDeviceConfig config;
//     config.autoPowerCycleAfter = std::chrono::milliseconds(500);
//     SimDevice device(config);
//     ... open device.slavePath() and program a file ...
//     QVERIFY(device.waitForProgrammed(std::chrono::seconds(30)));
//     const SimRecording rec = device.recording();

#include "srecord.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvak {

using SimClock = std::chrono::steady_clock;

// Random bytes the device puts on the line by itself, as a poisson process.
struct SimNoise {
    double bytesPerSecond = 100.0;
    std::size_t count = 0; // bytes in total; 0 = no end
};

struct SimDeviceConfig {
    std::uint32_t baudRate = 57600;
    bool paced = true; // false: bytes pass as fast as the pseudo-terminal allows
    std::optional<std::chrono::milliseconds> autoPowerCycleAfter; // none: only by powerCycle()
    std::chrono::microseconds programmingTime{0};                 // per accepted line
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
    std::vector<SimLine> acceptedLines;
    std::vector<SimLine> rejectedLines;
    std::vector<SimClock::time_point> dots; // when each "." went onto the line
    std::size_t lostBytes = 0;
    int powerCycles = 0;
    std::vector<SimProgrammedFile> programmedFiles;
};

class SimDevice {
public:
    static constexpr std::string_view programmedMessage =
        "Programmed successfully! Restarting device....\r\n";

    // Throws std::system_error if no pseudo-terminal or link can be made.
    explicit SimDevice(SimDeviceConfig config = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    SimDevice(SimDevice&&) = delete;
    SimDevice& operator=(SimDevice&&) = delete;

    // The path a host opens (e.g. /dev/pts/7).
    [[nodiscard]] const std::string& slavePath() const noexcept;
    [[nodiscard]] const SimDeviceConfig& config() const noexcept;

    void powerCycle();
    void hangUp();                        // closes the line at once, as if the adapter were pulled
    void sendRaw(std::string_view bytes); // queued behind the device's own output
    void flood(std::size_t count);        // random bytes 0..255 at full line rate
    // Lines of printable text, each ending in CR LF, at bytesPerSecond (as a chatty
    // application or a debug print would send them), count bytes in all, beside the device's
    // own answers, which stay in order with it. The text holds none of the protocol's
    // characters (">", "_", ".", "P"), so that it moves no programming run. The line's own
    // pace still applies: run unpaced for more than the baud rate allows.
    void textFlood(double bytesPerSecond, std::size_t count);

    [[nodiscard]] SimRecording recording() const;
    // Returns the recording and starts a new one (the mode carries over), so that a device
    // that runs for long does not keep all its traffic.
    SimRecording takeRecording();

    // Waits until predicate holds for the recording. The predicate runs with the device
    // paused and must not call back into it.
    bool waitFor(const std::function<bool(const SimRecording&)>& predicate,
                 std::chrono::milliseconds timeout) const;
    bool waitForProgrammed(std::chrono::milliseconds timeout, std::size_t files = 1) const;
    bool waitForMode(SimMode mode, std::chrono::milliseconds timeout) const;
    bool waitForReceived(std::size_t bytes, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace norvak
