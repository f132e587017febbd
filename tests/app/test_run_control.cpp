// The programming run's state table on the virtual clock: START and CANCEL, the countdown,
// the wake-up sender, the ready request, the dot watchdog and the receive dispatcher.

#include "tests/support/window_rig.h"

#include <QFile>
#include <QTest>

#include <functional>
#include <vector>

using namespace norvak;
using namespace norvak::test;

class TestRunControl : public QObject {
    Q_OBJECT

private slots:
    void startWithoutPortOrFileOnlyDisables();
    void startCountsDownAndSendsWakeUps();
    void countdownRunsOutAtTheSixtyFirstTick();
    void bootAnswerLeadsToReadyRequestAndWatchdog();
    void bootAndReadyInOneBurst();
    void protocolCharactersOutsideTheirStateAreOnlyEchoed_data();
    void protocolCharactersOutsideTheirStateAreOnlyEchoed();
    void anyCharacterWhileIdleReenablesStart();
    void everyByteIsEchoedAsItCame();
    void dotsKeepTheWatchdogAtBayAndItFiresAfterAGap();
    void programmedEndsTheRunAndLaterCharactersAreIdle();
    void cancelWhileWaitingForBootLeavesCountdownRunning();
    void cancelAfterBootIsFollowedByTheWatchdogReport();
    void connectWhileWaitingForBootStopsTheWaitQuietly();
    void startAgainAfterCancelBeforeTheWatchdog();
    void startRightAfterCancelWhileSendingStopsTheOldFile();
    void errorEventIsReportedBeforeTheDataIsHandled();
    void eventWithoutDataOnlyYields();
    void watchdogChangesEverythingBeforeItsBox();
    void eachEndingRowAnnouncesTheRunsEndOnce_data();
    void eachEndingRowAnnouncesTheRunsEndOnce();
    void eachNewRunIsAnnouncedAgain();
    void portGoneDuringTheCountdownIsReopenedWhenBack();
    void portNotBackWhenTheCountdownEndsFailsAsTheCountdown();
    void portGoneAfterTheBootAnswerEndsTheRun();
    void cancelWhilePortIsAwayReportsTheLoss();
};

namespace {

const QByteArray oneLineFile = "S00600004844521B\r\n";

int count(const QByteArray& bytes, char c) {
    return static_cast<int>(bytes.count(c));
}

} // namespace

void TestRunControl::startWithoutPortOrFileOnlyDisables() {
    WindowRig rig;
    rig.pressConnect();
    rig.forceStartButton(true); // no file was ever chosen: nothing an operator does enables it
    rig.press(Button::Flash);   // no file
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
}

void TestRunControl::startCountsDownAndSendsWakeUps() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 60"));
    rig.tick(Milliseconds(999));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 60"));
    QCOMPARE(count(rig.serial->wire, 'i'), 199);
    rig.tick(Milliseconds(1));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 59"));
    QCOMPARE(rig.serial->wire, QByteArray(200, 'i'));
}

void TestRunControl::countdownRunsOutAtTheSixtyFirstTick() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.typeIntoLog("boot log");
    rig.tick(Milliseconds(60'000));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 0"));
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    // The wake-up sender stops at its first tick after the countdown reached 0: one tick
    // per 5 ms from START gives 12000 by then, and at most one more follows.
    rig.tick(Milliseconds(5));
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(rig.serial->wire.size() >= 12000 && rig.serial->wire.size() <= 12001);
    QCOMPARE(rig.serial->wire.count('i'), rig.serial->wire.size());
    rig.tick(Milliseconds(995));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.logText(), QStringLiteral("boot log\r\nRestart to bootprogram failled!"));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    QVERIFY(!rig.timerOn(TimerRole::Countdown));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QVERIFY(rig.toolkit.messages.empty());
}

