// A boot program that misbehaves: garbage instead of ">", ">" over and over, "." and "P" in
// the wrong states, and dots that stop half-way through the file.

#include "tests/support/device_rig.h"

#include <QTest>
#include <QTimer>

using namespace norvak;
using test::Button;
using test::TimerRole;
using namespace norvak::faults;
using namespace std::chrono_literals;

class TestFaultsDevice : public QObject {
    Q_OBJECT

private slots:
    void garbageInsteadOfThePromptEndsInTheRestartFailure();
    void promptsOverAndOverChangeNothingAfterTheFirst();
    void dotAndEndInTheWrongStatesAreOnlyShown();
    void dotsStoppingHalfWayEndInTheWatchdogReport();
    void bytesAroundTheStartOfTheFileLeaveTheDotsAlone();
};

namespace {

SimDeviceConfig poweredOnAfterWakeUps() {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 300ms;
    return config;
}

const QString restartFailure = QStringLiteral("\r\nRestart to bootprogram failled!");

// The device got wake-ups only, then one "f" and exactly the file.
void verifyTheWire(const SimRecording& recording, const QString& firmware) {
    const QByteArray received = QByteArray::fromStdString(recording.received);
    const qsizetype firstF = received.indexOf('f');
    QVERIFY(firstF > 0);
    QCOMPARE(received.left(firstF), QByteArray(firstF, 'i'));
    QCOMPARE(received.mid(firstF + 1), expectedStream(readFile(firmware)));
}

} // namespace

void TestFaultsDevice::garbageInsteadOfThePromptEndsInTheRestartFailure() {
    SimDeviceConfig config = poweredOnAfterWakeUps();
    config.garbagePrompt = true;
    config.seed = 5;
    DeviceRig rig(config);
    rig.pressConnect();
    rig.chooseFile(firmwarePath("small-crlf.srec"));
    rig.pressStart();
    QTRY_VERIFY_WITH_TIMEOUT(rig.device().recording().sent.size() >= 50, 10'000);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QVERIFY(rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(rig.caption(Button::Flash).startsWith("Waiting restart: "));

    // The countdown is cut short rather than waited out for a minute.
    rig.force({.restartCountdown = 1});
    QTRY_COMPARE_WITH_TIMEOUT(rig.state(), FlashState::Idle, 5000);
    QVERIFY(rig.logText().contains(restartFailure));
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    QTRY_VERIFY(!rig.timerOn(TimerRole::WakeUpSender));
    QVERIFY(!rig.timerOn(TimerRole::Countdown));

    // Nothing but wake-ups went out, and every garbage byte stands in the log box around the
    // one failure line (answers to the last wake-ups may still follow it).
    const int wakeUps = rig.serial->outputCalls;
    QTest::qWait(200);
    QCOMPARE(rig.serial->outputCalls, wakeUps);
    const SimRecording recording = rig.device().recording();
    QCOMPARE(QByteArray::fromStdString(recording.received),
             QByteArray(static_cast<qsizetype>(recording.received.size()), 'i'));
    QVERIFY(recording.sent.find('>') == std::string::npos);
    QString log = rig.logText();
    QCOMPARE(log.count(restartFailure), 1);
    log.remove(restartFailure);
    QTRY_COMPARE(log, QString::fromLatin1(rig.device().recording().sent));
    QVERIFY(rig.messages.empty());
}

void TestFaultsDevice::promptsOverAndOverChangeNothingAfterTheFirst() {
    DeviceRig rig(poweredOnAfterWakeUps());
    rig.pressConnect();
    const QString firmware = firmwarePath("small-lf.srec");
    rig.chooseFile(firmware);
    rig.pressStart();
    const std::string prompts(200, '>');
    bool whileWaitingForReady = false;
    bool whileSending = false;
    rig.once([&rig] { return rig.state() == FlashState::WaitingForReady; },
             [&] {
                 whileWaitingForReady = true;
                 rig.device().sendRaw(prompts);
             });
    rig.once([&rig] { return rig.device().recording().acceptedLines.size() >= 3; },
             [&] {
                 whileSending = rig.state() == FlashState::Sending;
                 rig.device().sendRaw(prompts);
             });
    QTRY_VERIFY_WITH_TIMEOUT(rig.device().recording().programmedFiles.size() == 1, 30'000);
    QTRY_VERIFY(!rig.streaming());
    QVERIFY(whileWaitingForReady);
    QVERIFY(whileSending);
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.captions.contains("Norvak Flash Programmer, PROGRAMMED"));
    QCOMPARE(rig.captions.count("Norvak Flash Programmer, Bootprogram started"), 1);
    QCOMPARE(rig.captions.count("Norvak Flash Programmer, Sending File"), 1);
    const SimRecording recording = rig.device().recording();
    verifyTheWire(recording, firmware);
    QVERIFY(std::count(recording.sent.begin(), recording.sent.end(), '>') >= 400);
    QTRY_COMPARE(rig.logText(), QString::fromLatin1(rig.device().recording().sent));
    QVERIFY(rig.messages.empty());
}

void TestFaultsDevice::dotAndEndInTheWrongStatesAreOnlyShown() {
    DeviceRig rig(SimDeviceConfig{}); // restarted by the test
    const std::string wrong = ".P._P.";
    rig.pressConnect();
    // Idle: shown, nothing else.
    rig.device().sendRaw(wrong);
    QTRY_COMPARE(rig.logText(), QString::fromStdString(wrong));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));

    const QString firmware = firmwarePath("small-crlf.srec");
    rig.chooseFile(firmware);
    rig.pressStart();
    // Waiting for the boot program: an end or a dot is no prompt.
    rig.device().sendRaw(wrong);
    QTRY_COMPARE(rig.logText(), QString::fromStdString(wrong + wrong));
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QVERIFY(!rig.timerOn(TimerRole::DotWatchdog));

    // Waiting for "_": the prompt and the wrong bytes come in one burst, and the ready request
    // goes out only 333 ms after the prompt, so they all arrive before "_".
    rig.device().powerCycle();
    rig.device().sendRaw(">.P.P");
    QTRY_COMPARE(rig.state(), FlashState::Sending);
    QTRY_VERIFY_WITH_TIMEOUT(rig.device().recording().programmedFiles.size() == 1, 30'000);
    QTRY_VERIFY(!rig.streaming());

    // The run saw exactly one end: the device's own, after the whole file.
    QCOMPARE(rig.captions.count("Norvak Flash Programmer, PROGRAMMED"), 1);
    const qsizetype sending = rig.captions.indexOf("Norvak Flash Programmer, Sending File");
    QVERIFY(sending > 0);
    QVERIFY(rig.captions.indexOf("Norvak Flash Programmer, PROGRAMMED") > sending);
    QVERIFY(!rig.captions.mid(0, sending).contains("Norvak Flash Programmer, PROGRAMMED"));
    const SimRecording recording = rig.device().recording();
    verifyTheWire(recording, firmware);
    QCOMPARE(recording.programmedFiles[0].lines, 66);
    QTRY_COMPARE(rig.logText(), QString::fromLatin1(rig.device().recording().sent));
    QVERIFY(rig.messages.empty());
}

