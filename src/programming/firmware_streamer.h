#pragma once

// Choosing the firmware file, and the streamer that sends it to the boot program line by
// line: each line's text, then one LF, then the pause chosen in the speed list.

#include "mainwindow/toolkit.h"

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>

class QFile;

namespace norvak {

class frmProg;
class LineReader;

// Keeps the pause steps of a run on a fixed schedule, so that the time spent between them
// (writing the line, the event loop, a late wake-up from a sleep) does not add up line after
// line: a step that starts late is shortened by what it is late, by at most maxCatchUp. A
// delay longer than a whole step (the thread was held up) is not made up: the schedule starts
// afresh. On the tests' virtual clock only the sleeps move time, so every step is whole.
class PauseSchedule {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Milliseconds step{20};
    static constexpr Milliseconds maxCatchUp{2};

    explicit PauseSchedule(std::function<Clock::time_point()> now);

    // The sleep for the next step, between step - maxCatchUp and step.
    [[nodiscard]] Milliseconds nextStep();

private:
    std::function<Clock::time_point()> now_;
    Clock::time_point due_; // when the step before ended, on schedule
};

class FirmwareStreamer {
public:
    explicit FirmwareStreamer(frmProg& window)
        : w_(window) {}

    void btnopenFile_Click();
    void TimerSendFile_Timer();

    [[nodiscard]] bool isRunning() const { return running_; }

    static inline const QString dialogTitle = QStringLiteral("Open FLASH or EEPROM file");
    static inline const QString dialogFilter = QStringLiteral("All Files (*.srec)");

private:
    void stream();
    [[nodiscard]] qint64 countLines(const QString& path);
    void sendLines(const QString& path, qint64 lineTotal);
    void pauseAfterLine(PauseSchedule& schedule);
    // Yields to the event loop; a window closed or a port lost meanwhile ends the run here.
    void yieldOrStop();

    frmProg& w_;
    // The dialog keeps the last chosen path: a Cancel after an earlier choice repeats it.
    QString dialogFileName_;
    bool running_ = false;
};

// Opens a firmware file read-only. Anything but a readable regular file fails; nothing is
// ever created.
[[nodiscard]] std::unique_ptr<QFile> openFirmwareFile(const QString& path);

} // namespace norvak
