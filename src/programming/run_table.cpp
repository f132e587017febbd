#include "programming/run_table.h"

#include "link/serial_link.h"
#include "protocol/boot_line.h"
#include "protocol/run_timing.h"

namespace norvak {

namespace {

const QString interruptionNotice =
    QStringLiteral("Ohjelmointi keskeytetty! Ole hyvä ja ohjelmoi laite uudelleen.\r\n"
                   "Kytke laitteesta virrat pois ja takasin päälle!\r\n\r\n");

bool is(const QByteArray& ch, char protocolCharacter) {
    return ch.size() == 1 && ch.front() == protocolCharacter;
}

} // namespace

// --- The window ---

void RunTable::windowLoaded() {
    w_.shared().restartCountdown = protocol::secondsToRestart;
}

void RunTable::windowClosed() {
    // The program ends with the window: nothing may tick into a handler after this.
    stopAllTimers();
}

// --- The operator ---

void RunTable::flashButtonPressed() {
    if (!portOpenAndFileChosen()) {
        refuseStart();
    } else if (state() != FlashState::Idle) {
        cancel();
    } else {
        start();
    }
}

void RunTable::refuseStart() {
    enter(FlashState::Idle);
    w_.setButtonEnabled(WindowButton::Flash, false);
}

void RunTable::cancel() {
    // Only the state, the caption and the log box change: the timers run on.
    enter(FlashState::Idle);
    showStartCaption();
    w_.logPrependByRewriting(interruptionNotice);
    announceEnd(RunEndReason::Cancelled, interruptionNotice);
}

void RunTable::start() {
    // A run begins clean: what a cancelled run left running must not end or disturb it.
    w_.timer(TimerRole::DotWatchdog).setEnabled(false);
    w_.timer(TimerRole::ReadyRequest).setEnabled(false);
    w_.timer(TimerRole::FileSender).setEnabled(false);
    w_.setButtonEnabled(WindowButton::Flash, false);
    w_.shared().restartCountdown = protocol::secondsToRestart;
    showCountdown();
    w_.timer(TimerRole::Countdown).setEnabled(true);
    enter(FlashState::WaitingForBoot);
    ++w_.shared().programmingRun;
    endAnnounced_ = false;
    w_.timer(TimerRole::WakeUpSender).setEnabled(true);
}

void RunTable::connectPressed() {
    const bool runWasOn = state() != FlashState::Idle;
    w_.timer(TimerRole::PortWatch).setEnabled(false);
    enter(FlashState::Idle);
    w_.shared().restartCountdown = 0;
    showStartCaption();
    enableStartIfReady();
    if (runWasOn) {
        announceEnd(RunEndReason::ClosedByConnect, {});
    }
}

void RunTable::connectFailed(const QString& description) {
    announceEnd(RunEndReason::ConnectFailed, description);
}

void RunTable::fileChosen() {
    enableStartIfReady();
}

void RunTable::sendFilePressed() {
    w_.timer(TimerRole::FileSender).setEnabled(true);
}

// --- The run's timers ---

void RunTable::countdownTick() {
    std::int32_t& countdown = w_.shared().restartCountdown;
    if (countdown >= 1) {
        w_.setButtonEnabled(WindowButton::Flash, false);
        --countdown;
        showCountdown();
        return;
    }
    if (state() == FlashState::WaitingForBoot) {
        const QString noBootProgram = QStringLiteral("Restart to bootprogram failled!");
        settlePortAway();
        enter(FlashState::Idle);
        w_.logAppendByRewriting(QStringLiteral("\r\n") + noBootProgram);
        showStartCaption();
        w_.setButtonEnabled(WindowButton::Flash, true);
        announceEnd(RunEndReason::NoBootProgram, noBootProgram);
    }
    w_.timer(TimerRole::Countdown).setEnabled(false);
}

void RunTable::wakeUpTick() {
    link_.Send(protocol::wakeUp, false);
    if (w_.shared().restartCountdown == 0) {
        w_.timer(TimerRole::WakeUpSender).setEnabled(false);
    }
}

void RunTable::readyRequestTick() {
    w_.timer(TimerRole::ReadyRequest).setEnabled(false);
    link_.Send(protocol::readyRequest, false);
}

void RunTable::watchdogTick() {
    const QString failed = QStringLiteral("Programming FAILLED");
    w_.setStatusText(failed);
    enter(FlashState::Idle);
    w_.timer(TimerRole::DotWatchdog).setEnabled(false);
    showStartCaption();
    w_.setButtonEnabled(WindowButton::Flash, true);
    // Every change, the announcement too, is made before the box holds this handler.
    announceEnd(RunEndReason::DotTimeout, failed);
    w_.showMessageBox(QStringLiteral("Error: DOT Timeout"), MessageIcon::Critical);
}

void RunTable::portWatchTick() {
    if (state() != FlashState::WaitingForBoot) {
        // Cancelled or ended meanwhile: nobody waits for the port any longer.
        settlePortAway();
        return;
    }
    if (link_.reopenAwayPort()) {
        // The wake-up sender has run on, writing nothing while the port was closed.
        w_.timer(TimerRole::PortWatch).setEnabled(false);
        awayDescription_.clear();
        w_.announcePortBack();
    }
}

// --- The device ---

void RunTable::characterReceived(const QByteArray& ch, EchoBeforeTransition& echo) {
    const FlashState now = state();
    if (now == FlashState::Idle) {
        characterWhileIdle();
    } else if (now == FlashState::Sending && is(ch, protocol::lineAccepted)) {
        lineAccepted(); // only a timer: nothing that shows or reads the log box
    } else if (const Transition transition = transitionOn(now, ch)) {
        // A transition shows its caption with every character before it in the log box.
        echo.showEchoSoFar();
        (this->*transition)();
    }
}

RunTable::Transition RunTable::transitionOn(FlashState now, const QByteArray& ch) {
    switch (now) {
    case FlashState::WaitingForBoot:
        return is(ch, protocol::bootPrompt) ? &RunTable::bootProgramStarted : nullptr;
    case FlashState::WaitingForReady:
        return is(ch, protocol::readyForFile) ? &RunTable::readyForFile : nullptr;
    case FlashState::Sending:
        return is(ch, protocol::programmed) ? &RunTable::programmed : nullptr;
    case FlashState::Idle:
        break;
    }
    return nullptr;
}

void RunTable::characterWhileIdle() {
    showStartCaption();
    enableStartIfReady();
}

void RunTable::bootProgramStarted() {
    w_.setStatusText(QStringLiteral("Bootprogram started"));
    enter(FlashState::WaitingForReady);
    w_.timer(TimerRole::Countdown).setEnabled(false);
    w_.setButtonCaption(WindowButton::Flash, cancelCaption);
    w_.setButtonEnabled(WindowButton::Flash, true);
    w_.shared().restartCountdown = protocol::secondsToRestart;
    w_.timer(TimerRole::WakeUpSender).setEnabled(false);
    w_.timer(TimerRole::ReadyRequest).setEnabled(true);
    w_.timer(TimerRole::DotWatchdog).setEnabled(true);
}

void RunTable::readyForFile() {
    w_.setStatusText(QStringLiteral("Sending File"));
    enter(FlashState::Sending);
    w_.timer(TimerRole::FileSender).setEnabled(true);
}

void RunTable::lineAccepted() {
    // Off and on again: the watchdog's full interval starts anew.
    Timer& watchdog = w_.timer(TimerRole::DotWatchdog);
    watchdog.setEnabled(false);
    watchdog.setEnabled(true);
}

void RunTable::programmed() {
    const QString programmedText = QStringLiteral("PROGRAMMED");
    w_.setStatusText(programmedText);
    showStartCaption();
    enter(FlashState::Idle);
    w_.timer(TimerRole::DotWatchdog).setEnabled(false);
    announceEnd(RunEndReason::Programmed, programmedText);
}

// --- The file streamer and the link ---

void RunTable::streamerFailed() {
    enter(FlashState::Idle);
}

void RunTable::firmwareUnreadable(const QString& path, const QString& why) {
    enter(FlashState::Idle);
    stopAllTimers();
    showStartCaption();
    enableStartIfReady();
    const QString unreadable =
        fileUnreadableText + (path.isEmpty() ? why : path + QStringLiteral(": ") + why);
    w_.setStatusText(unreadable);
    announceEnd(RunEndReason::FirmwareUnreadable, unreadable);
}

void RunTable::portLost(const QString& description) {
    if (state() == FlashState::WaitingForBoot) {
        watchForPort(description);
        return;
    }
    if (link_.portAway()) {
        return; // already closed and watched for; the watch settles it
    }
    if (!link_.reportPortLost(description)) {
        return;
    }
    enter(FlashState::Idle);
    showStartCaption();
    stopAllTimers();
    announceEnd(RunEndReason::PortLost, description);
}

void RunTable::watchForPort(const QString& description) {
    if (!link_.leavePortAway()) {
        return; // the same loss again (a refused write after the line hung up)
    }
    awayDescription_ = description;
    w_.timer(TimerRole::PortWatch).setEnabled(true);
    w_.announcePortAway(description);
}

void RunTable::settlePortAway() {
    w_.timer(TimerRole::PortWatch).setEnabled(false);
    if (link_.portAway()) {
        static_cast<void>(link_.reportPortLost(awayDescription_));
    }
    awayDescription_.clear();
}

// --- Shared steps ---

bool RunTable::portOpenAndFileChosen() const {
    return link_.PortOpen() && !w_.shared().fileName.isEmpty();
}

void RunTable::showCountdown() {
    w_.setButtonCaption(WindowButton::Flash,
                        countdownCaption + QString::number(w_.shared().restartCountdown));
}

void RunTable::showStartCaption() {
    w_.setButtonCaption(WindowButton::Flash, startCaption);
}

void RunTable::enableStartIfReady() {
    if (portOpenAndFileChosen()) {
        w_.setButtonEnabled(WindowButton::Flash, true);
    }
}

void RunTable::announceEnd(RunEndReason reason, const QString& description) {
    if (endAnnounced_) {
        return;
    }
    endAnnounced_ = true;
    w_.announceRunEnd({.reason = reason, .description = description});
}

void RunTable::stopAllTimers() {
    for (const TimerRole role : allTimerRoles) {
        w_.timer(role).setEnabled(false);
    }
}

} // namespace norvak