void TestRunControl::bootAnswerLeadsToReadyRequestAndWatchdog() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.tick(Milliseconds(10'000));
    rig.receive(">");
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Bootprogram started"));
    QCOMPARE(rig.state(), FlashState::WaitingForReady);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("CANCEL"));
    QVERIFY(rig.enabled(Button::Flash));
    QCOMPARE(rig.restartCountdown(), 60);
    QVERIFY(!rig.timerOn(TimerRole::Countdown));
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(rig.timerOn(TimerRole::ReadyRequest));
    QVERIFY(rig.timerOn(TimerRole::DotWatchdog));
    QCOMPARE(rig.logText(), QStringLiteral(">"));
    const QByteArray before = rig.serial->wire;
    rig.tick(Milliseconds(332));
    QCOMPARE(rig.serial->wire, before);
    rig.tick(Milliseconds(1));
    QCOMPARE(rig.serial->wire, before + "f");
    QVERIFY(!rig.timerOn(TimerRole::ReadyRequest));
    rig.tick(Milliseconds(1000));
    QCOMPARE(rig.serial->wire, before + "f"); // once per switching on
}

void TestRunControl::bootAndReadyInOneBurst() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.receive(">_");
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Sending File"));
    QCOMPARE(rig.state(), FlashState::Sending);
    QVERIFY(rig.timerOn(TimerRole::ReadyRequest));
    QVERIFY(rig.timerOn(TimerRole::DotWatchdog));
    QVERIFY(rig.timerOn(TimerRole::FileSender));
    QCOMPARE(rig.logText(), QStringLiteral(">_"));
}

void TestRunControl::protocolCharactersOutsideTheirStateAreOnlyEchoed_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("ch");
    QTest::newRow("dot while waiting for ready") << 2 << QByteArray(".");
    QTest::newRow("P while waiting for boot") << 1 << QByteArray("P");
    QTest::newRow("dot while waiting for boot") << 1 << QByteArray(".");
    QTest::newRow("underscore while waiting for boot") << 1 << QByteArray("_");
    QTest::newRow("boot answer while sending") << 3 << QByteArray(">");
    QTest::newRow("lower-case p while sending") << 3 << QByteArray("p");
}

void TestRunControl::protocolCharactersOutsideTheirStateAreOnlyEchoed() {
    QFETCH(int, state);
    QFETCH(QByteArray, ch);
    WindowRig rig;
    rig.startAndReachSending(oneLineFile);
    rig.forceTimerOff(TimerRole::FileSender);
    rig.force({.state = static_cast<FlashState>(state)});
    rig.press(Button::ClearScreen);
    const QString caption = rig.caption();
    const bool watchdog = rig.timerOn(TimerRole::DotWatchdog);
    rig.tick(Milliseconds(1000));
    rig.receive(ch);
    QCOMPARE(rig.state(), static_cast<FlashState>(state));
    QCOMPARE(rig.caption(), caption);
    QCOMPARE(rig.logText(), QString::fromLatin1(ch));
    QCOMPARE(rig.timerOn(TimerRole::DotWatchdog), watchdog);
    // A dot outside Sending does not restart the watchdog: it fires 3000 ms after ">".
    rig.tick(Milliseconds(2000));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Programming FAILLED"));
}

