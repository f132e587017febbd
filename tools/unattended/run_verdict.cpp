#include "tools/unattended/run_verdict.h"

namespace norvak::unattended {

void RunVerdict::onRunEnded(const RunEnding& ending) {
    if (!decided()) {
        announced_ = ending.description;
    }
    switch (ending.reason) {
    case RunEndReason::Programmed:
        decide(RunOutcome::Programmed, {});
        return;
    case RunEndReason::NoBootProgram:
        decide(RunOutcome::NoBootProgram, ending.description);
        return;
    case RunEndReason::DotTimeout:
        decide(RunOutcome::DotTimeout, QStringLiteral("the device stopped answering lines"));
        return;
    case RunEndReason::ConnectFailed:
    case RunEndReason::PortLost:
        decide(RunOutcome::PortFailed, ending.description);
        return;
    case RunEndReason::FirmwareUnreadable:
        decide(RunOutcome::FileUnreadable, ending.description);
        return;
    case RunEndReason::Cancelled:
    case RunEndReason::ClosedByConnect:
        // Only the driver presses them, when it is told to stop.
        onInterrupted();
        return;
    }
    decide(RunOutcome::Failed, ending.description);
}

void RunVerdict::onSettledIdle() {
    decide(RunOutcome::Failed, QStringLiteral("the run ended without \"PROGRAMMED\""));
}

void RunVerdict::onTimeout() {
    decide(RunOutcome::TimedOut, QStringLiteral("no result in time"));
}

void RunVerdict::onInterrupted() {
    decide(RunOutcome::Interrupted, QStringLiteral("interrupted"));
}

void RunVerdict::fail(RunOutcome outcome, const QString& reason) {
    decide(outcome, reason);
}

int RunVerdict::exitCode() const {
    switch (outcome_) {
    case RunOutcome::Programmed:
        return 0;
    case RunOutcome::TimedOut:
        return 3;
    default:
        break;
    }
    return 1;
}

void RunVerdict::decide(RunOutcome outcome, const QString& reason) {
    if (decided()) {
        return;
    }
    outcome_ = outcome;
    reason_ = reason;
}

} // namespace norvak::unattended
