#pragma once

// The serial communications control over QSerialPort.
//
// Events this control raises on Linux: receive events only (CommEvent 2), plus the
// lost-port callback (OnPortLost, once per opening, after the port was closed). Qt 6 reports
// no break, framing, parity or overrun conditions (on Linux nor elsewhere), so the error
// events above 1000 are never raised.
//
// Everything runs on the interface thread. OnComm is raised from the event loop (a queued
// check after Qt's readyRead, or the end of the gap below), never from inside readyRead
// itself: Qt announces no further bytes while one of its readyRead emissions is still on
// the stack, and a handler raised from there would hear of nothing more until it returned.
// A handler that returns while RThreshold bytes still wait, having taken some or with more
// come meanwhile, is followed by another check, so no received byte stays unannounced; a
// handler that leaves bytes alone is raised again when more arrive. OnComm is never raised
// from inside another member call (Output, Input, InBufferCount).
//
// Receive events nest. A handler that yields to the event loop, or shows a modal box, while
// it runs (the window's handler yields once at its end; the file streamer and the boxes run
// inside that yield) hears of bytes that arrive meanwhile through a nested OnComm, so that
// each byte is handled once, in arrival order, under the state the byte before left. Only
// one handler reads at a time: a handler reads until it finds the buffer empty and does not
// yield while it reads, so the nested one starts where the outer one stopped.
//
// The nesting is bounded by kMaxReceiveNesting. A nested event needs a handler suspended in
// a yield for a whole kReceiveEventGap (a handler's own closing yield passes in well under a
// millisecond, so a stream does not chain handlers through their closing yields); the chains
// that occur are a handler's yield running the file streamer, whose yields run a handler
// that shows a box or whose yield starts the next thing: three or four levels. The bound
// keeps the stack finite should every yield last a whole gap (a machine too slow to paint);
// each level holds a few kilobytes of stack. At the bound no event is raised: the bytes wait
// until one of the handlers returns, or until the drain loop of an outer handler that has
// not read yet (one showing the error box before its drain) takes them.
//
// While bytes keep coming, receive events are at least kReceiveEventGap apart (one frame of
// a 60 Hz screen): a byte on a quiet line is announced at once, a stream in batches. A
// full-rate line thus costs the handler, and the repaint that follows it, about 60 runs a
// second instead of one per delivery of the system (about a thousand a second from a USB
// adapter or a pseudo-terminal). Within the gap Qt does not read either: the bytes wait in
// the system, which holds a pseudo-terminal's or a USB adapter's sender back and takes far
// more than a gap's worth from a serial line.
//
// Input with InputLen 1 costs no allocation: bytes are fetched from Qt in blocks and each one
// is handed out as a view of a constant table. InBufferCount asks the system only when no
// fetched byte is left, so that a drain loop asking before every byte makes no system call
// for it.
//
// Pseudo-terminals keep 8 data bits without parity: opening one with other settings fails.

#include "link/control/port_mapping.h"
#include "link/control/serial_control.h"
#include "link/control/serial_settings.h"

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

    // Bytes waiting: those fetched from the system, or, when none are left, those the system
    // holds. 0 while closed. Input fails while closed.
    [[nodiscard]] std::int16_t InBufferCount() const override;
    [[nodiscard]] QByteArray Input() override;
    [[nodiscard]] std::int16_t CommEvent() const override { return commEvent_; }

    // The device path last opened or tried.
    [[nodiscard]] QString devicePath() const { return devicePath_; }

    static constexpr qint64 kMaxPendingBytes = 4096;
    static constexpr int kStallTimeoutMs = 5000;
    static constexpr std::chrono::milliseconds kReceiveEventGap{16};
    // Receive handlers running inside one another at most (see above).
    static constexpr int kMaxReceiveNesting = 8;
    // Bytes moved from Qt's buffer into the control's at a time.
    static constexpr qsizetype kFetchBlock = 64 * 1024;

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
    // Bytes fetched from the system and not yet taken by Input.
    [[nodiscard]] qint64 fetchedBytes() const;
    // Makes sure a fetched byte waits, fetching from Qt and the system; false if none came.
    [[nodiscard]] bool fetchBlock();
    void dropFetched();

    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    [[nodiscard]] bool lineIsGone(QSerialPort::SerialPortError error) const;
    void markLost(const QString& systemMessage);
    void throwIfLost() const;

    void raiseReceiveIfDue();
    void scheduleReceiveCheck();
    // True when the last receive event is too recent; the check is then made again later.
    [[nodiscard]] bool deferReceiveEvent();
    // Within the gap between receive events Qt leaves the bytes with the system.
    void holdBytesInSystem(bool hold);

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
    int raiseDepth_ = 0;       // OnComm handlers running inside one another
    quint64 inputTaken_ = 0;   // bytes Input has returned since the control was made
    bool checkQueued_ = false; // a queued receive check is pending
    bool lost_ = false;        // the line is gone; the queued report closes the port
    QString lostDescription_;
    QElapsedTimer lastReceiveEvent_; // invalid until the first event of an opening
    QTimer receiveGapTimer_;         // single shot: the end of the gap
    QByteArray fetched_;             // a block taken from Qt's buffer, read from fetchedAt_
    qsizetype fetchedAt_ = 0;

    // Last member: destroyed first, which drops its connections and queued calls.
    QSerialPort port_;
};

} // namespace norvak