void TestRunControl::anyCharacterWhileIdleReenablesStart() {
    WindowRig rig;
    rig.pressConnect();
    rig.chooseFile(rig.writeFile("a.srec", oneLineFile));
    // A run cancelled while waiting for the boot program counts down to 0 with START disabled.
    rig.pressStart();
    rig.chooseFile(rig.fileName());
    rig.press(Button::Flash); // CANCEL
    rig.tick(Milliseconds(61'000));
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 0"));
    rig.receive(">");
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
}

void TestRunControl::everyByteIsEchoedAsItCame() {
    WindowRig rig;
    rig.pressConnect();
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(static_cast<char>(b));
    }
    all += "\r\n\n\r";
    rig.receive(all);
    QCOMPARE(rig.logText(), QString::fromLatin1(all));
    // The operator's typing stays; the next character goes after it at the end.
    rig.typeIntoLog("typed");
    rig.receive("x");
    QVERIFY(rig.logText().endsWith("typedx"));
}

void TestRunControl::dotsKeepTheWatchdogAtBayAndItFiresAfterAGap() {
    WindowRig rig;
    QByteArray file;
    for (int i = 0; i < 40; ++i) {
        file += "S1050000000AF0\r\n";
    }
    rig.startAndReachSending(file);
    rig.forceTimerOff(TimerRole::FileSender); // the dots alone are under test here
    rig.receive(".");
    for (int i = 0; i < 20; ++i) {
        rig.tick(Milliseconds(2999));
        rig.receive(".");
    }
    QCOMPARE(rig.state(), FlashState::Sending);
    QVERIFY(rig.toolkit.messages.empty());
    rig.tick(Milliseconds(3000));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption().left(44),
             QStringLiteral("Norvak Flash Programmer, Programming FAILLED"));
    QCOMPARE(rig.toolkit.messages.size(), std::size_t{1});
    QCOMPARE(rig.toolkit.messages[0].text, QStringLiteral("Error: DOT Timeout"));
    QCOMPARE(rig.toolkit.messages[0].icon, MessageIcon::Critical);
    QCOMPARE(rig.toolkit.messages[0].title, QStringLiteral("Norvak Flash Programmer"));
}

void TestRunControl::programmedEndsTheRunAndLaterCharactersAreIdle() {
    WindowRig rig;
    rig.startAndReachSending(oneLineFile);
    rig.tick(Milliseconds(1000)); // the streamer sends its one line
    rig.receive(".P");
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, PROGRAMMED"));
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(!rig.timerOn(TimerRole::DotWatchdog));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    rig.forceStartButton(true, "something else");
    rig.receive("rogrammed");
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    rig.tick(Milliseconds(10'000));
    QVERIFY(rig.toolkit.messages.empty());
    // A second START begins a new run at once.
    rig.press(Button::Flash);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
}

void TestRunControl::cancelWhileWaitingForBootLeavesCountdownRunning() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.typeIntoLog("old");
    rig.tick(Milliseconds(1000));
    // Choosing a file enables the button; the next countdown tick would disable it again.
    rig.chooseFile(rig.fileName());
    rig.press(Button::Flash); // CANCEL
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.logText(),
             QStringLiteral("Ohjelmointi keskeytetty! Ole hyvä ja ohjelmoi laite uudelleen.\r\n"
                            "Kytke laitteesta virrat pois ja takasin päälle!\r\n\r\nold"));
    QVERIFY(rig.timerOn(TimerRole::Countdown));
    QVERIFY(rig.timerOn(TimerRole::WakeUpSender));
    rig.tick(Milliseconds(1000));
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 58"));
    rig.tick(Milliseconds(60'000));
    QVERIFY(!rig.timerOn(TimerRole::Countdown));
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 0"));
    QVERIFY(!rig.logText().contains("failled"));
}

void TestRunControl::cancelAfterBootIsFollowedByTheWatchdogReport() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.receive(">");
    rig.press(Button::Flash); // CANCEL
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.logText().startsWith("Ohjelmointi keskeytetty!"));
    QVERIFY(rig.enabled(Button::Flash));
    rig.tick(Milliseconds(333));
    QVERIFY(rig.serial->wire.endsWith('f')); // the ready request still goes out
    rig.receive("_");
    QCOMPARE(rig.state(), FlashState::Idle); // no transition, no file
    rig.tick(Milliseconds(2667));
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Programming FAILLED"));
    QCOMPARE(rig.toolkit.messages.size(), std::size_t{1});
    QVERIFY(!rig.serial->wire.contains("S0"));
}

void TestRunControl::connectWhileWaitingForBootStopsTheWaitQuietly() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.tick(Milliseconds(2500));
    rig.pressConnect(); // closes
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.restartCountdown(), 0);
    rig.tick(Milliseconds(5));
    QVERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    rig.tick(Milliseconds(1000));
    QVERIFY(!rig.timerOn(TimerRole::Countdown));
    QVERIFY(!rig.logText().contains("failled"));
}

