#pragma once

// The programming run's state table: every event that moves the run, each doing its row's
// actions in order. The handlers only decide which event has happened; what it does to the
// run's state (`flashState`, `restartCountdown`, `programmingRun`), the run's timers, the
// programming button, the run's captions and the notices in the log box is written here.
// Rows are grouped by who raises the event: the window, the operator, the run's timers, the
// device, the file streamer and the link.
//
// Only these effects are written elsewhere, each by the room that owns what it shows:
//  - the link (link/serial_link.cpp) owns the port and what it shows of it: `Connected`,
//    `portNumber`, `baudRate`, the Connect button's caption and the status caption's
//    "Connect: " texts, the error form among them. On a lost port the link reports the loss
//    once (reportPortLost) and this table does the run's part.
//  - the file streamer (programming/firmware_streamer.cpp) owns the file: a choice writes
//    `fileName` and the file label before it raises fileChosen; while it sends, each line's
//    progress (`progressPercent` and the ", progress: " caption); and it switches off the
//    timer that started it, which thus ticks once per start.
//  - the receive dispatcher (programming/receive_dispatcher.cpp) appends every received
//    character to the log box, and shows the serial control's error events in a box.
//  - the window (mainwindow/) clears `fileName` and fills the speed list at load, and keeps
//    the operator commands beside the run: Clear screen empties the log box, Help shows its
//    box, f and g each send one character.

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

    // Captions of the programming button; the countdown's is followed by the seconds left.
    static inline const QString startCaption = QStringLiteral("START PROGRAMMING");
    static inline const QString cancelCaption = QStringLiteral("CANCEL");
    static inline const QString countdownCaption = QStringLiteral("Waiting restart: ");
    // The status caption of a run that ended on a firmware file it could not read.
    static inline const QString fileUnreadableText =
        QStringLiteral("Cannot read the firmware file: ");

    // --- The window ---
    // At load: the countdown holds its full seconds.
    void windowLoaded();
    // Closed: every timer stops.
    void windowClosed();

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
    // While the port is away: one look whether it is back.
    void portWatchTick();

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
    // The port went away (adapter pulled, device gone, a write refused). While the run waits
    // for the boot program the device may be switching its own adapter off and on: the port
    // is closed and watched for, the countdown runs on and "i" goes out again once the port
    // is back. Otherwise the link reports the loss once, the run is over and every timer
    // stops, so that no later caption or box hides why.
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
    void watchForPort(const QString& description);
    // The watch is over without the port: the loss is reported as any other.
    void settlePortAway();
    // Tells the window how the run ended, the first time one of its ending rows runs; later
    // ends of the same run (the watchdog after a cancel, a lost port after "PROGRAMMED") are
    // what the operator sees, not news of the run.
    void announceEnd(RunEndReason reason, const QString& description);

    MainWindow& w_;
    SerialLink& link_;
    // Since the last start (or since the window opened, before the first one).
    bool endAnnounced_ = false;
    // How the port went away, for the link's report if it does not come back.
    QString awayDescription_;
};

} // namespace norvak