void TestFaultsDevice::dotsStoppingHalfWayEndInTheWatchdogReport() {
    SimDeviceConfig config = poweredOnAfterWakeUps();
    config.dotsStopAfterLine = 40;
    DeviceRig rig(config);
    rig.pressConnect();
    // The larger file takes longer to send than the watchdog waits.
    rig.chooseFile(firmwarePath("sample-crlf.srec"));
    rig.pressStart();
    QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), std::size_t{1}, 30'000);
    QCOMPARE(rig.messages[0].text, QStringLiteral("Error: DOT Timeout"));
    QCOMPARE(rig.messages[0].icon, MessageIcon::Critical);
    QVERIFY(rig.captions.contains("Norvak Flash Programmer, Programming FAILLED"));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    QVERIFY(!rig.timerOn(TimerRole::DotWatchdog));
    // The streamer stops at its next look at the state; the line stays quiet after that.
    QTRY_VERIFY(!rig.streaming());
    const int outputs = rig.serial->outputCalls;
    QTest::qWait(300);
    QCOMPARE(rig.serial->outputCalls, outputs);
    const SimRecording recording = rig.device().recording();
    QVERIFY(recording.dots.size() == 40);
    QVERIFY(recording.acceptedLines.size() < 258);
    QVERIFY(recording.programmedFiles.empty());
    QCOMPARE(rig.messages.size(), std::size_t{1});
}

// Bytes that keep coming while the file sender's tick falls due (line noise, a chatty boot
// program): the run must start outside the receive handler, or it sees none of its dots.
void TestFaultsDevice::bytesAroundTheStartOfTheFileLeaveTheDotsAlone() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        DeviceRig rig(poweredOnAfterWakeUps());
        rig.pressConnect();
        const QString firmware = firmwarePath("sample-crlf.srec"); // longer than the watchdog
        rig.chooseFile(firmware);
        rig.pressStart();
        QTimer noise;
        noise.setInterval(1);
        QObject::connect(&noise, &QTimer::timeout, [&rig] {
            if (rig.state() == FlashState::Sending &&
                rig.device().recording().acceptedLines.empty()) {
                rig.device().sendRaw("\x80");
            }
        });
        noise.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig.messages.empty() || rig.device().recording().programmedFiles.size() == 1, 60'000);
        QCOMPARE(rig.messages.size(), std::size_t{0}); // no "Error: DOT Timeout"
        QTRY_VERIFY(!rig.streaming());
        verifyTheWire(rig.device().recording(), firmware);
    }
}

QTEST_MAIN(TestFaultsDevice)
#include "test_device_faults.moc"