void TestRunControl::startAgainAfterCancelBeforeTheWatchdog() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.receive(">");
    rig.press(Button::Flash); // CANCEL
    rig.tick(Milliseconds(200));
    rig.press(Button::Flash); // START again, before the cancelled run's "f" went out
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    rig.serial->wire.clear();
    // The cancelled run's watchdog, ready request and file sender were switched off: nothing
    // of it ends the new wait or reaches the line.
    rig.tick(Milliseconds(2900));
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QVERIFY(rig.toolkit.messages.empty());
    QVERIFY(!rig.enabled(Button::Flash));
    QCOMPARE(rig.serial->wire, QByteArray(rig.serial->wire.size(), 'i'));
    rig.receive(">");
    QCOMPARE(rig.state(), FlashState::WaitingForReady);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("CANCEL"));
}

void TestRunControl::startRightAfterCancelWhileSendingStopsTheOldFile() {
    WindowRig rig;
    rig.startAndReachSending(QByteArray("S1000001\r\nS1000002\r\nS1000003\r\nS1000004\r\n"));
    rig.serial->wire.clear();
    // The file sender ticks after 1000 ms; CANCEL and START come within the first line's
    // pause, from handlers run in its yields.
    rig.toolkit.after(Milliseconds(1010), [&rig] { rig.press(Button::Flash); });
    rig.toolkit.after(Milliseconds(1040), [&rig] { rig.press(Button::Flash); });
    rig.tick(Milliseconds(5000));
    QVERIFY(!rig.streaming());
    // One whole line of the old file, then only wake-ups.
    const QByteArray firstLine = "S1000001\n";
    QVERIFY(rig.serial->wire.startsWith(firstLine));
    const QByteArray after = rig.serial->wire.mid(firstLine.size());
    QCOMPARE(after, QByteArray(after.size(), 'i'));
    QVERIFY(after.size() > 100);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
}

void TestRunControl::errorEventIsReportedBeforeTheDataIsHandled() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    FlashState stateWhileBoxOpen{};
    QString logWhileBoxOpen;
    rig.toolkit.onMessage = [&](const MessageBoxRequest&) {
        stateWhileBoxOpen = rig.state();
        logWhileBoxOpen = rig.logText();
    };
    rig.serial->raiseError(comm_event::Overrun, ">");
    rig.toolkit.runDue();
    QCOMPARE(rig.toolkit.messages.size(), std::size_t{1});
    QCOMPARE(rig.toolkit.messages[0].text, QStringLiteral("COM error 1006"));
    QCOMPARE(rig.toolkit.messages[0].icon, MessageIcon::None);
    QCOMPARE(rig.toolkit.messages[0].title, QStringLiteral("Norvak Flash Programmer"));
    QCOMPARE(stateWhileBoxOpen, FlashState::WaitingForBoot);
    QVERIFY(logWhileBoxOpen.isEmpty());
    QCOMPARE(rig.state(), FlashState::WaitingForReady);
    QCOMPARE(rig.logText(), QStringLiteral(">"));
}

void TestRunControl::eventWithoutDataOnlyYields() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    const int yields = rig.toolkit.yieldCount;
    rig.serial->raiseEmptyEvent();
    rig.toolkit.runDue();
    QCOMPARE(rig.toolkit.yieldCount, yields + 1);
    QVERIFY(rig.logText().isEmpty());
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
}

void TestRunControl::watchdogChangesEverythingBeforeItsBox() {
    WindowRig rig;
    rig.startAndReachSending(oneLineFile);
    bool settledBeforeBox = false;
    rig.toolkit.onMessage = [&](const MessageBoxRequest&) {
        settledBeforeBox = rig.state() == FlashState::Idle &&
                           !rig.timerOn(TimerRole::DotWatchdog) && rig.enabled(Button::Flash) &&
                           rig.caption(Button::Flash) == "START PROGRAMMING" &&
                           rig.runEnds().size() == 1;
    };
    rig.tick(Milliseconds(3000));
    QVERIFY(settledBeforeBox);
}

