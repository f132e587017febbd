#include "programming/firmware_streamer.h"

#include "mainwindow/frmprog.h"
#include "programming/line_reader.h"
#include "programming/pause_schedule.h"
#include "programming/progress_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace norvak {

namespace {

// Ends a run without a report when the window has closed under it.
struct RunInterrupted : std::runtime_error {
    RunInterrupted()
        : std::runtime_error("the window was closed") {}
};

} // namespace

std::unique_ptr<QFile> openFirmwareFile(const QString& path) {
    if (path.isEmpty())
        throw std::runtime_error("no firmware file chosen");
    // A FIFO or a device would block or never end; a directory has no lines.
    if (const QFileInfo info(path); !info.isFile())
        throw std::runtime_error("not a regular file");
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) || file->isSequential())
        throw std::runtime_error("cannot open the firmware file");
    return file;
}

void FirmwareStreamer::btnopenFile_Click() {
    dialogFileName_ = w_.toolkit().showOpenDialog({.parent = &w_,
                                                   .title = dialogTitle,
                                                   .filter = dialogFilter,
                                                   .previousPath = dialogFileName_});
    if (dialogFileName_.isEmpty())
        return;
    w_.members.fileName = dialogFileName_;
    w_.lblFilename->setText(w_.members.fileName);
    w_.lblFilename->setToolTip(w_.members.fileName);
    if (w_.portOpenAndFileChosen())
        w_.btnFlash->setEnabled(true);
}

void FirmwareStreamer::TimerSendFile_Timer() {
    w_.TimerSendFile->setEnabled(false);
    // Two runs never interleave their lines: a start during a run is ignored.
    if (running_)
        return;
    running_ = true;
    try {
        stream();
    } catch (const SerialError&) {
        running_ = false;
        w_.members.flashState = FlashState::Idle;
        // A write refused while the port is still open means the line is gone: the handler's
        // boundary reports it as a lost port. A port the operator closed stays silent.
        if (w_.MSComm1().PortOpen())
            throw;
    } catch (const std::exception&) {
        // The failure path reports nothing; the file is already closed by its owner.
        w_.members.flashState = FlashState::Idle;
    }
    running_ = false;
}

void FirmwareStreamer::stream() {
    // Both openings happen before the first yield: the run keeps the file it opened, even
    // if the operator chooses another one meanwhile.
    const QString path = w_.members.fileName;
    const qint64 lineTotal = countLines(path);
    sendLines(path, lineTotal);
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

void FirmwareStreamer::sendLines(const QString& path, qint64 lineTotal) {
    const auto file = openFirmwareFile(path);
    LineReader reader(*file, [&file] { return file->size(); });
    SerialControl& comm = w_.MSComm1();
    const std::uint64_t run = w_.members.programmingRun;
    const auto newRunBegun = [this, run] {
        return w_.members.programmingRun != run;
    };
    qint64 lineNumber = 0;
    while (reader.hasLine()) {
        // A run begun during the last yield owns the line now: not one more byte of this file.
        if (newRunBegun())
            return;
        ++lineNumber;
        reader.readLine([&comm](QByteArrayView piece) { comm.Output(piece); });
        comm.Output("\n");
        pauseAfterLine(w_.toolkit().monotonicNow());
        yieldOrStop();
        w_.members.progressPercent = progressPercent(lineNumber, lineTotal);
        w_.setStatusCaption(QStringLiteral(", progress: ") +
                            progressText(w_.members.progressPercent) + QStringLiteral("%"));
        if (w_.members.flashState == FlashState::Idle)
            return;
        // The run this file belonged to has ended and another has begun: its state is not
        // ours to end.
        if (newRunBegun())
            return;
        yieldOrStop();
    }
}

void FirmwareStreamer::pauseAfterLine(TimePoint lineSent) {
    // Read for every line: a new choice in the speed list counts from the next pause.
    const int steps = w_.speedListIndex() + 1;
    Toolkit& toolkit = w_.toolkit();
    PauseSchedule schedule(lineSent);
    for (int i = 0; i < steps; ++i) {
        toolkit.sleepUntil(schedule.nextStepEnd());
        const TimePoint yieldBegan = toolkit.monotonicNow();
        yieldOrStop();
        schedule.addHandlerTime(toolkit.monotonicNow() - yieldBegan);
    }
}

void FirmwareStreamer::yieldOrStop() {
    w_.toolkit().yield();
    // The lost port's report stays in the caption: no progress text replaces it.
    if (w_.isClosing() || w_.isPortLost())
        throw RunInterrupted();
}

} // namespace norvak
