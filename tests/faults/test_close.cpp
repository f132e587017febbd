// The window closed at each phase of a run, in a child process built like the program, by
// its close button or by SIGTERM, SIGHUP or SIGINT: it ends with status 0 (128 plus the
// signal's number), and nothing is written to the port once the close began. How long the
// child took to end is printed for each phase.

#include "tests/support/device_rig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>

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

namespace {

constexpr int closeButton = 0; // in place of a signal

void addRow(const char* phaseName, Phase phase, const char* howName, int signalNumber) {
    QTest::addRow("%s, %s", phaseName, howName) << phase << signalNumber;
}

} // namespace

void TestFaultsClose::closingEndsTheProgramAtOnce_data() {
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<int>("signalNumber");
    const std::pair<const char*, Phase> phases[] = {
        {"waiting for the boot program", Phase::WaitingForBoot},
        {"waiting for _", Phase::WaitingForReady},
        {"pause between lines", Phase::PauseBetweenLines},
        {"watchdog's message box open", Phase::WatchdogBox},
    };
    for (const auto& [name, phase] : phases) {
        addRow(name, phase, "close button", closeButton);
        addRow(name, phase, "SIGTERM", SIGTERM);
    }
    addRow("pause between lines", Phase::PauseBetweenLines, "SIGHUP", SIGHUP);
    addRow("watchdog's message box open", Phase::WatchdogBox, "SIGINT", SIGINT);
}

void TestFaultsClose::closingEndsTheProgramAtOnce() {
    QFETCH(Phase, phase);
    QFETCH(int, signalNumber);
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
    if (signalNumber == closeButton) {
        child.process.write("close\n");
    } else {
        ::kill(static_cast<pid_t>(child.process.processId()), signalNumber);
    }
    // A generous bound that only catches a hang; the time taken is printed below.
    const bool ended = child.process.waitForFinished(10'000);
    const qint64 elapsed = sinceClose.elapsed();
    child.output += child.process.readAllStandardOutput();
    const QByteArray errors = child.process.readAllStandardError();
    QVERIFY2(ended, errors.constData());
    qInfo("closed %s: the child ended %lld ms after the close", QTest::currentDataTag(),
          static_cast<long long>(elapsed));
    QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
    const int expectedStatus = signalNumber == closeButton ? 0 : 128 + signalNumber;
    QVERIFY2(child.process.exitCode() == expectedStatus, errors.constData());
    QVERIFY2(child.output.contains("writes after close: 0\n"), child.output.constData());
    if (phase == Phase::WatchdogBox) {
        QCOMPARE(child.output.count("message: "), 1);
    }
}

QTEST_MAIN(TestFaultsClose)
#include "test_close.moc"