namespace {

const QString interruptionNotice =
    QStringLiteral("Ohjelmointi keskeytetty! Ole hyvä ja ohjelmoi laite uudelleen.\r\n"
                   "Kytke laitteesta virrat pois ja takasin päälle!\r\n\r\n");
const QString removedAdapter = QStringLiteral("Port 4 (/dev/ttyUSB3): the device was removed.");

// One way a run ends: `reach` brings the window to just before its ending row, `end` runs the
// row, `after` runs what could end the same run again. "%1" in the description stands for the
// chosen file's path.
struct EndingRow {
    const char* name;
    std::function<void(WindowRig&)> reach;
    std::function<void(WindowRig&)> end;
    std::function<void(WindowRig&)> after;
    RunEndReason reason;
    QString description;
};

void tickOut(WindowRig& rig) {
    rig.tick(Milliseconds(70'000));
}

const std::vector<EndingRow>& endingRows() {
    static const std::vector<EndingRow> rows = {
        {"P", [](WindowRig& rig) { rig.startAndReachSending(oneLineFile); },
         [](WindowRig& rig) {
             rig.tick(Milliseconds(1000)); // the streamer sends its one line
             rig.receive(".P");
         },
         tickOut, RunEndReason::Programmed, "PROGRAMMED"},
        {"the dot watchdog", [](WindowRig& rig) { rig.startAndReachSending(oneLineFile); },
         [](WindowRig& rig) { rig.tick(Milliseconds(3000)); }, tickOut, RunEndReason::DotTimeout,
         "Programming FAILLED"},
        {"the countdown",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.tick(Milliseconds(60'999));
         },
         [](WindowRig& rig) { rig.tick(Milliseconds(1)); }, tickOut, RunEndReason::NoBootProgram,
         "Restart to bootprogram failled!"},
        {"CANCEL, then the watchdog",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.receive(">");
         },
         [](WindowRig& rig) { rig.press(Button::Flash); },
         [](WindowRig& rig) {
             rig.tick(Milliseconds(3000));
             QCOMPARE(rig.caption(),
                      QStringLiteral("Norvak Flash Programmer, Programming FAILLED"));
         },
         RunEndReason::Cancelled, interruptionNotice},
        {"Connect while waiting for the boot program",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.tick(Milliseconds(2500));
         },
         [](WindowRig& rig) { rig.pressConnect(); }, tickOut, RunEndReason::ClosedByConnect, ""},
        {"Connect while the port is away",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.serial->openFailure = QStringLiteral("no such device");
             rig.serial->pullAdapter(removedAdapter);
             rig.tick(Milliseconds(1));
         },
         [](WindowRig& rig) {
             rig.pressConnect(); // it read "Disconnect"
             QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: False"));
             QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
         },
         [](WindowRig& rig) {
             rig.serial->openFailure.reset();
             tickOut(rig);
             QVERIFY(!rig.portOpen()); // nobody looks for it any more
         },
         RunEndReason::ClosedByConnect, ""},
        {"Connect while sending, then the watchdog",
         [](WindowRig& rig) { rig.startAndReachSending(oneLineFile); },
         [](WindowRig& rig) { rig.pressConnect(); },
         [](WindowRig& rig) {
             rig.tick(Milliseconds(3000));
             QCOMPARE(rig.toolkit.messages.size(), std::size_t{1}); // "Error: DOT Timeout"
         },
         RunEndReason::ClosedByConnect, ""},
        // A port lost while the run waits for the boot program is watched for instead.
        {"the adapter pulled",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.receive(">");
         },
         [](WindowRig& rig) {
             rig.serial->pullAdapter(removedAdapter);
             rig.tick(Milliseconds(50));
         },
         tickOut, RunEndReason::PortLost, removedAdapter},
        {"a write refused",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             rig.receive(">");
         },
         [](WindowRig& rig) {
             rig.serial->outputFailure =
                 QStringLiteral("Port 4 (/dev/ttyUSB3): input/output error.");
             rig.tick(Milliseconds(333)); // the "f"
         },
         tickOut, RunEndReason::PortLost, "Port 4 (/dev/ttyUSB3): input/output error."},
        {"Connect cannot open the port",
         [](WindowRig& rig) {
             rig.serial->openFailure = QStringLiteral("Port 4 (/dev/ttyUSB3): no such device.");
         },
         [](WindowRig& rig) { rig.pressConnect(); }, [](WindowRig& rig) { rig.pressConnect(); },
         RunEndReason::ConnectFailed, "Port 4 (/dev/ttyUSB3): no such device."},
        {"Connect refuses the port text",
         [](WindowRig& rig) { rig.setPortText(QStringLiteral("four")); },
         [](WindowRig& rig) { rig.pressConnect(); }, tickOut, RunEndReason::ConnectFailed,
         "Port number \"four\" is not a whole number. Type the number of the serial port, for "
         "example 1."},
        {"the firmware file gone when it is to be sent",
         [](WindowRig& rig) {
             rig.startRun(oneLineFile);
             QVERIFY(QFile::remove(rig.fileName()));
             rig.receive(">");
             rig.tick(Milliseconds(333));
             rig.receive("_");
         },
         [](WindowRig& rig) { rig.tick(Milliseconds(1000)); }, tickOut,
         RunEndReason::FirmwareUnreadable, "Cannot read the firmware file: %1: no such file"},
        {"P, then the adapter pulled",
         [](WindowRig& rig) { rig.startAndReachSending(oneLineFile); },
         [](WindowRig& rig) {
             rig.tick(Milliseconds(1000));
             rig.receive(".P");
         },
         [](WindowRig& rig) {
             rig.serial->pullAdapter(removedAdapter);
             rig.tick(Milliseconds(50));
             QVERIFY(!rig.portOpen());
         },
         RunEndReason::Programmed, "PROGRAMMED"},
    };
    return rows;
}

} // namespace

