#include "programming/run_control.h"

#include "mainwindow/frmprog.h"

#include <QPushButton>

namespace norvak {

namespace {

const QString interruptionNotice =
    QStringLiteral("Ohjelmointi keskeytetty! Ole hyvä ja ohjelmoi laite uudelleen.\r\n"
                   "Kytke laitteesta virrat pois ja takasin päälle!\r\n\r\n");

constexpr int wakeUpCharacter = 'i';
constexpr int readyRequestCharacter = 'f';

} // namespace

void RunControl::btnFlash_Click() {
    if (!w_.portOpenAndFileChosen()) {
        w_.members.flashState = FlashState::Idle;
        w_.btnFlash->setEnabled(false);
    } else if (w_.members.flashState != FlashState::Idle) {
        cancelRun();
    } else {
        startRun();
    }
}

void RunControl::cancelRun() {
    // Only the state, the caption and the log box change: the timers run on.
    w_.members.flashState = FlashState::Idle;
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    w_.logPrependByRewriting(interruptionNotice);
}

void RunControl::startRun() {
    // A run begins clean: what a cancelled run left running must not end or disturb it.
    w_.TimerdotNotReceived->setEnabled(false);
    w_.Timersendf->setEnabled(false);
    w_.TimerSendFile->setEnabled(false);
    w_.btnFlash->setEnabled(false);
    w_.members.restartCountdown = 60;
    showCountdown();
    w_.Timerresettobootprg->setEnabled(true);
    w_.members.flashState = FlashState::WaitingForBoot;
    ++w_.members.programmingRun;
    w_.Timersendi->setEnabled(true);
}

void RunControl::showCountdown() {
    w_.btnFlash->setText(QStringLiteral("Waiting restart: ") +
                         QString::number(w_.members.restartCountdown));
}

void RunControl::Timerresettobootprg_Timer() {
    if (w_.members.restartCountdown >= 1) {
        w_.btnFlash->setEnabled(false);
        --w_.members.restartCountdown;
        showCountdown();
        return;
    }
    if (w_.members.flashState == FlashState::WaitingForBoot) {
        w_.members.flashState = FlashState::Idle;
        w_.logAppendByRewriting(QStringLiteral("\r\nRestart to bootprogram failled!"));
        w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
        w_.btnFlash->setEnabled(true);
    }
    w_.Timerresettobootprg->setEnabled(false);
}

void RunControl::Timersendi_Timer() {
    w_.Send(wakeUpCharacter, false);
    if (w_.members.restartCountdown == 0)
        w_.Timersendi->setEnabled(false);
}

void RunControl::Timersendf_Timer() {
    w_.Timersendf->setEnabled(false);
    w_.Send(readyRequestCharacter, false);
}

void RunControl::TimerdotNotReceived_Timer() {
    w_.setStatusText(QStringLiteral("Programming FAILLED"));
    w_.members.flashState = FlashState::Idle;
    w_.TimerdotNotReceived->setEnabled(false);
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    w_.btnFlash->setEnabled(true);
    // Every change is made before the box holds this handler.
    w_.showMessageBox(QStringLiteral("Error: DOT Timeout"), MessageIcon::Critical);
}

} // namespace norvak
