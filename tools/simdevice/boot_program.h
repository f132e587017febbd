#pragma once

// The simulated device's firmware (internal): its application and its serial boot program,
// driven by the bytes it receives and by time. It records into a SimRecording and talks
// through a DevicePort; the caller serialises all calls.

#include "tools/simdevice/sim_types.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace norvak::detail {

// What the firmware sees of the hardware around it.
class DevicePort {
public:
    virtual void send(std::string_view bytes, SimClock::time_point at, bool dot) = 0;
    virtual void dropUnsent() = 0;     // a reset empties the transmitter
    virtual void hangUpWhenSent() = 0; // the line goes once the last answer is out
    virtual char randomByte() = 0;
    // The power goes with the port: the line closes now and a new one appears `gone` later,
    // when the boot program is powered on again. False where the port cannot go away.
    virtual bool removeLineFor(std::chrono::milliseconds gone) {
        static_cast<void>(gone);
        return false;
    }

protected:
    DevicePort() = default;
    ~DevicePort() = default;
    DevicePort(const DevicePort&) = default;
    DevicePort& operator=(const DevicePort&) = default;
};

class BootProgram {
public:
    BootProgram(const SimDeviceConfig& config, SimRecording& recording, DevicePort& port);

    // A byte off the line at time at; the caller has run the timers due before it.
    void take(char byte, SimClock::time_point at);
    void powerCycle();
    void lineGone();
    // Power back on after a power cycle that took the line with it: the boot program runs.
    void poweredOnWithNewLine();

    [[nodiscard]] std::optional<SimClock::time_point> nextTimer() const;
    void runTimer(); // the one nextTimer() names

private:
    // The boot program starts from nothing: power came on.
    void reset();
    struct BufferedByte {
        char value;
        bool afterLoss; // the receiver dropped bytes just before this one
    };
    struct PendingLine {
        int number = 0;
        bool endRecord = false;
    };

    void answerPrompt(SimClock::time_point at);
    void startReceiving(SimClock::time_point at);
    void receiveWhileBusy(char byte);
    void takeLineByte(char byte, bool afterLoss, SimClock::time_point at);
    void completeLine(SimClock::time_point at);
    void finishLine(SimClock::time_point at);
    void finishFile(SimClock::time_point at);
    void drainBuffer(SimClock::time_point at);
    void answer(std::string_view bytes, SimClock::time_point at, bool dot = false);

    const SimDeviceConfig& config_;
    SimRecording& rec_;
    DevicePort& port_;

    std::optional<SimClock::time_point> powerCycleAt_;
    std::optional<SimClock::time_point> busyUntil_; // programming pending_
    PendingLine pending_;
    std::deque<BufferedByte> buffer_;
    bool overrun_ = false;
    std::string line_;
    bool lineDamaged_ = false;
    int lineNumber_ = 0;
    SimProgrammedFile file_;
};

} // namespace norvak::detail
