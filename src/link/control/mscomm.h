#pragma once

// The serial communications control over QSerialPort.
//
// Events this control raises on Linux: receive events only (CommEvent 2), plus the
// lost-port callback (OnPortLost, once per opening, after the port was closed). Qt 6 reports
// no break, framing, parity or overrun conditions (on Linux nor elsewhere), so the error
// events above 1000 are never raised.
//
// Everything runs on the interface thread. OnComm is raised from QSerialPort::readyRead, and
// again through a queued call when a handler returns while RThreshold bytes still wait and it
// took some or more came meanwhile, so no received byte stays unannounced; a handler that
// leaves bytes alone is raised again when more arrive. OnComm is never raised from inside
// another member call (Output, Input, InBufferCount) nor from inside itself.
//
// While bytes keep coming, receive events are at least kReceiveEventGap apart (one frame of
// a 60 Hz screen): a byte on a quiet line is announced at once, a stream in batches. A
// full-rate line thus costs the handler, and the repaint that follows it, about 60 runs a
// second instead of one per delivery of the system (about a thousand a second from a USB
// adapter or a pseudo-terminal).
//
// Pseudo-terminals keep 8 data bits without parity: opening one with other settings fails.

#include "link/control/port_mapping.h"
#include "link/control/serial_settings.h"
#include "link/serial_control.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>

namespace norvak {

// Why an open failed, as the operator needs to hear it.
enum class OpenFailure { NotFound, PermissionDenied, InUse, UnsupportedSettings, Other };

// Qt reports a lock held by another program like a permission problem; only a path we may
// read and write tells it apart.
[[nodiscard]] OpenFailure classifyOpenFailure(QSerialPort::SerialPortError error,
                                              bool pathAccessible);

// "Port 1 (/dev/ttyUSB0): permission denied ..." with what to do about it.
[[nodiscard]] QString describeOpenFailure(int port, const QString& path, OpenFailure failure,
                                          const QString& systemMessage,
                                          const QString& settings = {});

// "Port 7: no serial port found (tried /dev/ttyUSB6, /dev/ttyACM6, /dev/ttyS6)".
[[nodiscard]] QString describeNoPortFound(int port, const QStringList& tried);

class MSComm final : public SerialControl {
public:
    explicit MSComm(PortCandidates candidates = defaultPortCandidates());
    ~MSComm() override;

    // Only while closed. Numbers below 1 fail.
    void setCommPort(std::int16_t port) override;
    [[nodiscard]] std::int16_t CommPort() const { return commPort_; }

    // Applied at once while open.
    void setSettings(const QString& settings) override;
    [[nodiscard]] QString Settings() const { return settingsText_; }

    void setRThreshold(std::int16_t count) override;
    [[nodiscard]] std::int16_t RThreshold() const { return rThreshold_; }
    void setInputLen(std::int16_t count) override;
    [[nodiscard]] std::int16_t InputLen() const { return inputLen_; }
    // Kept for the caller; writes are never split or delayed by it.
    void setOutBufferSize(std::int16_t bytes) override;
    [[nodiscard]] std::int16_t OutBufferSize() const { return outBufferSize_; }

    [[nodiscard]] bool PortOpen() const override;
    // Opening uses CommPort and Settings, without flow control. Closing hands the system what
    // it still takes at once; bytes a stalled line never took are dropped.
    void setPortOpen(bool open) override;

    // Writes and flushes to the system at once. Blocks only while more than
    // kMaxPendingBytes wait for a slow line; fails after kStallTimeout without progress.
    void Output(QByteArrayView bytes) override;

    // Bytes waiting, including those the system holds but Qt has not fetched yet.
    // 0 while closed. Input fails while closed.
    [[nodiscard]] std::int16_t InBufferCount() const override;
    [[nodiscard]] QByteArray Input() override;
    [[nodiscard]] std::int16_t CommEvent() const override { return commEvent_; }

    // The device path last opened or tried.
    [[nodiscard]] QString devicePath() const { return devicePath_; }

    static constexpr qint64 kMaxPendingBytes = 4096;
    static constexpr int kStallTimeoutMs = 5000;
    static constexpr std::chrono::milliseconds kReceiveEventGap{16};

private:
    void open();
    void close();
    [[nodiscard]] QString findDevice();
    void applySettings(const SerialSettings& settings, const QString& text);
    void requireOpen(const char* action) const;

    void flushToSystem();
    void waitUntilDrained();
    [[nodiscard]] qint64 waitingBytes() const;
    [[nodiscard]] qint64 bytesHeldBySystem() const;

    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    [[nodiscard]] bool lineIsGone(QSerialPort::SerialPortError error) const;
    void markLost(const QString& systemMessage);
    void throwIfLost() const;

    void raiseReceiveIfDue();
    void scheduleReceiveCheck();
    // True when the last receive event is too recent; the check is then made again later.
    [[nodiscard]] bool deferReceiveEvent();

    PortCandidates candidates_;
    std::int16_t commPort_ = 1;
    QString settingsText_ = QStringLiteral("9600,n,8,1");
    SerialSettings settings_;
    std::int16_t rThreshold_ = 0;
    std::int16_t inputLen_ = 0;
    std::int16_t outBufferSize_ = 512;
    std::int16_t commEvent_ = 0;
    QString devicePath_;

    // Counts openings, so that queued work of an earlier opening does nothing.
    quint64 opening_ = 0;
    bool raising_ = false;         // OnComm is running
    qint64 consumedInHandler_ = 0; // bytes Input returned while OnComm runs
    bool checkQueued_ = false;     // a queued receive check is pending
    int syncDepth_ = 0;            // inside Output/Input: readyRead must not raise OnComm
    bool lost_ = false;            // the line is gone; the queued report closes the port
    QString lostDescription_;
    QElapsedTimer lastReceiveEvent_; // invalid until the first event of an opening
    QTimer receiveGapTimer_;         // single shot: the end of the gap

    // Last member: destroyed first, which drops its connections and queued calls.
    QSerialPort port_;
};

} // namespace norvak
