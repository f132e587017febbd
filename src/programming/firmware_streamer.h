#pragma once

// Choosing the firmware file, and the streamer that sends it to the boot program line by
// line: each line's text, then one LF, then the pause chosen in the speed list.

#include "mainwindow/interface/toolkit.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class QFile;

namespace norvak {

class frmProg;
class LineReader;

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
    void pauseAfterLine(TimePoint lineSent);
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
