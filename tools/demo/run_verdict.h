#pragma once

// Decides how an unattended run ended, from what the operator would see: the status
// caption, the message boxes, and the run falling back to idle. The first decisive sign
// counts; a progress caption that follows "PROGRAMMED" (the last line's pause ends after the
// device's "P") changes nothing.

#include "mainwindow/toolkit.h"

#include <QString>

namespace norvak::demo {

enum class RunOutcome { Running, Programmed, Failed, TimedOut };

class RunVerdict {
public:
    void onCaption(const QString& caption);
    void onMessage(const MessageBoxRequest& request);
    void onTimeout();
    // Anything else that ends the run without a result, e.g. it fell back to idle.
    void fail(const QString& reason);

    [[nodiscard]] RunOutcome outcome() const { return outcome_; }
    [[nodiscard]] bool decided() const { return outcome_ != RunOutcome::Running; }
    // Why the run failed, as the program told it; empty while running or once programmed.
    [[nodiscard]] const QString& reason() const { return reason_; }
    // 0 programmed, 1 failed, 3 timed out; 1 while still running.
    [[nodiscard]] int exitCode() const;

private:
    void decide(RunOutcome outcome, const QString& reason);

    RunOutcome outcome_ = RunOutcome::Running;
    QString reason_;
};

} // namespace norvak::demo
