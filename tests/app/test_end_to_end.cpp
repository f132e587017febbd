// Whole programming runs with the real Qt event loop and the real serial control, against the
// simulated device over a pseudo-terminal.

#include "tests/support/device_rig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace norvak;
using faults::expectedStream;
using faults::readFile;
using test::Button;
using namespace std::chrono_literals;

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void startToProgrammed_data();
    void startToProgrammed();
    void silentDeviceEndsInTheWatchdogReport();
    void hangUpInTheMiddleOfTheFileIsReportedOnce();
    void helpOpenedInTheReceiveHandlersYieldLetsTheRunEnd();
};

namespace {

// Connects, chooses `firmware` and presses START PROGRAMMING.
void connectAndStart(faults::DeviceRig& rig, const QString& firmware) {
    rig.pressConnect();
    QVERIFY2(rig.portOpen(), qPrintable(rig.caption()));
    rig.chooseFile(firmware);
    QVERIFY(rig.enabled(Button::Flash));
    rig.pressStart();
    QCOMPARE(rig.state(), FlashState::WaitingForBoot);
}

SimDeviceConfig poweredOnAfterWakeUps() {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 300ms;
    return config;
}

} // namespace

void TestEndToEnd::startToProgrammed_data() {
    QTest::addColumn<QString>("firmware");
    QTest::newRow("CR LF") << QStringLiteral(NORVAK_FIRMWARE_DIR "/small-crlf.srec");
    QTest::newRow("LF") << QStringLiteral(NORVAK_FIRMWARE_DIR "/small-lf.srec");
}

