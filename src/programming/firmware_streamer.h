#pragma once

// Choosing the firmware file, and the streamer that sends it to the boot program line by
// line: each line's text, then one LF, then the pause chosen in the speed list.

#include "seam/main_window.h"

#include <QString>
#include <QtGlobal>

#include <variant>

class QFile;

namespace norvak {

class RunTable;
class SerialLink;
class SerialControl;

class FirmwareStreamer {
public:
    FirmwareStreamer(MainWindow& window, SerialControl& comm, SerialLink& link, RunTable& table)
        : w_(window)
        , comm_(comm)
        , link_(link)
        , table_(table) {}

    void btnopenFile_Click();
    void TimerSendFile_Timer();

    [[nodiscard]] bool isRunning() const { return running_; }
    // The lines of the file open at `file` as they would go out, from its start; throws
    // FirmwareFileError when a read fails.
    [[nodiscard]] static qint64 countLines(QFile& file);

    static inline const QString dialogTitle = QStringLiteral("Open FLASH or EEPROM file");
    static inline const QString dialogFilter = QStringLiteral("All Files (*.srec)");

private:
    // How a run of the streamer ended.
    enum class StreamEnd {
        AsTheRunDecided, // every line sent, or the run ended or passed to another run
        Interrupted,     // the window closed or the port was lost during a yield
    };
    // The file could not be opened, or a read failed: why, in the operator's words.
    struct FileUnreadable {
        QString why;
    };
    using StreamOutcome = std::variant<StreamEnd, FileUnreadable>;
    // Why the streamer must stop after a yield, if it must.
    enum class AfterYield { CarryOn, WindowClosed, PortLost };

    void runStreamer();
    [[nodiscard]] StreamOutcome stream(const QString& path);
    [[nodiscard]] StreamEnd sendLines(QFile& file, qint64 lineTotal);
    [[nodiscard]] AfterYield pauseAfterLine(TimePoint lineSent);
    void showProgress(qint64 lineNumber, qint64 lineTotal);
    [[nodiscard]] AfterYield yieldToEvents();
    // Whether the window or the port went during the last yield.
    [[nodiscard]] AfterYield whatTheYieldLeft() const;

    MainWindow& w_;
    SerialControl& comm_;
    SerialLink& link_;
    RunTable& table_;
    // The dialog keeps the last chosen path: a Cancel after an earlier choice repeats it.
    QString dialogFileName_;
    bool running_ = false;
};

} // namespace norvak
