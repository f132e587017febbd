#include "programming/receive_dispatcher.h"

#include "mainwindow/frmprog.h"
#include "mainwindow/logbox/logbox.h"

#include <QPushButton>

namespace norvak {

void ReceiveDispatcher::MSComm1_OnComm() {
    SerialControl& comm = w_.MSComm1();
    try {
        if (comm.CommEvent() > 1000)
            reportErrorEvent();
        // Drain until the buffer is found empty, also while more keeps arriving.
        do {
            if (comm.InBufferCount() > 0) {
                const QByteArray ch = comm.Input();
                handleCharacter(ch);
                echo(ch);
            }
        } while (comm.InBufferCount() != 0);
    } catch (const std::exception&) {
        // Any failure abandons the rest of this event silently; what was done stays (the
        // characters handled are shown), and those not yet read wait for the next event.
        flushEcho();
        return;
    }
    flushEcho();
    w_.toolkit().yield();
}

void ReceiveDispatcher::reportErrorEvent() {
    const auto event = w_.MSComm1().CommEvent();
    w_.showMessageBox(QStringLiteral("COM error ") + QString::number(event), MessageIcon::None);
}

namespace {

bool is(const QByteArray& ch, char protocolCharacter) {
    return ch.size() == 1 && ch.front() == protocolCharacter;
}

} // namespace

void ReceiveDispatcher::handleCharacter(const QByteArray& ch) {
    // The state is read anew for every character: the one before may have changed it. A
    // transition shows its caption with every character before it already in the log box.
    switch (w_.members.flashState) {
    case FlashState::Idle:
        onAnyCharacterWhileIdle();
        break;
    case FlashState::WaitingForBoot:
        if (is(ch, '>')) {
            flushEcho();
            onBootProgramStarted();
        }
        break;
    case FlashState::WaitingForReady:
        if (is(ch, '_')) {
            flushEcho();
            onReadyForFile();
        }
        break;
    case FlashState::Sending:
        if (is(ch, '.'))
            onLineAccepted(); // only a timer: nothing that shows or reads the log box
        if (is(ch, 'P')) {
            flushEcho();
            onProgrammed();
        }
        break;
    }
}

void ReceiveDispatcher::onAnyCharacterWhileIdle() {
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    if (w_.portOpenAndFileChosen())
        w_.btnFlash->setEnabled(true);
}

void ReceiveDispatcher::onBootProgramStarted() {
    w_.setStatusText(QStringLiteral("Bootprogram started"));
    w_.members.flashState = FlashState::WaitingForReady;
    w_.Timerresettobootprg->setEnabled(false);
    w_.btnFlash->setText(QStringLiteral("CANCEL"));
    w_.btnFlash->setEnabled(true);
    w_.members.restartCountdown = 60;
    w_.Timersendi->setEnabled(false);
    w_.Timersendf->setEnabled(true);
    w_.TimerdotNotReceived->setEnabled(true);
}

void ReceiveDispatcher::onReadyForFile() {
    w_.setStatusText(QStringLiteral("Sending File"));
    w_.members.flashState = FlashState::Sending;
    w_.TimerSendFile->setEnabled(true);
}

void ReceiveDispatcher::onLineAccepted() {
    // Off and on again: the watchdog's full interval starts anew.
    w_.TimerdotNotReceived->setEnabled(false);
    w_.TimerdotNotReceived->setEnabled(true);
}

void ReceiveDispatcher::onProgrammed() {
    w_.setStatusText(QStringLiteral("PROGRAMMED"));
    w_.btnFlash->setText(QStringLiteral("START PROGRAMMING"));
    w_.members.flashState = FlashState::Idle;
    w_.TimerdotNotReceived->setEnabled(false);
}

void ReceiveDispatcher::echo(const QByteArray& ch) {
    pendingEcho_.append(ch);
    if (pendingEcho_.size() >= kEchoBlock)
        flushEcho();
}

void ReceiveDispatcher::flushEcho() {
    if (pendingEcho_.isEmpty())
        return;
    // Each byte is shown as the character with that code; nothing is filtered.
    const QString text = QString::fromLatin1(pendingEcho_);
    pendingEcho_.resize(0); // keeps its capacity for the next drain
    w_.logAppendAtEnd(text);
}

} // namespace norvak
