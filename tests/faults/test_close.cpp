// The window closed at each phase of a run, in a child process built like the program: it
// ends with status 0, and nothing is written to the port once the close began. How long the
// child took to end is printed for each phase.

#include "faults/device_rig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace norvak;
using namespace norvak::faults;
using namespace std::chrono_literals;

class TestFaultsClose : public QObject {
    Q_OBJECT

private slots:
    void closingEndsTheProgramAtOnce_data();
    void closingEndsTheProgramAtOnce();
};

namespace {

enum class Phase { WaitingForBoot, WaitingForReady, PauseBetweenLines, WatchdogBox };

struct Child {
    QProcess process;
    QByteArray output;
};

} // namespace

Q_DECLARE_METATYPE(Phase)

void TestFaultsClose::closingEndsTheProgramAtOnce_data() {
    QTest::addColumn<Phase>("phase");
    QTest::newRow("waiting for the boot program") << Phase::WaitingForBoot;
    QTest::newRow("waiting for _") << Phase::WaitingForReady;
    QTest::newRow("pause between lines") << Phase::PauseBetweenLines;
    QTest::newRow("watchdog's message box open") << Phase::WatchdogBox;
}

void TestFaultsClose::closingEndsTheProgramAtOnce() {
    QFETCH(Phase, phase);
    SimDeviceConfig config; // left alone it stays in its application and answers nothing
    int speedItem = 0;
    QString firmware = firmwarePath("small-crlf.srec");
    if (phase == Phase::PauseBetweenLines) {
        config.autoPowerCycleAfter = 300ms;
        speedItem = 4; // 100 ms after every line
    } else if (phase == Phase::WatchdogBox) {
        config.autoPowerCycleAfter = 300ms;
        config.dotsStopAfterLine = 3;
        firmware = firmwarePath("sample-crlf.srec"); // still streaming when the watchdog fires
    }
    SimDevice device(config);

    Child child;
    child.process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&child.process, &QProcess::readyReadStandardOutput,
                     [&child] { child.output += child.process.readAllStandardOutput(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.process.setProcessEnvironment(environment);
    child.process.start(
        QStringLiteral(NORVAK_WINDOW_CHILD),
        {QString::fromStdString(device.slavePath()), firmware, QString::number(speedItem)});
    QVERIFY(child.process.waitForStarted(10'000));

    const auto received = [&device] {
        return device.recording().received;
    };
    switch (phase) {
    case Phase::WaitingForBoot:
        QTRY_VERIFY_WITH_TIMEOUT(received().size() >= 3, 10'000);
        break;
    case Phase::WaitingForReady:
        QTRY_VERIFY_WITH_TIMEOUT(received().size() >= 3, 10'000);
        device.sendRaw(">");
        QTRY_VERIFY_WITH_TIMEOUT(received().find('f') != std::string::npos, 10'000);
        break;
    case Phase::PauseBetweenLines:
        QTRY_VERIFY_WITH_TIMEOUT(device.recording().acceptedLines.size() >= 3, 10'000);
        break;
    case Phase::WatchdogBox:
        QTRY_VERIFY_WITH_TIMEOUT(child.output.contains("message: Error: DOT Timeout"), 20'000);
        break;
    }
    QCOMPARE(child.process.state(), QProcess::Running);

    QElapsedTimer sinceClose;
    sinceClose.start();
    child.process.write("close\n");
    // A generous bound that only catches a hang; the time taken is printed below.
    const bool ended = child.process.waitForFinished(10'000);
    const qint64 elapsed = sinceClose.elapsed();
    child.output += child.process.readAllStandardOutput();
    const QByteArray errors = child.process.readAllStandardError();
    QVERIFY2(ended, errors.constData());
    qInfo("closed %s: the child ended %lld ms after the close", QTest::currentDataTag(),
          static_cast<long long>(elapsed));
    QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.process.exitCode() == 0, errors.constData());
    QVERIFY2(child.output.contains("writes after close: 0\n"), child.output.constData());
    if (phase == Phase::WatchdogBox) {
        QCOMPARE(child.output.count("message: "), 1);
    }
}

QTEST_MAIN(TestFaultsClose)
#include "test_close.moc"
