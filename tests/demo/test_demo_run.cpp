// Unattended runs in the real window with the real serial control and the Qt event loop,
// against the simulated device over a pseudo-terminal: the exit status, what is printed,
// and the pictures of the window.

#include "tools/demo/demo_run.h"
#include "tools/demo/demo_setup.h"
#include "tools/demo/demo_toolkit.h"
#include "tools/simdevice/simdevice.h"

#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"
#include "tests/support/window_rig.h"

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace norvak;
using namespace norvak::demo;
using namespace std::chrono_literals;

class TestUnattendedRun : public QObject {
    Q_OBJECT

private slots:
    void programsTheSampleAndPrintsCaptionsAndLog();
    void savesPicturesBeforeStartAndDuringTheRun();
    void watchdogFailureEndsWithStatusOne();
    void lostPortEndsWithStatusOne();
    void portThatDoesNotOpenEndsWithStatusOne();
    void unreadableFirmwareEndsWithStatusOne();
    void deviceThatNeverAnswersTimesOut();
};

namespace {

const QString firmwareDir = QStringLiteral(NORVAK_DEMO_FIRMWARE_DIR);

struct Rig {
    explicit Rig(DeviceFault fault, RunSettings runSettings)
        : device(demoDeviceConfig(fault))
        , toolkit(firmwareDir)
        , out(&printed)
        , window(toolkit,
                 std::make_unique<MSComm>(
                     toolkit, withSimulatedPort(4, QString::fromStdString(device.slavePath()))),
                 nullptr) {
        // The quickest pause keeps the runs short; the window is otherwise as it starts.
        view.chooseSpeed(0);
        view.show();
        run = std::make_unique<DemoRun>(window, toolkit, std::move(runSettings), out);
    }

    // The exit status the run reports, or -1 if it reports none in time.
    int runToEnd(std::chrono::milliseconds limit = 60s) {
        QSignalSpy finished(run.get(), &DemoRun::finished);
        run->start();
        if (!finished.wait(static_cast<int>(limit.count()))) {
            return -1;
        }
        if (finished.size() != 1) {
            return -2;
        }
        out.flush();
        return finished.first().first().toInt();
    }

    SimDevice device;
    DemoToolkit toolkit;
    QString printed;
    QTextStream out;
    frmProg window;
    test::WindowView view{window};
    std::unique_ptr<DemoRun> run;
};

RunSettings settingsFor(const QString& firmwareName) {
    RunSettings settings;
    settings.firmware = firmwareDir + QLatin1Char('/') + firmwareName;
    settings.timeout = 60s;
    return settings;
}

} // namespace

void TestUnattendedRun::programsTheSampleAndPrintsCaptionsAndLog() {
    Rig rig(DeviceFault::None, settingsFor(QStringLiteral("small-crlf.srec")));
    QCOMPARE(rig.runToEnd(), 0);
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::Programmed);
    const QStringList lines = rig.printed.split(QLatin1Char('\n'));
    const auto printedCaption = [&lines](const QString& status) {
        return std::any_of(lines.begin(), lines.end(), [&status](const QString& line) {
            return line.endsWith(QStringLiteral("  Norvak Flash Programmer, ") + status);
        });
    };
    for (const char* status :
         {"Connect: True", "Bootprogram started", "Sending File", "progress: 50%", "PROGRAMMED"}) {
        QVERIFY2(printedCaption(QString::fromLatin1(status)), qPrintable(rig.printed));
    }
    // One caption per line of the file: 66 lines.
    QCOMPARE(lines.filter(QStringLiteral("Norvak Flash Programmer, progress: ")).size(), 66);

    // The log box comes last, as the device wrote it, without carriage returns.
    const qsizetype logStart = rig.printed.indexOf(QStringLiteral("--- log box ---\n"));
    const qsizetype logEnd = rig.printed.indexOf(QStringLiteral("--- end of log box ---\n"));
    QVERIFY(logStart > rig.printed.indexOf(QStringLiteral("PROGRAMMED")));
    QVERIFY(logEnd > logStart);
    QString expectedLog = QString::fromLatin1(rig.device.recording().sent);
    expectedLog.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QVERIFY2(rig.printed.mid(logStart + 16, logEnd - logStart - 16).startsWith(expectedLog),
             qPrintable(rig.printed.mid(logStart)));
    QVERIFY(
        expectedLog.endsWith(QStringLiteral("Programmed successfully! Restarting device....\n")));
    QVERIFY(rig.printed.contains(QStringLiteral("Result: PROGRAMMED")));

    const SimRecording recording = rig.device.recording();
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(recording.programmedFiles[0].dataBytes, std::size_t{1024});
    QCOMPARE(recording.programmedFiles[0].rejectedLines, 0);
}

