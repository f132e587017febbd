#pragma once

// Decides how a run driven without an operator ended, from the window's own announcement of
// the run's end, or from what the driver itself saw (its time limit, an interruption, a step
// of the click-through that failed). The first decision counts.

#include "seam/main_window.h"

#include <QString>

namespace norvak::unattended {

enum class RunOutcome {
    Running,
    Programmed,
    NoBootProgram,  // the countdown ran out: "Restart to bootprogram failled!"
    DotTimeout,     // the dot watchdog: "Programming FAILLED"
    PortFailed,     // the port did not open, or was lost
    FileUnreadable, // the firmware file was not taken, or could not be read to be sent
    Interrupted,    // the script was told to stop (CANCEL or Connect pressed for it)
    Failed,         // any other end without "PROGRAMMED"
    TimedOut,       // the driver's own time limit
};

class RunVerdict {
public:
    // The window announced the run's end.
    void onRunEnded(const RunEnding& ending);
    // The run fell back to idle, no timer of the window will end it, and nothing announced an
    // end.
    void onSettledIdle();
    void onTimeout();
    void onInterrupted();
    void fail(RunOutcome outcome, const QString& reason);

    [[nodiscard]] RunOutcome outcome() const { return outcome_; }
    [[nodiscard]] bool decided() const { return outcome_ != RunOutcome::Running; }
    // Why the run failed, in the window's words where it has them (the port's description,
    // why the file cannot be read); empty while running or once programmed.
    [[nodiscard]] const QString& reason() const { return reason_; }
    // What the window said when it announced the end that decided the run ("PROGRAMMED",
    // "Programming FAILLED", ...); empty when something else decided it.
    [[nodiscard]] const QString& announced() const { return announced_; }
    // The demo's exit status: 0 programmed, 3 timed out, 1 any other end.
    [[nodiscard]] int exitCode() const;

private:
    void decide(RunOutcome outcome, const QString& reason);

    RunOutcome outcome_ = RunOutcome::Running;
    QString reason_;
    QString announced_;
};

} // namespace norvak::unattended
