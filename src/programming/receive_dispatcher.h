#pragma once

// The handler of the serial control's receive event: the only reader of what the device
// sends. Every character moves the programming run under the state of that moment and is
// then appended to the log box as it came.

#include <QByteArray>

namespace norvak {

class frmProg;

class ReceiveDispatcher {
public:
    explicit ReceiveDispatcher(frmProg& window)
        : w_(window) {}

    void MSComm1_OnComm();

private:
    void reportErrorEvent();
    void handleCharacter(const QByteArray& ch);
    void onAnyCharacterWhileIdle();
    void onBootProgramStarted();
    void onReadyForFile();
    void onLineAccepted();
    void onProgrammed();
    void echo(const QByteArray& ch);

    frmProg& w_;
};

} // namespace norvak