void TestRunControl::eachEndingRowAnnouncesTheRunsEndOnce_data() {
    QTest::addColumn<std::size_t>("row");
    for (std::size_t i = 0; i < endingRows().size(); ++i) {
        QTest::newRow(endingRows()[i].name) << i;
    }
}

// The run's end is announced by the row that ends it, when it runs, with the window's words
// for it; what ends the same run again later is not announced.
void TestRunControl::eachEndingRowAnnouncesTheRunsEndOnce() {
    QFETCH(std::size_t, row);
    const EndingRow& ending = endingRows()[row];
    WindowRig rig;
    ending.reach(rig);
    QVERIFY(rig.runEnds().empty());
    ending.end(rig);
    QCOMPARE(rig.runEnds().size(), std::size_t{1});
    QCOMPARE(rig.runEnds()[0].reason, ending.reason);
    QCOMPARE(rig.runEnds()[0].description,
             QString(ending.description).replace(QStringLiteral("%1"), rig.fileName()));
    QCOMPARE(rig.state(), FlashState::Idle);
    ending.after(rig);
    QCOMPARE(rig.runEnds().size(), std::size_t{1});
}

void TestRunControl::eachNewRunIsAnnouncedAgain() {
    WindowRig rig;
    rig.startAndReachSending(oneLineFile);
    rig.tick(Milliseconds(1000));
    rig.receive(".P");
    rig.press(Button::Flash); // START again
    rig.tick(Milliseconds(61'000));
    rig.press(Button::Flash); // and once more: the operator closes the port during the wait
    rig.pressConnect();
    QCOMPARE(rig.runEnds().size(), std::size_t{3});
    QCOMPARE(rig.runEnds()[0].reason, RunEndReason::Programmed);
    QCOMPARE(rig.runEnds()[1].reason, RunEndReason::NoBootProgram);
    QCOMPARE(rig.runEnds()[2].reason, RunEndReason::ClosedByConnect);
}

// The device switches its adapter off with itself: the port is closed and looked for every
// 100 ms, and once back opened again; "i" goes on and the countdown never starts anew.
void TestRunControl::portGoneDuringTheCountdownIsReopenedWhenBack() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.tick(Milliseconds(2000));
    rig.serial->openFailure = QStringLiteral("no such device");
    rig.serial->pullAdapter(removedAdapter);
    rig.tick(Milliseconds(1));
    QVERIFY(!rig.portOpen());
    QVERIFY(rig.timerOn(TimerRole::PortWatch));
    QCOMPARE(rig.timerInterval(TimerRole::PortWatch), Milliseconds(100));
    QCOMPARE(rig.portComings(), QStringList{QStringLiteral("away: ") + removedAdapter});
    const QString captionWhileAway = rig.caption();
    const qsizetype wakeUpsBefore = rig.serial->wire.count('i');

    rig.tick(Milliseconds(1499));
    QCOMPARE(rig.serial->wire.count('i'), wakeUpsBefore); // nothing goes to a closed port
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 57"));
    QCOMPARE(rig.caption(), captionWhileAway);
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);

    rig.serial->openFailure.reset();
    rig.tick(Milliseconds(100));
    QVERIFY(rig.portOpen());
    QVERIFY(!rig.timerOn(TimerRole::PortWatch));
    QCOMPARE(rig.portComings().size(), 2);
    QCOMPARE(rig.portComings().back(), QStringLiteral("back"));
    rig.tick(Milliseconds(50));
    QVERIFY(rig.serial->wire.count('i') > wakeUpsBefore);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("Waiting restart: 57"));
    QVERIFY(rig.runEnds().empty());

    rig.receive(">");
    QCOMPARE(rig.state(), FlashState::WaitingForReady);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Bootprogram started"));
}

