#pragma once

// The main window as the handlers of link/ and programming/ see it: the members they share,
// the status caption, the two buttons they drive, the log box, the message box, the timers by
// role, the speed list and the port box. The window implements it and keeps its controls to
// itself.

#include "seam/toolkit.h"

#include <QString>

#include <cstdint>

namespace norvak {

// The state of a programming run. Stored as a 32-bit value; no other value ever occurs.
enum class FlashState : std::int32_t {
    Idle = 0,
    WaitingForBoot = 1,  // sending "i", waiting for the boot program's ">"
    WaitingForReady = 2, // "f" sent or about to be, waiting for "_"
    Sending = 3,         // the file is streamed; "." per line, "P" at the end
};

// Why a programming run ended, from the state table's row that ended it.
enum class RunEndReason {
    Programmed,         // the boot program's "P" while the file was sent
    NoBootProgram,      // the countdown ran out before the boot program's ">"
    DotTimeout,         // the dot watchdog: no "." in time
    Cancelled,          // the operator pressed CANCEL
    ClosedByConnect,    // the operator pressed Connect during the run
    ConnectFailed,      // Connect could not open (or close) the port
    PortLost,           // the port went away: adapter pulled, device gone, a write refused
    FirmwareUnreadable, // the firmware file could not be opened or read to be sent
};

// A run's end as the state table announces it, once per run.
struct RunEnding {
    RunEndReason reason = RunEndReason::Programmed;
    // The window's own words for it: the caption or log line it shows, the notice of a
    // cancel, the port's description (without the caption's time), why the file cannot be
    // read. Empty where the link's caption tells it ("Connect: False").
    QString description;
};

inline const QString applicationTitle = QStringLiteral("Norvak Flash Programmer");

// State the handlers share. A new window starts with every number 0, every Boolean false
// and every text empty; Form_Load then sets what it sets.
struct WindowMembers {
    bool Connected = false;
    std::int32_t portNumber = 0;
    std::int32_t baudRate = 0;
    FlashState flashState = FlashState::Idle;
    std::int32_t restartCountdown = 0;
    QString fileName;
    double progressPercent = 0.0;
    // Counts the programming runs begun: a streamer run belongs to the one it started in.
    std::uint64_t programmingRun = 0;
    std::uintptr_t mainWindowHandle = 0;
};

// The run's timers, by what they do for it (their intervals: protocol/run_timing.h).
enum class TimerRole {
    WakeUpSender, // Timersendi: "i" again and again while waiting for the boot program
    Countdown,    // Timerresettobootprg: the operator's seconds to power-cycle the device
    ReadyRequest, // Timersendf: "f" once, a moment after the boot program answered
    FileSender,   // TimerSendFile: starts the file streamer
    DotWatchdog,  // TimerdotNotReceived: the run fails when no "." comes in time
    PortWatch,    // looks for a port lost while waiting for the boot program, to reopen it
};

inline constexpr TimerRole allTimerRoles[] = {TimerRole::WakeUpSender, TimerRole::Countdown,
                                              TimerRole::ReadyRequest, TimerRole::FileSender,
                                              TimerRole::DotWatchdog,  TimerRole::PortWatch};

// The buttons whose caption or enabled state a handler changes.
enum class WindowButton {
    Connect, // btnCon
    Flash,   // btnFlash
};

class MainWindow {
public:
    virtual ~MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    [[nodiscard]] virtual WindowMembers& shared() = 0;
    [[nodiscard]] virtual const WindowMembers& shared() const = 0;
    [[nodiscard]] virtual Toolkit& toolkit() = 0;
    [[nodiscard]] virtual Timer& timer(TimerRole role) = 0;
    [[nodiscard]] virtual const Timer& timer(TimerRole role) const = 0;

    // The caption becomes the application title followed by `statusPart` as given.
    virtual void setStatusCaption(const QString& statusPart) = 0;
    // The caption becomes the application title, ", " and `text`.
    void setStatusText(const QString& text) { setStatusCaption(QStringLiteral(", ") + text); }

    virtual void setButtonCaption(WindowButton button, const QString& caption) = 0;
    virtual void setButtonEnabled(WindowButton button, bool enabled) = 0;
    // The chosen file's path in the file label and its tool tip.
    virtual void showFileName(const QString& path) = 0;

    // The log box: received characters go at its end; notices rewrite its whole text.
    virtual void logAppendAtEnd(const QString& text) = 0;
    virtual void logAppendByRewriting(const QString& text) = 0;
    virtual void logPrependByRewriting(const QString& text) = 0;
    virtual void logClear() = 0;

    // Modal, OK only, titled with the application title.
    virtual void showMessageBox(const QString& text, MessageIcon icon) = 0;

    // The run is over: whoever follows runs without reading the screen learns how here.
    virtual void announceRunEnd(const RunEnding& ending) = 0;
    // While the run waits for the boot program its port went away (`description` says how)
    // and is watched for; then it came back and was opened again. Neither ends the run.
    virtual void announcePortAway(const QString& description) = 0;
    virtual void announcePortBack() = 0;

    // The file-open dialog over the window; `previousPath` when the operator cancels.
    [[nodiscard]] virtual QString showOpenDialog(const QString& title, const QString& filter,
                                                 const QString& previousPath) = 0;

    // The 0-based speed item the list's field shows, -1 when its text names no item.
    [[nodiscard]] virtual int speedListIndex() const = 0;
    // What the operator typed into the port box.
    [[nodiscard]] virtual QString portText() const = 0;

    // True once the close handler has run: interrupted handlers wind up without sending.
    [[nodiscard]] virtual bool isClosing() const = 0;

protected:
    MainWindow() = default;
};

} // namespace norvak
