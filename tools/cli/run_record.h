#pragma once

// The run report of `program --report FILE`: one JSON object on one line for every run,
// however it ended, so that a production line keeps a record of each device it programmed.
// The pieces are gathered as the run goes: the firmware and the adapter before it, what the
// device answered while it goes on (RunTally), the outcome at its end.

#include "seam/main_window.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace norvak::cli {

class NamedFile;

// The firmware file as the run found it; the numbers are empty when it could not be read.
struct FirmwareFacts {
    QString path;
    std::optional<qint64> size;
    QString sha256;              // lower-case hex; empty when unknown
    std::optional<qint64> lines; // as the window's streamer counts them
};

// Reads the file `file` opens (twice: the digest, then its lines as the streamer reads them).
// `path` is what the record names.
[[nodiscard]] FirmwareFacts firmwareFacts(const QString& path, const NamedFile& file);

// What the system knows of the USB adapter behind a serial device; empty where it knows
// nothing (a built-in UART, a pseudo-terminal).
struct AdapterFacts {
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    QString serialNumber;
    QString systemLocation;
};

// The adapter of the port Qt Serial Port lists at `devicePath`, also when the path is a link
// to it (/dev/serial/by-id/...).
[[nodiscard]] AdapterFacts adapterFacts(const QString& devicePath);

// Counts what went out and what the device answered, each received byte under the run's state
// at the moment the window takes it, as the run table reads it: "." while the file is sent,
// ">" while waiting for the boot program, "_" while waiting for the file's turn.
class RunTally {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit RunTally(Clock clock = &std::chrono::steady_clock::now);

    // START PROGRAMMING was pressed.
    void startPressed();
    // Bytes the window took with one Input, under `state` as it was before they were handled.
    void received(QByteArrayView bytes, FlashState state);
    // Bytes the system accepted from the window: each LF ends a line of the file.
    void sent(QByteArrayView bytes);
    // The run's outcome is known; the first call counts.
    void ended();

    [[nodiscard]] qint64 linesSent() const { return linesSent_; }
    [[nodiscard]] qint64 dotsReceived() const { return dotsReceived_; }
    // From START PROGRAMMING to the boot program's ">"; empty when it never came.
    [[nodiscard]] std::optional<qint64> startToBootMs() const;
    // From the boot program's "_" to the run's end; empty when "_" never came.
    [[nodiscard]] std::optional<qint64> readyToEndMs() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    [[nodiscard]] static std::optional<qint64> millisecondsBetween(std::optional<TimePoint> from,
                                                                   std::optional<TimePoint> to);

    Clock clock_;
    qint64 linesSent_ = 0;
    qint64 dotsReceived_ = 0;
    std::optional<TimePoint> started_;
    std::optional<TimePoint> bootAnswered_;
    std::optional<TimePoint> readyForFile_;
    std::optional<TimePoint> ended_;
};

struct RunRecord {
    QDateTime startedAt;
    QDateTime endedAt;
    QString host;
    std::optional<int> port; // --port as given
    QString device;          // --device as given
    QString usb;             // --usb as given
    QString devicePath;      // the device the port reached; empty when none
    AdapterFacts adapter;
    FirmwareFacts firmware;
    int speedMs = 0;
    QString outcome;
    int exitStatus = 0;
    QString description;
    qint64 linesSent = 0;
    qint64 dotsReceived = 0;
    std::optional<qint64> startToBootMs;
    std::optional<qint64> readyToEndMs;
    QString version;
};

// The record as one compact JSON object and its LF: unknown values are null, times ISO 8601
// in UTC with milliseconds, USB ids four lower-case hex digits as `ports` shows them.
[[nodiscard]] QByteArray recordLine(const RunRecord& record);

// "2026-12-08T20:05:00.123Z"
[[nodiscard]] QString isoUtc(const QDateTime& time);

} // namespace norvak::cli