void TestRunControl::portNotBackWhenTheCountdownEndsFailsAsTheCountdown() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.serial->openFailure = QStringLiteral("no such device");
    rig.serial->pullAdapter(removedAdapter);
    rig.tick(Milliseconds(60'999));
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QVERIFY(rig.runEnds().empty());
    rig.tick(Milliseconds(1));
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.logText().endsWith(QStringLiteral("\r\nRestart to bootprogram failled!")));
    QCOMPARE(rig.runEnds().size(), std::size_t{1});
    QCOMPARE(rig.runEnds()[0].reason, RunEndReason::NoBootProgram);
    for (const TimerRole role : allTimerRoles) {
        QVERIFY(!rig.timerOn(role));
    }
    // The loss is shown as a lost port's: the port stays closed, Connect opens it again.
    QVERIFY(rig.caption().contains(removedAdapter));
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QVERIFY(!rig.connected());
    rig.serial->openFailure.reset();
    rig.tick(Milliseconds(1000));
    QVERIFY(!rig.portOpen());
    QCOMPARE(rig.portComings().size(), 1);
}

void TestRunControl::portGoneAfterTheBootAnswerEndsTheRun() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.receive(">");
    rig.serial->pullAdapter(removedAdapter);
    rig.tick(Milliseconds(1));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.runEnds().size(), std::size_t{1});
    QCOMPARE(rig.runEnds()[0].reason, RunEndReason::PortLost);
    QVERIFY(rig.portComings().isEmpty());
    rig.tick(Milliseconds(1000));
    QVERIFY(!rig.portOpen()); // nobody looks for it
}

// CANCEL while the port is away: nobody waits for it any more, and the loss is shown.
void TestRunControl::cancelWhilePortIsAwayReportsTheLoss() {
    WindowRig rig;
    rig.startRun(oneLineFile);
    rig.serial->pullAdapter(removedAdapter);
    rig.tick(Milliseconds(1));
    rig.forceStartButton(true);
    rig.press(Button::Flash); // no open port: the guard sets Idle
    QCOMPARE(rig.state(), FlashState::Idle);
    rig.tick(Milliseconds(100));
    QVERIFY(!rig.timerOn(TimerRole::PortWatch));
    QVERIFY(!rig.portOpen());
    QVERIFY(rig.caption().contains(removedAdapter));
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
}

QTEST_MAIN(TestRunControl)
#include "test_run_control.moc"
