#pragma once

// Decides how a run driven without an operator ended, from what the operator would see: the
// status caption, the message boxes, the log box, and the run falling back to idle. The first
// decisive sign counts; a progress caption that follows "PROGRAMMED" (the last line's pause
// ends after the device's "P") changes nothing.

#include "seam/toolkit.h"

#include <QString>

namespace norvak::unattended {

enum class RunOutcome {
    Running,
    Programmed,
    NoBootProgram,  // the countdown ran out: "Restart to bootprogram failled!"
    DotTimeout,     // the dot watchdog: "Programming FAILLED"
    PortFailed,     // the port did not open, or was lost
    FileUnreadable, // the firmware file was not taken, or could not be read to be sent
    Interrupted,    // the script was told to stop
    Failed,         // any other end without "PROGRAMMED"
    TimedOut,       // the driver's own time limit
};

class RunVerdict {
public:
    void onCaption(const QString& caption);
    void onMessage(const MessageBoxRequest& request);
    // The run fell back to idle and no timer of the window will end it otherwise.
    void onSettledIdle(const QString& logText);
    void onTimeout();
    void onInterrupted();
    void fail(RunOutcome outcome, const QString& reason);

    [[nodiscard]] RunOutcome outcome() const { return outcome_; }
    [[nodiscard]] bool decided() const { return outcome_ != RunOutcome::Running; }
    // Why the run failed, as the program told it; empty while running or once programmed.
    [[nodiscard]] const QString& reason() const { return reason_; }
    // The demo's exit status: 0 programmed, 3 timed out, 1 any other end.
    [[nodiscard]] int exitCode() const;

private:
    void decide(RunOutcome outcome, const QString& reason);

    RunOutcome outcome_ = RunOutcome::Running;
    QString reason_;
};

// The part of a status caption after the application title and ", "; empty for any other.
[[nodiscard]] QString statusPart(const QString& caption);

} // namespace norvak::unattended
