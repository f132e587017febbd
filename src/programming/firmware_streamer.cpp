#include "programming/firmware_streamer.h"

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/line_reader.h"
#include "link/control/serial_control.h"
#include "link/serial_link.h"
#include "programming/pause_schedule.h"
#include "programming/progress_text.h"
#include "programming/run_table.h"
#include "protocol/boot_line.h"
#include "protocol/run_timing.h"

#include <QFile>
#include <QScopedValueRollback>

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
    const QScopedValueRollback running(running_, true);
    runStreamer();
}

void FirmwareStreamer::runStreamer() {
    // The file is closed by its owner on every way out. A file that cannot be opened or read
    // ends the run with its reason, not three seconds later as the device's fault. A lost line
    // (a write refused while the port is still open) is reported as a lost port; a port the
    // operator closed stays silent. Any other failure ends the stream silently.
    const QString path = w_.shared().fileName;
    const std::uint64_t run = w_.shared().programmingRun;
    StreamOutcome outcome = StreamEnd::Interrupted;
    std::optional<QString> lineGone;
    try {
        outcome = stream(path);
    } catch (const FirmwareFileError& failure) {
        outcome = FileUnreadable{failure.description()};
    } catch (const PortLostError& failure) {
        if (comm_.PortOpen()) {
            lineGone = failure.description();
        }
    } catch (const std::exception&) {
        // Dropped: the stream ends as interrupted.
    }
    if (const auto* unreadable = std::get_if<FileUnreadable>(&outcome)) {
        // A run begun meanwhile is not this file's to end.
        if (w_.shared().programmingRun == run && !w_.isClosing()) {
            table_.firmwareUnreadable(path, unreadable->why);
            return;
        }
        outcome = StreamEnd::Interrupted;
    }
    if (std::get<StreamEnd>(outcome) == StreamEnd::Interrupted) {
        table_.streamerFailed();
    }
    if (lineGone) {
        table_.portLost(*lineGone);
    }
}

FirmwareStreamer::StreamOutcome FirmwareStreamer::stream(const QString& path) {
    // Each pass opens the file anew, and both openings happen before the first yield: the run
    // keeps the file it opened, even if the operator chooses another one meanwhile.
    qint64 lineTotal = 0;
    if (const FirmwareOpening counting = openFirmwareFile(path); counting.isOpen()) {
        lineTotal = countLines(counting.file());
    } else {
        return FileUnreadable{counting.whyNot()};
    }
    const FirmwareOpening sending = openFirmwareFile(path);
    if (!sending.isOpen()) {
        return FileUnreadable{sending.whyNot()};
    }
    return sendLines(sending.file(), lineTotal);
}

qint64 FirmwareStreamer::countLines(QFile& file) {
    LineReader reader(file, [&file] { return file.size(); });
    qint64 total = 0;
    while (reader.hasLine()) {
        ++total;
        reader.skipLine();
    }
    return total;
}

FirmwareStreamer::StreamEnd FirmwareStreamer::sendLines(QFile& file, qint64 lineTotal) {
    LineReader reader(file, [&file] { return file.size(); });
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
