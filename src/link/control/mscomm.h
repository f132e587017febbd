#pragma once

// The serial communications control over QSerialPort.
//
// Events this control raises on Linux: receive events only (CommEvent 2), plus the
// lost-port callback (OnPortLost, once per opening, after the port was closed). Qt 6 reports
// no break, framing, parity or overrun conditions (on Linux nor elsewhere), so the error
// events above 1000 are never raised.
//
// Everything runs on the interface thread. When receive events are raised, how they nest and
// how a stream is batched is the receive pump's part (receive_pump.h); what only the
// operating system can tell about the line is in line_watch.h, one file per platform; the
// texts for the operator are in open_failure_text.h.
//
// Input with InputLen 1 costs no allocation: bytes are fetched from Qt in blocks and each one
// is handed out as a view of a constant table. InBufferCount asks the system only when no
// fetched byte is left, so that a drain loop asking before every byte makes no system call
// for it.
//
// Opening claims the device for this program first (port_claim.h): a second opening, by any
// name and by any user, is refused with the holder named where the system tells.
//
// Pseudo-terminals keep 8 data bits without parity: opening one with other settings fails.

#include "link/control/open_failure_text.h"
#include "link/control/port_claim.h"
#include "link/control/port_mapping.h"
#include "link/control/receive_pump.h"
#include "link/control/serial_control.h"
#include "link/control/serial_settings.h"
#include "seam/toolkit.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

namespace norvak {

class MSComm final : public SerialControl {
public:
    explicit MSComm(Toolkit& toolkit, PortCandidates candidates = defaultPortCandidates());
    ~MSComm() override;

    // Only while closed. Numbers below 1 fail.
    void setCommPort(std::int16_t port) override;
    [[nodiscard]] std::int16_t CommPort() const { return commPort_; }

    // Applied at once while open.
    void setSettings(const QString& settings) override;
    [[nodiscard]] QString Settings() const { return settingsText_; }

    void setRThreshold(std::int16_t count) override;
    void setInputLen(std::int16_t count) override;
    // Checked, and otherwise without effect: writes are never split or delayed by a buffer size.
    void setOutBufferSize(std::int16_t bytes) override;

    [[nodiscard]] bool PortOpen() const override;
    // Opening uses CommPort and Settings, without flow control. Closing hands the system what
    // it still takes at once; bytes a stalled line never took are dropped.
    void setPortOpen(bool open) override;

    // Writes and flushes to the system at once. Blocks only while more than
    // kMaxPendingBytes wait for a slow line; fails after kStallTimeout without progress.
    void Output(QByteArrayView bytes) override;

    // Bytes waiting: those fetched from the system, or, when none are left, those the system
    // holds. 0 while closed. Input fails while closed.
    [[nodiscard]] std::int16_t InBufferCount() const override;
    [[nodiscard]] QByteArray Input() override;
    [[nodiscard]] std::int16_t CommEvent() const override { return commEvent_; }

    // The device path last opened or tried, as the port mapping gave it.
    [[nodiscard]] QString devicePath() const { return devicePath_; }

    static constexpr qint64 kMaxPendingBytes = 4096;
    static constexpr int kStallTimeoutMs = 5000;
    static constexpr std::chrono::milliseconds kReceiveEventGap = ReceivePump::kReceiveEventGap;
    // Receive handlers running inside one another at most (see receive_pump.h).
    static constexpr int kMaxReceiveNesting = ReceivePump::kMaxReceiveNesting;
    // Bytes moved from Qt's buffer into the control's at a time.
    static constexpr qsizetype kFetchBlock = 64 * 1024;

private:
    [[nodiscard]] ReceiveLine receiveLine();
    void open();
    void close();
    void closePort();
    [[nodiscard]] QString describeFailedOpen(const QString& path, const QString& device) const;
    [[nodiscard]] QString findDevice();
    void setLine(const SerialSettings& settings);
    void applySettings(const SerialSettings& settings, const QString& text);
    void requireOpen(const char* action) const;

    void flushToSystem();
    void waitUntilDrained();
    // Bytes waiting, fetched or held by the system; 0 while closed.
    [[nodiscard]] qint64 waitingBytes() const;
    // Bytes fetched from the system and not yet taken by Input.
    [[nodiscard]] qint64 fetchedBytes() const;
    // Makes sure a fetched byte waits, fetching from Qt and the system; false if none came.
    [[nodiscard]] bool fetchBlock();
    void dropFetched();
    [[nodiscard]] QByteArray inputOneByte();
    [[nodiscard]] QByteArray inputUpTo(qint64 wanted);
    // Within the gap between receive events Qt leaves the bytes with the system.
    void holdBytesInSystem(bool hold);

    void onError(QSerialPort::SerialPortError error);
    void markLost(const QString& systemMessage);
    void reportLost(quint64 opening, const QString& description);
    void throwIfLost() const;

    PortCandidates candidates_;
    std::int16_t commPort_ = 1;
    QString settingsText_ = QStringLiteral("9600,n,8,1");
    SerialSettings settings_;
    std::int16_t inputLen_ = 0;
    std::int16_t commEvent_ = 0;
    QString devicePath_;

    // Counts openings, so that a queued report of an earlier opening does nothing.
    quint64 opening_ = 0;
    quint64 inputTaken_ = 0; // bytes Input has returned since the control was made
    bool lost_ = false;      // the line is gone; the queued report closes the port
    QString lostDescription_;
    QByteArray fetched_; // a block taken from Qt's buffer, read from fetchedAt_
    qsizetype fetchedAt_ = 0;
    ReceivePump pump_;
    // Held while the port is open; released after Qt has closed it.
    PortClaim claim_;

    // Last member: destroyed first, which drops its connections and queued calls.
    QSerialPort port_;
};

} // namespace norvak
