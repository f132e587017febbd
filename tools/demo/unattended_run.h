#pragma once

// Clicks through one programming run in the flash programmer's window as an operator would
// (Connect, browse, START PROGRAMMING), prints every status caption as it appears and the
// log box at the end, and reports how the run ended. Message boxes are printed and answered
// at once. Optionally saves pictures of the window just before START and during the run.

#include "demo_toolkit.h"
#include "run_verdict.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QTimer>

#include <chrono>

namespace norvak {
class frmProg;
}

namespace norvak::demo {

struct RunSettings {
    int port = 4;     // typed into the port box
    QString firmware; // the file the dialog answers with
    std::chrono::milliseconds timeout{120'000};
    QString screenshotAtStart;   // PNG: connected, file chosen, before START
    QString screenshotDuringRun; // PNG: once progress reaches screenshotPercent
    double screenshotPercent = 40.0;
};

class UnattendedRun final : public QObject {
    Q_OBJECT

public:
    // Takes over the toolkit's message boxes and dialogs for good.
    UnattendedRun(frmProg& window, DemoToolkit& toolkit, RunSettings settings, QTextStream& out);
    // Message boxes that come later are dropped unseen.
    ~UnattendedRun() override;
    UnattendedRun(const UnattendedRun&) = delete;
    UnattendedRun& operator=(const UnattendedRun&) = delete;

    // Clicks START at the next turn of the event loop; `finished` follows once.
    void start();

    [[nodiscard]] const RunVerdict& verdict() const { return verdict_; }
    // Pictures that could not be saved turn a programmed run into exit status 2.
    [[nodiscard]] int exitCode() const;

signals:
    void finished(int exitCode);

private:
    enum class Phase { NotStarted, Running, WindingUp, Finished };

    void begin();
    [[nodiscard]] bool clickThrough();
    void onCaption(const QString& caption);
    void onMessage(const MessageBoxRequest& request);
    void watch();
    void windUp();
    void finish();
    void saveScreenshot(const QString& path);
    void print(const QString& line);
    [[nodiscard]] QString elapsed() const;

    frmProg& window_;
    DemoToolkit& toolkit_;
    RunSettings settings_;
    QTextStream& out_;
    RunVerdict verdict_;
    Phase phase_ = Phase::NotStarted;
    bool runScreenshotDue_ = false;
    bool screenshotFailed_ = false;

    QElapsedTimer clock_;
    QTimer watchTimer_;
    QTimer deadline_;
    QElapsedTimer windUpClock_;
    QElapsedTimer quietClock_; // since the log box last changed
    qsizetype lastLogLength_ = -1;
};

} // namespace norvak::demo
