#pragma once

// Clicks through one programming run in the flash programmer's window as an operator would
// (Connect, browse, the speed list, START PROGRAMMING) and follows it to its end, for programs
// that drive the window without an operator. Everything on the line is the window's own work:
// its handlers, timers and serial control; the driver only clicks and watches.
//
// Watching: every status caption as it is set, the START PROGRAMMING button's caption (looked
// at every watchInterval) and message boxes (answered at once), all passed on to be shown; the
// outcome comes from the window's announcement of the run's end, never from what it shows.
// Once the outcome is decided, the driver waits until the device has been quiet for a moment
// (its closing words belong to the run) and then reports `finished`.

#include "mainwindow/window_controls.h"
#include "tools/unattended/run_verdict.h"
#include "tools/unattended/scripted_toolkit.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace norvak {
class frmProg;
}

namespace norvak::unattended {

struct RunPlan {
    int port = 4;     // typed into the port box
    QString firmware; // the file the dialog answers with
    // The speed list's item (0 the fastest .. 4 the slowest); -1 leaves it as it is.
    int speedItem = -1;
    // A limit of the driver's own; zero: none (the window's countdown and watchdog end a run).
    std::chrono::milliseconds timeout{0};
    // Set: the port need not be there yet. Connect is pressed once this says the port's
    // device is there, looked at every portLookInterval for at most portWaitLimit.
    std::function<bool()> portPresent{};
    std::chrono::milliseconds portWaitLimit{0};
};

class RunDriver final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds watchInterval{50};
    static constexpr std::chrono::milliseconds portLookInterval{100};

    // Takes over the toolkit's message boxes and dialogs for good.
    RunDriver(frmProg& window, ScriptedToolkit& toolkit, RunPlan plan);
    // Message boxes that come later are dropped unseen.
    ~RunDriver() override;
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    // Begins at the next turn of the event loop; `finished` follows once.
    void start();
    // Cancels as CANCEL does, closes the port with the Connect button and finishes at once.
    // A run whose outcome is already known just finishes with it.
    void interrupt();

    [[nodiscard]] const RunVerdict& verdict() const { return verdict_; }
    [[nodiscard]] bool isFinished() const { return phase_ == Phase::Finished; }
    [[nodiscard]] const RunPlan& plan() const { return plan_; }

signals:
    // What the driver does as the operator: "Connect to port 4", "Choose ...", "Press ...".
    void step(const QString& action);
    // Connected, the file chosen: START PROGRAMMING is pressed when this returns.
    void aboutToStart();
    void captionChanged(const QString& caption);
    void buttonChanged(const QString& caption);
    void messageShown(const QString& text, bool critical);
    // The outcome is known; the device may still be talking.
    void decided();
    void finished();

private:
    enum class Phase { NotStarted, Running, WindingUp, Finished };

    void begin();
    // Waits for the port (RunPlan::portPresent), then clicks through the run.
    void lookForPort();
    void run();
    [[nodiscard]] bool clickThrough();
    void chooseSpeed();
    void onCaption(const QString& caption);
    void onMessage(const MessageBoxRequest& request);
    void onRunEnded(const RunEnding& ending);
    // Reports a decided outcome once and starts winding up.
    void announceDecision();
    void watch();
    void lookAtButton();
    [[nodiscard]] bool windowTimersWillEndRun() const;
    void windUp();
    void finish();

    frmProg& window_;
    WindowControls controls_;
    ScriptedToolkit& toolkit_;
    RunPlan plan_;
    RunVerdict verdict_;
    Phase phase_ = Phase::NotStarted;
    bool decisionAnnounced_ = false;
    QString buttonCaption_;

    QTimer watchTimer_;
    QTimer deadline_;
    QTimer portLook_;
    QElapsedTimer portWait_;
    QElapsedTimer windUpClock_;
    QElapsedTimer quietClock_; // since the log box last changed
    qsizetype lastLogLength_ = -1;
};

// The part of a status caption after the application title and ", "; empty for any other.
[[nodiscard]] QString statusPart(const QString& caption);

} // namespace norvak::unattended