void TestEndToEnd::startToProgrammed() {
    QFETCH(QString, firmware);
    const QByteArray file = readFile(firmware);
    QVERIFY(!file.isEmpty());
    faults::DeviceRig rig(poweredOnAfterWakeUps());
    connectAndStart(rig, firmware);
    const QString message = QString::fromLatin1(SimDevice::programmedMessage);
    QTRY_VERIFY_WITH_TIMEOUT(rig.logText().endsWith(message), 30'000);
    QTRY_VERIFY(!rig.streaming());
    QCOMPARE(rig.state(), FlashState::Idle);
    QCOMPARE(rig.caption(Button::Flash), QStringLiteral("START PROGRAMMING"));
    QVERIFY(rig.enabled(Button::Flash));
    QVERIFY2(rig.captions.contains("Norvak Flash Programmer, PROGRAMMED"),
             qPrintable(rig.captions.join('|')));
    // A "P" that comes during the last line's pause is followed by that line's progress.
    QVERIFY(rig.caption() == "Norvak Flash Programmer, PROGRAMMED" ||
            rig.caption() == "Norvak Flash Programmer, progress: 100%");

    // The device got wake-ups, one "f" and then exactly the file's lines, each with one LF.
    const SimRecording recording = rig.device().recording();
    const QByteArray received = QByteArray::fromStdString(recording.received);
    const qsizetype firstF = received.indexOf('f');
    QVERIFY(firstF > 0);
    QCOMPARE(received.left(firstF), QByteArray(firstF, 'i'));
    QCOMPARE(received.mid(firstF + 1), expectedStream(file));
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(recording.programmedFiles[0].dataBytes, std::size_t{1024});
    QCOMPARE(recording.programmedFiles[0].rejectedLines, 0);
    QCOMPARE(recording.lostBytes, std::size_t{0});
    // Everything the device sent stands in the log box, in order.
    QCOMPARE(rig.logText(), QString::fromLatin1(recording.sent));
    QVERIFY(rig.messages.empty());
}

void TestEndToEnd::silentDeviceEndsInTheWatchdogReport() {
    SimDeviceConfig config = poweredOnAfterWakeUps();
    config.dotsStopAfterLine = 5;
    faults::DeviceRig rig(config);
    // The larger file takes longer to send than the watchdog waits.
    connectAndStart(rig, QStringLiteral(NORVAK_FIRMWARE_DIR "/sample-crlf.srec"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), std::size_t{1}, 30'000);
    QCOMPARE(rig.messages[0].text, QStringLiteral("Error: DOT Timeout"));
    QCOMPARE(rig.messages[0].icon, MessageIcon::Critical);
    QCOMPARE(rig.state(), FlashState::Idle);
    QVERIFY(rig.enabled(Button::Flash));
    // The streamer stops at its next look at the state: the file is not sent to its end.
    QTest::qWait(300);
    const QByteArray received = QByteArray::fromStdString(rig.device().recording().received);
    QVERIFY(!received.contains("S9030000FC"));
}

void TestEndToEnd::hangUpInTheMiddleOfTheFileIsReportedOnce() {
    SimDeviceConfig config = poweredOnAfterWakeUps();
    config.hangUpAfterLine = 10;
    faults::DeviceRig rig(config);
    connectAndStart(rig, QStringLiteral(NORVAK_FIRMWARE_DIR "/small-crlf.srec"));
    const QRegularExpression& errorForm = faults::errorCaption;
    QTRY_VERIFY_WITH_TIMEOUT(errorForm.match(rig.caption()).hasMatch(), 30'000);
    QVERIFY(!rig.portOpen());
    QVERIFY(!rig.connected());
    QCOMPARE(rig.caption(Button::Connect), QStringLiteral("Connect"));
    QCOMPARE(rig.state(), FlashState::Idle);
    QTest::qWait(4000); // past the watchdog
    QCOMPARE(rig.errorCaptionCount(), 1);
    QVERIFY2(errorForm.match(rig.caption()).hasMatch(), qPrintable(rig.caption()));
    QVERIFY(rig.messages.empty());
}

// Help is clicked while the receive handler is running and opens in the handler's closing
// yield, just before the device's last dots and its "P": the answers are handled under the
// open box, and the run ends as programmed instead of in the watchdog's report.
void TestEndToEnd::helpOpenedInTheReceiveHandlersYieldLetsTheRunEnd() {
    SimDeviceConfig config = poweredOnAfterWakeUps();
    config.slowDots = 400ms; // each line's dot comes well after the whole file is in
    faults::DeviceRig rig(config);
    // Three lines of the sample (header, data, end record): they fit the device's buffer.
    const QList<QByteArray> lines =
        faults::fileLines(readFile(QStringLiteral(NORVAK_FIRMWARE_DIR "/small-crlf.srec")));
    const QByteArray file = lines.front() + "\r\n" + lines[1] + "\r\n" + lines.back() + "\r\n";
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("three.srec"));
    QFile out(firmware);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();

    int receiving = 0;
    bool clicked = false;
    const auto dispatch = rig.serial->OnComm;
    rig.serial->OnComm = [&] {
        const std::string received = rig.device().recording().received;
        if (!clicked && received.ends_with(expectedStream(file).toStdString())) {
            clicked = true;
            rig.pressLater(Button::Help);
        }
        ++receiving;
        dispatch();
        --receiving;
    };
    int receivingUnderTheBox = -1;
    QString captionWhenClosed;
    bool closedByTheRunsEnd = false;
    rig.whileShown = [&](const MessageBoxRequest& request) {
        if (request.icon != MessageIcon::Information) {
            return;
        }
        receivingUnderTheBox = receiving;
        // The operator reads the help for as long as the device needs to finish.
        closedByTheRunsEnd = QTest::qWaitFor([&] { return rig.state() == FlashState::Idle; }, 5000);
        captionWhenClosed = rig.caption();
    };
    connectAndStart(rig, firmware);
    QTRY_VERIFY_WITH_TIMEOUT(!captionWhenClosed.isEmpty(), 30'000);
    QCOMPARE(receivingUnderTheBox, 1); // opened inside the receive handler
    QVERIFY(closedByTheRunsEnd);
    QCOMPARE(captionWhenClosed, QStringLiteral("Norvak Flash Programmer, PROGRAMMED"));
    QCOMPARE(rig.messages.size(), std::size_t{1}); // the help, no watchdog report
    QCOMPARE(rig.messages[0].text, test::WindowView::helpText());
    QCOMPARE(rig.device().recording().programmedFiles.size(), std::size_t{1});
    QCOMPARE(rig.logText(), QString::fromLatin1(rig.device().recording().sent));
}

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
