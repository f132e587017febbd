#include "programming/firmware_streamer.h"

#include "link/control/serial_control.h"
#include "link/serial_link.h"
#include "mainwindow/interface/failure_handling.h"
#include "programming/line_reader.h"
#include "programming/pause_schedule.h"
#include "programming/progress_text.h"
#include "programming/run_table.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace norvak {

QString whyFileNotOpened(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("no such file");
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission to read it");
    case EISDIR:
        return QStringLiteral("is a folder, not a file");
    default:
        return qt_error_string(error);
    }
}

namespace {

#ifdef Q_OS_UNIX

// Opened without blocking, so that a pipe or a device put in the file's place cannot hold the
// window, and kept only when it is a regular file.
int openRegularFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw FirmwareFileError(whyFileNotOpened(errno));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const bool folder = S_ISDIR(status.st_mode);
        ::close(fd);
        throw FirmwareFileError(folder ? QStringLiteral("is a folder, not a file")
                                       : QStringLiteral("not a regular file"));
    }
    // A regular file never blocks; reads go on as for any file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

#endif

} // namespace

std::unique_ptr<QFile> openFirmwareFile(const QString& path) {
    if (path.isEmpty()) {
        throw FirmwareFileError(QStringLiteral("no firmware file chosen"));
    }
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    const int fd = openRegularFile(path);
    if (!file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw FirmwareFileError(file->errorString());
    }
#else
    // A FIFO or a device would block or never end; a folder has no lines.
    if (const QFileInfo info(path); !info.isFile()) {
        throw FirmwareFileError(!info.exists() ? QStringLiteral("no such file")
                                : info.isDir() ? QStringLiteral("is a folder, not a file")
                                               : QStringLiteral("not a regular file"));
    }
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        throw FirmwareFileError(file->errorString());
    }
#endif
    if (file->isSequential()) {
        throw FirmwareFileError(QStringLiteral("not a regular file"));
    }
    return file;
}

void FirmwareStreamer::btnopenFile_Click() {
    dialogFileName_ = w_.showOpenDialog(dialogTitle, dialogFilter, dialogFileName_);
    if (dialogFileName_.isEmpty()) {
        return;
    }
    w_.shared().fileName = dialogFileName_;
    w_.showFileName(dialogFileName_);
    table_.fileChosen();
}

void FirmwareStreamer::TimerSendFile_Timer() {
    w_.timer(TimerRole::FileSender).setEnabled(false);
    // Two runs never interleave their lines: a start during a run is ignored.
    if (running_) {
        return;
    }
    running_ = true;
    runStreamer();
    running_ = false;
}

void FirmwareStreamer::runStreamer() {
    // Failures are dropped, and the file is closed by its owner on every way out. A write
    // refused while the port is still open means the line is gone: that is reported as a lost
    // port. A port the operator closed stays silent. A file that cannot be opened or read ends
    // the run with its reason, not three seconds later as the device's fault.
    std::optional<QString> lineGone;
    std::optional<QString> fileUnreadable;
    StreamEnd end = StreamEnd::Interrupted;
    // Both openings happen before the first yield: the run keeps the file it opened, even if
    // the operator chooses another one meanwhile.
    const QString path = w_.shared().fileName;
    const std::uint64_t run = w_.shared().programmingRun;
    droppingFailure([&] {
        reportingFailure<SerialError>(
            [&] {
                reportingFailure<FirmwareFileError>(
                    [&] { end = stream(path); },
                    [&fileUnreadable](const QString& why) { fileUnreadable = why; });
            },
            [this, &lineGone](const QString& description) {
                if (comm_.PortOpen()) {
                    lineGone = description;
                }
            });
    });
    // A run begun meanwhile is not this file's to end.
    if (fileUnreadable && w_.shared().programmingRun == run && !w_.isClosing()) {
        table_.firmwareUnreadable(path, *fileUnreadable);
        return;
    }
    if (end == StreamEnd::Interrupted) {
        table_.streamerFailed();
    }
    if (lineGone) {
        table_.portLost(*lineGone);
    }
}

FirmwareStreamer::StreamEnd FirmwareStreamer::stream(const QString& path) {
    const qint64 lineTotal = countLines(path);
    return sendLines(path, lineTotal);
}

qint64 FirmwareStreamer::countLines(const QString& path) {
    const auto file = openFirmwareFile(path);
    LineReader reader(*file, [&file] { return file->size(); });
    qint64 total = 0;
    while (reader.hasLine()) {
        ++total;
        reader.skipLine();
    }
    return total;
}

FirmwareStreamer::StreamEnd FirmwareStreamer::sendLines(const QString& path, qint64 lineTotal) {
    const auto file = openFirmwareFile(path);
    LineReader reader(*file, [&file] { return file->size(); });
    const std::uint64_t run = w_.shared().programmingRun;
    const auto newRunBegun = [this, run] {
        return w_.shared().programmingRun != run;
    };
    for (qint64 lineNumber = 1; reader.hasLine(); ++lineNumber) {
        // A run begun during the last yield owns the line now: not one more byte of this file.
        if (newRunBegun()) {
            return StreamEnd::AsTheRunDecided;
        }
        reader.readLine([this](QByteArrayView piece) { comm_.Output(piece); });
        comm_.Output("\n");
        if (pauseAfterLine(w_.toolkit().monotonicNow()) != AfterYield::CarryOn ||
            yieldToEvents() != AfterYield::CarryOn) {
            return StreamEnd::Interrupted;
        }
        showProgress(lineNumber, lineTotal);
        // Ended, or ended and another run begun: its state is not ours to end.
        if (table_.state() == FlashState::Idle || newRunBegun()) {
            return StreamEnd::AsTheRunDecided;
        }
        if (yieldToEvents() != AfterYield::CarryOn) {
            return StreamEnd::Interrupted;
        }
    }
    return StreamEnd::AsTheRunDecided;
}

FirmwareStreamer::AfterYield FirmwareStreamer::pauseAfterLine(TimePoint lineSent) {
    // Read for every line: a new choice in the speed list counts from the next pause.
    const int steps = w_.speedListIndex() + 1;
    Toolkit& toolkit = w_.toolkit();
    PauseSchedule schedule(lineSent);
    for (int i = 0; i < steps; ++i) {
        toolkit.sleepUntil(schedule.nextStepEnd());
        const TimePoint::duration handlersRan = toolkit.yield();
        if (const AfterYield after = whatTheYieldLeft(); after != AfterYield::CarryOn) {
            return after;
        }
        schedule.addHandlerTime(handlersRan);
    }
    return AfterYield::CarryOn;
}

void FirmwareStreamer::showProgress(qint64 lineNumber, qint64 lineTotal) {
    w_.shared().progressPercent = progressPercent(lineNumber, lineTotal);
    w_.setStatusCaption(QStringLiteral(", progress: ") + progressText(w_.shared().progressPercent) +
                        QStringLiteral("%"));
}

FirmwareStreamer::AfterYield FirmwareStreamer::yieldToEvents() {
    w_.toolkit().yield();
    return whatTheYieldLeft();
}

FirmwareStreamer::AfterYield FirmwareStreamer::whatTheYieldLeft() const {
    // The lost port's report stays in the caption: no progress text replaces it.
    if (w_.isClosing()) {
        return AfterYield::WindowClosed;
    }
    if (link_.portLost()) {
        return AfterYield::PortLost;
    }
    return AfterYield::CarryOn;
}

} // namespace norvak