void TestUnattendedRun::savesPicturesBeforeStartAndDuringTheRun() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RunSettings settings = settingsFor(QStringLiteral("small-lf.srec"));
    settings.screenshotAtStart = dir.filePath(QStringLiteral("start.png"));
    settings.screenshotDuringRun = dir.filePath(QStringLiteral("run.png"));
    Rig rig(DeviceFault::None, settings);
    QCOMPARE(rig.runToEnd(), 0);
    for (const QString& path : {settings.screenshotAtStart, settings.screenshotDuringRun}) {
        const QImage picture(path);
        QVERIFY2(!picture.isNull(), qPrintable(path));
        QCOMPARE(picture.size(), rig.view.widget().size() * picture.devicePixelRatio());
    }
    // Two different moments: the log box has filled with dots between them.
    QVERIFY(QImage(settings.screenshotAtStart) != QImage(settings.screenshotDuringRun));

    RunSettings unwritable = settingsFor(QStringLiteral("small-lf.srec"));
    unwritable.screenshotAtStart = dir.filePath(QStringLiteral("missing/folder/start.png"));
    Rig failing(DeviceFault::None, unwritable);
    QCOMPARE(failing.runToEnd(), 2); // programmed, but the picture is missing
    QVERIFY(failing.printed.contains(QStringLiteral("Could not save the window")));
}

void TestUnattendedRun::watchdogFailureEndsWithStatusOne() {
    Rig rig(DeviceFault::DotsStop, settingsFor(QStringLiteral("sample-crlf.srec")));
    QCOMPARE(rig.runToEnd(), 1);
    QVERIFY2(rig.printed.contains(QStringLiteral("Message box: Error: DOT Timeout")),
             qPrintable(rig.printed));
    QVERIFY(rig.printed.contains(QStringLiteral("Norvak Flash Programmer, Programming FAILLED")));
    QVERIFY(rig.printed.contains(QStringLiteral("Result: FAILED: ")));
    QVERIFY(!rig.printed.contains(QStringLiteral("Result: PROGRAMMED")));
    QCOMPARE(rig.view.state(), FlashState::Idle);
}

void TestUnattendedRun::lostPortEndsWithStatusOne() {
    Rig rig(DeviceFault::HangUp, settingsFor(QStringLiteral("small-crlf.srec")));
    QCOMPARE(rig.runToEnd(), 1);
    QVERIFY2(
        rig.run->verdict().reason().contains(QStringLiteral("connection to the device was lost")),
        qPrintable(rig.run->verdict().reason()));
    QVERIFY(!rig.view.streaming());
}

void TestUnattendedRun::portThatDoesNotOpenEndsWithStatusOne() {
    RunSettings settings = settingsFor(QStringLiteral("small-crlf.srec"));
    settings.port = 200; // maps to /dev/ttyUSB199 and the like, which this machine lacks
    Rig rig(DeviceFault::None, settings);
    QCOMPARE(rig.runToEnd(), 1);
    QVERIFY2(rig.run->verdict().reason().contains(QStringLiteral("Port 200")),
             qPrintable(rig.run->verdict().reason()));
    QVERIFY(rig.device.recording().received.empty());
}

void TestUnattendedRun::unreadableFirmwareEndsWithStatusOne() {
    Rig rig(DeviceFault::None, settingsFor(QStringLiteral("no-such-file.srec")));
    QCOMPARE(rig.runToEnd(), 1);
    // The streamer cannot open the file when the device asks for it: the run ends with why,
    // and the watchdog does not blame the device for it.
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::FileUnreadable);
    QVERIFY(rig.printed.contains(QStringLiteral("Norvak Flash Programmer, Sending File")));
    QVERIFY2(
        rig.run->verdict().reason().startsWith(QStringLiteral("Cannot read the firmware file: ")) &&
            rig.run->verdict().reason().endsWith(QStringLiteral("no such file")),
        qPrintable(rig.run->verdict().reason()));
    QVERIFY(!rig.printed.contains(QStringLiteral("DOT Timeout")));
}

void TestUnattendedRun::deviceThatNeverAnswersTimesOut() {
    RunSettings settings = settingsFor(QStringLiteral("small-crlf.srec"));
    settings.timeout = 1500ms;
    Rig rig(DeviceFault::Silent, settings);
    QCOMPARE(rig.runToEnd(), 3);
    QCOMPARE(rig.run->verdict().outcome(), RunOutcome::TimedOut);
    QVERIFY(rig.printed.contains(QStringLiteral("Result: FAILED: no result in time")));
}

QTEST_MAIN(TestUnattendedRun)
#include "test_demo_run.moc"
