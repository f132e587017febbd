#pragma once

// The programming run's state table: every event that moves the run, each doing its row's
// actions in order. The handlers only decide which event has happened; what it does to the
// state, the timers, the buttons, the captions and the log box is written here and nowhere
// else. Rows are grouped by who raises the event: the operator, the run's timers, the device,
// the file streamer and the link.

#include "seam/main_window.h"

#include <QByteArray>
#include <QString>

namespace norvak {

class SerialLink;

// The receive dispatcher collects the echo of what came; before a transition shows its
// caption, every character handled so far must be in the log box.
class EchoBeforeTransition {
public:
    virtual void showEchoSoFar() = 0;

protected:
    ~EchoBeforeTransition() = default;
};

class RunTable {
public:
    RunTable(MainWindow& window, SerialLink& link)
        : w_(window)
        , link_(link) {}

    // Captions of the programming button.
    static inline const QString startCaption = QStringLiteral("START PROGRAMMING");
    static inline const QString cancelCaption = QStringLiteral("CANCEL");
    // The status caption of a run that ended on a firmware file it could not read.
    static inline const QString fileUnreadableText =
        QStringLiteral("Cannot read the firmware file: ");

    // --- The operator ---
    // The programming button: a start or a cancel, whichever applies.
    void flashButtonPressed();
    // After the link has opened or closed the port. Pressed during a run, it ends the run.
    void connectPressed();
    // Then, when Connect could not open or close the port (`description` says why; the link's
    // caption shows it): the end of the run Connect was to carry, unless already announced.
    void connectFailed(const QString& description);
    // The file dialog has set `fileName`.
    void fileChosen();
    // sFile: the streamer starts at once.
    void sendFilePressed();

    // --- The run's timers ---
    void countdownTick();
    void wakeUpTick();
    void readyRequestTick();
    void watchdogTick();

    // --- The device: one received character, under the state of this moment ---
    void characterReceived(const QByteArray& ch, EchoBeforeTransition& echo);

    // --- The file streamer ---
    // A failure ended the streamer's run: nothing is reported, the watchdog runs on (and its
    // row announces the run's end).
    void streamerFailed();
    // The firmware file at `path` could not be opened or read (`why`): the run is over at
    // once and the caption says why, so that the watchdog does not blame the device for it.
    void firmwareUnreadable(const QString& path, const QString& why);

    // --- The link ---
    // The port went away (adapter pulled, device gone, a write refused): the link reports it
    // once, the run is over and every timer stops, so that no later caption or box hides why.
    void portLost(const QString& description);

    [[nodiscard]] FlashState state() const { return w_.shared().flashState; }
    [[nodiscard]] bool portOpenAndFileChosen() const;

private:
    // What a received character does beyond its echo, under the state of this moment.
    using Transition = void (RunTable::*)();
    [[nodiscard]] static Transition transitionOn(FlashState now, const QByteArray& ch);

    void cancel();
    void start();
    void refuseStart();
    void characterWhileIdle();
    void bootProgramStarted();
    void readyForFile();
    void lineAccepted();
    void programmed();

    void enter(FlashState state) { w_.shared().flashState = state; }
    void showCountdown();
    void showStartCaption();
    void enableStartIfReady();
    void stopAllTimers();
    // Tells the window how the run ended, the first time one of its ending rows runs; later
    // ends of the same run (the watchdog after a cancel, a lost port after "PROGRAMMED") are
    // what the operator sees, not news of the run.
    void announceEnd(RunEndReason reason, const QString& description);

    MainWindow& w_;
    SerialLink& link_;
    // Since the last start (or since the window opened, before the first one).
    bool endAnnounced_ = false;
};

} // namespace norvak
