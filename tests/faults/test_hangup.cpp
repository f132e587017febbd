// The adapter unplugged while connected and idle and in the middle of the file: one report in
// the error form of the caption, the port closed, the run over, nothing more written, and
// Connect works again once a device is back. While the run waits for the boot program, the
// port is watched for instead and the run goes on once it is back.

#include "tests/support/device_rig.h"
#include "tests/support/window_rig.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace norvak;
using test::Button;
using test::TimerRole;
using namespace norvak::faults;
using namespace std::chrono_literals;

class TestFaultsHangUp : public QObject {
    Q_OBJECT

private slots:
    void unpluggedWhileIdle();
    void unpluggedWhileWaitingForTheBootProgramIsWatchedForUntilBack();
    void powerCycleRemovingThePortDuringTheCountdown();
    void unpluggedInTheMiddleOfTheFileThenAWholeRunOnTheNextDevice();
    void aFailedWriteDuringTheFileIsReportedAsALostPort();
};

namespace {

SimDeviceConfig poweredOnAfterWakeUps() {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 300ms;
    return config;
}

// Checks the one report of an unplugged adapter and the state it leaves, `settle` later.
void verifyTheReport(DeviceRig& rig, std::chrono::milliseconds settle) {
    QTRY_VERIFY_WITH_TIMEOUT(errorCaption.match(rig.caption()).hasMatch(), 5000);
    const int outputsAtReport = rig.serial->outputCalls;
    QVERIFY2(rig.caption().contains("the connection to the device was lost"),
             qPrintable(rig.caption()));
    // Whichever way the loss was found (a read, or a write refused), no stale errno speaks.
    QVERIFY2(!rig.caption().contains("ioctl") && !rig.caption().contains("temporarily"),
             qPrintable(rig.caption()));
    QVERIFY(!rig.portOpen());
    QVERIFY(!rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    for (const TimerRole timer : allTimerRoles) {
        QVERIFY(!rig.timerOn(timer));
    }
    QTRY_VERIFY(!rig.streaming());

    QTest::qWait(static_cast<int>(settle.count()));
    QCOMPARE(rig.serial->outputCalls, outputsAtReport);
    QCOMPARE(rig.errorCaptionCount(), 1);
    QVERIFY2(errorCaption.match(rig.caption()).hasMatch(), qPrintable(rig.caption()));
    QVERIFY(rig.messages.empty());

    // Still at the operator's service: Clear screen works, and Connect with the adapter out
    // is refused with its own report while the port stays closed.
    rig.press(Button::ClearScreen);
    QVERIFY(rig.logText().isEmpty());
    rig.pressConnect();
    QVERIFY2(rig.caption().contains("no serial port found"), qPrintable(rig.caption()));
    QVERIFY(!rig.portOpen());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
}

void plugInAndConnect(DeviceRig& rig, const SimDeviceConfig& config) {
    rig.plugIn(config);
    rig.pressConnect();
    QCOMPARE(rig.caption(), QStringLiteral("Norvak Flash Programmer, Connect: True"));
    QVERIFY(rig.portOpen());
    QVERIFY(rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
}

} // namespace

void TestFaultsHangUp::unpluggedWhileIdle() {
    DeviceRig rig(SimDeviceConfig{});
    rig.pressConnect();
    QVERIFY(rig.portOpen());
    rig.unplug();
    verifyTheReport(rig, 500ms);
    if (QTest::currentTestFailed()) {
        return;
    }
    plugInAndConnect(rig, SimDeviceConfig{});
}

// The port goes while "i" goes out: nothing is reported or written while it is away, and a
// device on the same port number is opened as soon as it is there; the run goes on.
void TestFaultsHangUp::unpluggedWhileWaitingForTheBootProgramIsWatchedForUntilBack() {
    DeviceRig rig(SimDeviceConfig{}); // never restarted: it stays in its application
    rig.pressConnect();
    rig.chooseFile(firmwarePath("small-crlf.srec"));
    rig.pressStart();
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QTRY_VERIFY(rig.device().recording().received.size() >= 10);
    rig.unplug();
    QTRY_VERIFY(rig.timerOn(TimerRole::PortWatch));
    const int outputsWhileAway = rig.serial->outputCalls;
    QTest::qWait(1500);
    QCOMPARE(rig.serial->outputCalls, outputsWhileAway);
    QVERIFY(!rig.portOpen());
    QCOMPARE(rig.errorCaptionCount(), 0);
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Disconnect"));
    QVERIFY(rig.caption(Button::Flash).startsWith(QStringLiteral("Waiting restart: ")));

    rig.plugIn(poweredOnAfterWakeUps());
    const QString message = QString::fromLatin1(SimDevice::programmedMessage);
    QTRY_VERIFY_WITH_TIMEOUT(rig.logText().endsWith(message), 30'000);
    QTRY_COMPARE(rig.runEnds().size(), std::size_t{1});
    QCOMPARE(rig.device().recording().programmedFiles.size(), std::size_t{1});
    QCOMPARE(rig.errorCaptionCount(), 0);
    QCOMPARE(rig.portComings().size(), 2);
    QCOMPARE(rig.runEnds()[0].reason, RunEndReason::Programmed);
}

// A device that powers its own adapter: switched off and on during the countdown, its port
// is gone for 1.5 s and comes back as a new pseudo-terminal behind the same path.
void TestFaultsHangUp::powerCycleRemovingThePortDuringTheCountdown() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimDeviceConfig config;
    config.linkPath = dir.filePath(QStringLiteral("ttyNORVAK")).toStdString();
    DeviceRig rig(config);
    rig.pressConnect();
    QVERIFY(rig.portOpen());
    rig.chooseFile(firmwarePath("small-crlf.srec"));
    rig.pressStart();
    QTRY_VERIFY(rig.device().recording().received.size() >= 10);
    QElapsedTimer away;
    away.start();
    rig.device().powerCycleRemovingPort(1500ms);
    QTRY_VERIFY(rig.timerOn(TimerRole::PortWatch));
    QTRY_VERIFY_WITH_TIMEOUT(rig.portOpen(), 10'000);
    QVERIFY2(away.elapsed() >= 1500, qPrintable(QString::number(away.elapsed())));
    QVERIFY(!rig.device().portAway()); // opened again only once the new line was there

    const QString message = QString::fromLatin1(SimDevice::programmedMessage);
    QTRY_VERIFY_WITH_TIMEOUT(rig.logText().endsWith(message), 30'000);
    QTRY_COMPARE(rig.runEnds().size(), std::size_t{1});
    const SimRecording recording = rig.device().recording();
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(rig.portComings(), QStringList({rig.portComings().value(0), QStringLiteral("back")}));
    QVERIFY(rig.portComings().value(0).startsWith(QStringLiteral("away: ")));
    QCOMPARE(rig.runEnds()[0].reason, RunEndReason::Programmed);
    QCOMPARE(rig.errorCaptionCount(), 0);
}

void TestFaultsHangUp::unpluggedInTheMiddleOfTheFileThenAWholeRunOnTheNextDevice() {
    DeviceRig rig(poweredOnAfterWakeUps());
    rig.pressConnect();
    rig.chooseFile(firmwarePath("small-crlf.srec"));
    rig.pressStart();
    bool unpluggedDuringTheRun = false;
    rig.once([&rig] { return rig.device().recording().acceptedLines.size() >= 20; },
             [&rig, &unpluggedDuringTheRun] {
                 unpluggedDuringTheRun = rig.streaming();
                 rig.unplug();
             });
    QTRY_VERIFY_WITH_TIMEOUT(errorCaption.match(rig.caption()).hasMatch(), 20'000);
    QVERIFY(unpluggedDuringTheRun);
    // Past the watchdog's interval: a stopped run must not report a missing dot either.
    verifyTheReport(rig, 3500ms);
    if (QTest::currentTestFailed()) {
        return;
    }

    plugInAndConnect(rig, poweredOnAfterWakeUps());
    QVERIFY(rig.enabled(Button::Flash));
    rig.press(Button::ClearScreen);
    rig.pressStart();
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
    const QString message = QString::fromLatin1(SimDevice::programmedMessage);
    QTRY_VERIFY_WITH_TIMEOUT(rig.logText().endsWith(message), 30'000);
    QTRY_VERIFY(!rig.streaming());
    QCOMPARE(rig.state(), FlashState::Idle);
    // The new device got wake-ups, one "f" and the whole file from its first line.
    const SimRecording recording = rig.device().recording();
    const QByteArray received = QByteArray::fromStdString(recording.received);
    const qsizetype firstF = received.indexOf('f');
    QVERIFY(firstF > 0);
    QCOMPARE(received.left(firstF), QByteArray(firstF, 'i'));
    QCOMPARE(received.mid(firstF + 1), expectedStream(readFile(firmwarePath("small-crlf.srec"))));
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(rig.logText(), QString::fromLatin1(recording.sent));
    QCOMPARE(rig.errorCaptionCount(), 2); // the loss, and Connect while unplugged
    QVERIFY(rig.messages.empty());
}

// A write the control refuses in the middle of the file (the line stalled, the adapter
// going) is a lost port like any other: the operator reads why, once, and the run is over.
void TestFaultsHangUp::aFailedWriteDuringTheFileIsReportedAsALostPort() {
    test::WindowRig rig;
    QByteArray file;
    for (int i = 0; i < 20; ++i) {
        file += "S1130000" + QByteArray::number(i).rightJustified(4, '0') + "\r\n";
    }
    rig.startAndReachSending(file);
    rig.toolkit.after(1100ms, [&rig] {
        rig.serial->outputFailure = QStringLiteral("Port 1 (/dev/ttyUSB0): the device has taken "
                                                   "no data for 5 seconds.");
    });
    rig.tick(10'000ms);
    QVERIFY2(errorCaption.match(rig.caption()).hasMatch(), qPrintable(rig.caption()));
    QVERIFY(!rig.serial->PortOpen());
    QVERIFY(rig.toolkit.messages.empty());
    QCOMPARE(rig.state(), FlashState::Idle);
}

QTEST_MAIN(TestFaultsHangUp)
#include "test_hangup.moc"
