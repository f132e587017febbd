#include "run_verdict.h"

#include "mainwindow/frmprog.h"

namespace norvak::demo {

namespace {

QString statusPart(const QString& caption) {
    const QString prefix = applicationTitle + QStringLiteral(", ");
    return caption.startsWith(prefix) ? caption.mid(prefix.size()) : QString();
}

} // namespace

void RunVerdict::onCaption(const QString& caption) {
    const QString status = statusPart(caption);
    if (status == QStringLiteral("PROGRAMMED"))
        decide(RunOutcome::Programmed, {});
    else if (status == QStringLiteral("Programming FAILLED"))
        decide(RunOutcome::Failed, QStringLiteral("the device stopped answering lines"));
    else if (status.startsWith(QStringLiteral("Connect:   Error")))
        decide(RunOutcome::Failed, status);
}

void RunVerdict::onMessage(const MessageBoxRequest& request) {
    if (request.icon == MessageIcon::Critical)
        decide(RunOutcome::Failed, request.text);
}

void RunVerdict::fail(const QString& reason) {
    decide(RunOutcome::Failed, reason);
}

void RunVerdict::onTimeout() {
    decide(RunOutcome::TimedOut, QStringLiteral("no result in time"));
}

int RunVerdict::exitCode() const {
    switch (outcome_) {
    case RunOutcome::Programmed:
        return 0;
    case RunOutcome::TimedOut:
        return 3;
    case RunOutcome::Running:
    case RunOutcome::Failed:
        break;
    }
    return 1;
}

void RunVerdict::decide(RunOutcome outcome, const QString& reason) {
    if (decided())
        return;
    outcome_ = outcome;
    reason_ = reason;
}

} // namespace norvak::demo
