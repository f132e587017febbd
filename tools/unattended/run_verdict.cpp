#include "tools/unattended/run_verdict.h"

#include "mainwindow/frmprog.h"

namespace norvak::unattended {

namespace {

const QString countdownFailure = QStringLiteral("Restart to bootprogram failled!");

} // namespace

QString statusPart(const QString& caption) {
    const QString prefix = applicationTitle + QStringLiteral(", ");
    return caption.startsWith(prefix) ? caption.mid(prefix.size()) : QString();
}

void RunVerdict::onCaption(const QString& caption) {
    const QString status = statusPart(caption);
    if (status == QStringLiteral("PROGRAMMED")) {
        decide(RunOutcome::Programmed, {});
    } else if (status == QStringLiteral("Programming FAILLED")) {
        decide(RunOutcome::DotTimeout, QStringLiteral("the device stopped answering lines"));
    } else if (status.startsWith(QStringLiteral("Connect:   Error"))) {
        decide(RunOutcome::PortFailed, status);
    } else if (status.startsWith(RunTable::fileUnreadableText)) {
        decide(RunOutcome::FileUnreadable, status);
    }
}

void RunVerdict::onMessage(const MessageBoxRequest& request) {
    if (request.icon == MessageIcon::Critical) {
        decide(RunOutcome::Failed, request.text);
    }
}

void RunVerdict::onSettledIdle(const QString& logText) {
    if (logText.endsWith(countdownFailure)) {
        decide(RunOutcome::NoBootProgram, countdownFailure);
    } else {
        decide(RunOutcome::Failed, QStringLiteral("the run ended without \"PROGRAMMED\""));
    }
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
