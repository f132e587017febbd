// The rig's vocabulary reaches the controls and timers it names: a role mapped to the wrong
// control would let every test that uses it check something else.

#include "tests/support/window_rig.h"

#include "mainwindow/control_names.h"

#include <QSet>
#include <QTest>

using namespace norvak;
using namespace norvak::test;
using namespace std::chrono_literals;

class TestWindowRig : public QObject {
    Q_OBJECT

private slots:
    void eachButtonRoleDoesWhatItsControlDoes();
    void eachTimerRoleIsTheTimerOfThatRole();
    void visibleButtonsComeInTheWindowsOrder();
    void typingGoesToTheEndOfTheLogAndTheSpeedField();
    void forcingSetsOnlyTheValuesGiven();
    void theNamesListNamesEveryControlOnce();
};

void TestWindowRig::eachButtonRoleDoesWhatItsControlDoes() {
    WindowRig rig;
    rig.pressConnect();
    QVERIFY(rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    rig.press(Button::F);
    rig.press(Button::G);
    QCOMPARE(rig.serial->wire, QByteArray("fg"));
    rig.press(Button::SFile);
    QVERIFY(rig.timerOn(TimerRole::FileSender));
    rig.press(Button::Help);
    QCOMPARE(rig.toolkit.messages.size(), std::size_t{1});
    QCOMPARE(rig.toolkit.messages[0].text, WindowRig::helpText());
    rig.receive("text");
    rig.press(Button::ClearScreen);
    QVERIFY(rig.logText().isEmpty());
    const QString path = rig.writeFile("fw.srec", "S1000001\r\n");
    rig.chooseFile(path);
    QCOMPARE(rig.toolkit.dialogs.size(), std::size_t{1});
    QCOMPARE(rig.fileLabel(), path);
    rig.press(Button::Flash);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 60"));
}

void TestWindowRig::eachTimerRoleIsTheTimerOfThatRole() {
    WindowRig rig;
    rig.startRun("S1000001\r\n");
    // Two timers of 1000 ms: only the countdown runs while waiting for the boot program.
    QVERIFY(rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(rig.timerOn(TimerRole::Countdown));
    QVERIFY(!rig.timerOn(TimerRole::FileSender));
    QVERIFY(!rig.timerOn(TimerRole::ReadyRequest));
    QVERIFY(!rig.timerOn(TimerRole::DotWatchdog));
    rig.receive(">");
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(!rig.timerOn(TimerRole::Countdown));
    QVERIFY(rig.timerOn(TimerRole::ReadyRequest));
    QVERIFY(rig.timerOn(TimerRole::DotWatchdog));
    rig.tick(333ms);
    rig.receive("_");
    QVERIFY(rig.timerOn(TimerRole::FileSender));
    QCOMPARE(rig.timerInterval(TimerRole::WakeUpSender), Milliseconds(5));
    QCOMPARE(rig.timerInterval(TimerRole::ReadyRequest), Milliseconds(333));
    QCOMPARE(rig.timerInterval(TimerRole::DotWatchdog), Milliseconds(3000));
}

void TestWindowRig::visibleButtonsComeInTheWindowsOrder() {
    WindowRig rig;
    rig.show();
    const std::vector<Button> expected = {Button::Connect, Button::Flash, Button::Help,
                                          Button::Browse, Button::ClearScreen};
    QVERIFY(rig.visibleButtons() == expected);
    for (const Button hidden : {Button::F, Button::G, Button::SFile}) {
        QVERIFY(!rig.visible(hidden));
    }
}

void TestWindowRig::typingGoesToTheEndOfTheLogAndTheSpeedField() {
    WindowRig rig;
    rig.pressConnect();
    rig.receive("ab\r\ncd");
    rig.typeIntoLog("ef");
    QCOMPARE(rig.logText(), QStringLiteral("ab\r\ncdef"));
    QVERIFY(rig.activate());
    rig.typeSpeed("40");
    QCOMPARE(rig.focusedControl(), QStringLiteral("Combospeed"));
    QCOMPARE(rig.speedText(), QStringLiteral("40"));
    QCOMPARE(rig.speedItem(), 1);
}

void TestWindowRig::forcingSetsOnlyTheValuesGiven() {
    WindowRig rig;
    rig.force({.restartCountdown = 5});
    QCOMPARE(rig.restartCountdown(), 5);
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.fileName().isEmpty());
    rig.force({.state = FlashState::Sending, .fileName = QStringLiteral("x.srec")});
    QCOMPARE(rig.state(), FlashState::Sending);
    QCOMPARE(rig.fileName(), QStringLiteral("x.srec"));
    QCOMPARE(rig.restartCountdown(), 5);
}

// The window, the rig and the scripted run find controls by the one names list: a control made
// without its name, or named off the list, would be missed by some of them.
void TestWindowRig::theNamesListNamesEveryControlOnce() {
    WindowRig rig;
    QWidget& window = rig.widget();
    QSet<QString> listed;
    for (const QLatin1StringView name : control_name::all) {
        listed.insert(name);
        QCOMPARE(window.findChildren<QWidget*>(name).size(), qsizetype{1});
    }
    QCOMPARE(listed.size(), static_cast<qsizetype>(control_name::all.size()));
    // The controls: the window's own children and those of the "Com settings" frame.
    QWidget& frame = *window.findChild<QWidget*>(control_name::Frame9);
    QSet<QString> made;
    for (const QWidget* parent : {&window, &frame}) {
        for (const QWidget* control : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            made.insert(control->objectName());
        }
    }
    QCOMPARE(made, listed);
}

QTEST_MAIN(TestWindowRig)
#include "test_window_rig.moc"
