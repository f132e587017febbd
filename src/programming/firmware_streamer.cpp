#include "programming/firmware_streamer.h"

#include "firmwarefile/firmware_file.h"
#include "link/control/serial_control.h"
#include "link/serial_link.h"
#include "programming/pause_schedule.h"
#include "programming/progress_text.h"
#include "programming/run_table.h"
#include "protocol/boot_line.h"
#include "protocol/run_timing.h"
#include "seam/failure_handling.h"

#include <QFile>

#include <optional>

namespace norvak {

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
        comm_.Output(QByteArrayView(&protocol::lineEnd, 1));
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
    const int steps = protocol::pauseStepsOf(w_.speedListIndex());
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
