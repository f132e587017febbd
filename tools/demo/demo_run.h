#pragma once

// Clicks through one programming run in the flash programmer's window as an operator would
// (Connect, browse, START PROGRAMMING), prints every status caption as it appears and the
// log box at the end, and reports how the run ended. Message boxes are printed and answered
// at once. Optionally saves pictures of the window just before START and during the run.

#include "tools/demo/demo_toolkit.h"
#include "tools/unattended/run_driver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTextStream>

#include <chrono>

namespace norvak {
class frmProg;
}

namespace norvak::demo {

using unattended::RunOutcome;
using unattended::RunVerdict;

struct RunSettings {
    int port = 4;     // typed into the port box
    QString firmware; // the file the dialog answers with
    // The speed list's item (0 the fastest .. 4 the slowest); -1 leaves it as it is.
    int speedItem = -1;
    std::chrono::milliseconds timeout{120'000};
    QString screenshotAtStart;   // PNG: connected, file chosen, before START
    QString screenshotDuringRun; // PNG: once progress reaches screenshotPercent
    double screenshotPercent = 40.0;
};

class DemoRun final : public QObject {
    Q_OBJECT

public:
    // Takes over the toolkit's message boxes and dialogs for good.
    DemoRun(frmProg& window, DemoToolkit& toolkit, RunSettings settings, QTextStream& out);
    DemoRun(const DemoRun&) = delete;
    DemoRun& operator=(const DemoRun&) = delete;

    // Clicks START at the next turn of the event loop; `finished` follows once.
    void start();

    [[nodiscard]] const RunVerdict& verdict() const { return driver_.verdict(); }
    // Pictures that could not be saved turn a programmed run into exit status 2.
    [[nodiscard]] int exitCode() const;

signals:
    void finished(int exitCode);

private:
    void onCaption(const QString& caption);
    void finish();
    void saveScreenshot(const QString& path);
    void print(const QString& line);
    [[nodiscard]] QString elapsed() const;

    frmProg& window_;
    RunSettings settings_;
    QTextStream& out_;
    unattended::RunDriver driver_;
    bool runScreenshotDue_ = false;
    bool screenshotFailed_ = false;
    QElapsedTimer clock_;
};

} // namespace norvak::demo
