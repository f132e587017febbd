#pragma once

// A device with a serial boot program behind a pseudo-terminal.
//
// The device runs on its own thread, so a program under test in the same process may block
// its own thread while it talks to slavePath(). Bytes travel at the pace of the configured
// line, 10 bits per byte (a tenth of the baud in bytes/s each way): the device takes bytes off the
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
//  - A power cycle that removes the port (powerCycleRemovingPort) is a device that powers its
//    own USB-serial adapter: the pseudo-terminal closes at once as in a hang-up, the link
//    path goes away, and after the given time a new pseudo-terminal (another slavePath())
//    appears behind the same link path with the boot program running.
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

#include "tools/simdevice/sim_types.h"
#include "tools/simdevice/srecord.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace norvak {

class SimDevice {
public:
    static constexpr std::string_view programmedMessage = simProgrammedMessage;

    // Throws std::system_error if no pseudo-terminal or link can be made.
    explicit SimDevice(SimDeviceConfig config = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    SimDevice(SimDevice&&) = delete;
    SimDevice& operator=(SimDevice&&) = delete;

    // The path a host opens (e.g. /dev/pts/7); another one after powerCycleRemovingPort.
    [[nodiscard]] std::string slavePath() const;
    [[nodiscard]] const SimDeviceConfig& config() const noexcept;

    void powerCycle();
    // The port goes away with the power and is back, a new pseudo-terminal, after `gone`.
    void powerCycleRemovingPort(std::chrono::milliseconds gone);
    // True while the port is away after powerCycleRemovingPort.
    [[nodiscard]] bool portAway() const;
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
