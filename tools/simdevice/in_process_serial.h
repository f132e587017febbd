#pragma once

// A serial control whose port leads to an InProcessDevice in the same process: the window
// talks to the simulated boot program through the very interface it drives a real port by,
// on systems without pseudo-terminals (Windows) or where none is wanted.
//
// It behaves as MSComm does towards its caller: Output hands the bytes to the line at once
// and never blocks; the device's answers wait at the host's end once they are complete on
// the line; OnComm is raised by the receive pump (receive_pump.h) from the toolkit's timers
// on the interface thread, with the same threshold, batching and nesting rules; a line that
// goes is reported through OnPortLost, after the port was closed, once the host has read the
// last answer (or after half a second). Only its own port number opens; every other number
// fails as a port that is not there would. After a hang-up the port no longer opens.
//
// The device does nothing between the control's looks at it: a toolkit timer wakes the
// control when the device next has something to do (a byte complete, a timer of the
// firmware), and every member call brings the device up to the present first.

#include "tools/simdevice/in_process_device.h"

#include "link/control/receive_pump.h"
#include "link/control/serial_control.h"
#include "seam/toolkit.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

namespace norvak {

class InProcessSerial final : public SerialControl {
public:
    // How the port names the device in the operator's messages.
    static inline const QString devicePath = QStringLiteral("simulated device");
    static constexpr std::chrono::milliseconds kHangUpGrace{500};

    // `device` outlives the control, and no other control reaches it meanwhile; only port
    // number `port` reaches it.
    InProcessSerial(Toolkit& toolkit, InProcessDevice& device, std::int16_t port);
    ~InProcessSerial() override;
    InProcessSerial(const InProcessSerial&) = delete;
    InProcessSerial& operator=(const InProcessSerial&) = delete;

    void setCommPort(std::int16_t port) override;
    void setSettings(const QString& settings) override;
    void setRThreshold(std::int16_t count) override;
    void setInputLen(std::int16_t count) override;
    void setOutBufferSize(std::int16_t bytes) override;
    [[nodiscard]] bool PortOpen() const override { return open_ && !lost_; }
    void setPortOpen(bool open) override;
    void Output(QByteArrayView bytes) override;
    [[nodiscard]] std::int16_t InBufferCount() const override;
    [[nodiscard]] QByteArray Input() override;
    [[nodiscard]] std::int16_t CommEvent() const override { return commEvent_; }

private:
    [[nodiscard]] ReceiveLine receiveLine();
    // Brings the device up to now, takes what reached the host's end and wakes the control
    // again when the device next has something to do. Const: a look at the line as it stands
    // now, as MSComm asks the system.
    void catchUp() const;
    void noticeLineGone(InProcessDevice::TimePoint now) const;
    void armWake(InProcessDevice::TimePoint now) const;
    void reportLost();
    void requireOpen(const char* action) const;
    [[nodiscard]] qint64 waiting() const { return inbox_.size() - inboxAt_; }

    Toolkit& toolkit_;
    InProcessDevice& device_;
    const std::int16_t devicePort_;
    std::int16_t commPort_ = 1;
    QString settingsText_ = QStringLiteral("9600,n,8,1");
    std::int16_t inputLen_ = 0;
    std::int16_t commEvent_ = 0;
    bool open_ = false;
    quint64 inputTaken_ = 0;

    // The host's end of the line, brought up to date by every look (catchUp).
    mutable bool lost_ = false;
    mutable QString lostDescription_;
    mutable QByteArray inbox_; // read from inboxAt_
    mutable qsizetype inboxAt_ = 0;

    // Wake-up timers of falling length, the longest that does not overshoot is used: a quiet
    // device waits long, a byte due in a moment is looked at within a millisecond.
    static constexpr std::array<int, 6> kWakeSteps{256, 64, 16, 4, 2, 1};
    std::array<std::unique_ptr<Timer>, kWakeSteps.size()> wake_;
    std::unique_ptr<Timer> lostReport_;
    mutable ReceivePump pump_;
};

} // namespace norvak
