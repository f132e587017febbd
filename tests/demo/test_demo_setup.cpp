// The demo's pieces without a run: its command line, the port that reaches the simulated
// device, finding the sample firmware, the device's faults, the verdict on a run and the
// toolkit's unattended answers.

#include "tools/demo/demo_device.h"
#include "tools/demo/demo_options.h"
#include "tools/demo/demo_setup.h"
#include "tools/demo/demo_toolkit.h"
#include "tools/unattended/run_verdict.h"

#include "mainwindow/frmprog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace norvak;
using namespace norvak::demo;
using namespace norvak::unattended;
using namespace std::chrono_literals;

class TestDemoSetup : public QObject {
    Q_OBJECT

private slots:
    void optionsDefaultToInteractiveOnPortFour();
    void optionsRunUnattendedWithoutDisplay();
    void optionsTakeEveryValue();
    void optionsRefuseBadValues_data();
    void optionsRefuseBadValues();
    void screenshotsMakeTheDemoDriveTheRun();
    void simulatedPortReachesOnlyTheDevice();
    void firmwareFolderIsFoundInstalledOrInTheBuildTree();
    void deviceFaultsReachTheDevice();
    void verdictFollowsTheAnnouncedEnd_data();
    void verdictFollowsTheAnnouncedEnd();
    void verdictKeepsTheFirstResult();
    void unattendedToolkitAnswersWithoutShowingAnything();
    void dialogStartsInTheSampleFolderThenBesideTheLastChoice();
    void deviceStatusWindowNamesPortAndFolder();
};

namespace {

ParsedOptions parse(QStringList arguments, bool display = true) {
    arguments.prepend(QStringLiteral("norvak-flash-demo"));
    return parseDemoOptions(arguments, display);
}

MessageBoxRequest message(const QString& text, MessageIcon icon) {
    MessageBoxRequest request;
    request.text = text;
    request.icon = icon;
    return request;
}

bool touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("S00600004844521B\n") > 0;
}

} // namespace

void TestDemoSetup::optionsDefaultToInteractiveOnPortFour() {
    const ParsedOptions parsed = parse({});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    QVERIFY(!parsed.options->unattended);
    QVERIFY(!parsed.options->drivesRun());
    QCOMPARE(parsed.options->port, 4);
    QCOMPARE(parsed.options->timeout, 120s);
    QCOMPARE(parsed.options->fault, DeviceFault::None);
    QVERIFY(parsed.options->firmware.isEmpty());
}

void TestDemoSetup::optionsRunUnattendedWithoutDisplay() {
    const ParsedOptions withoutDisplay = parse({}, false);
    QVERIFY(withoutDisplay.options);
    QVERIFY(withoutDisplay.options->unattended);
    QVERIFY(withoutDisplay.options->drivesRun());
    const ParsedOptions asked = parse({QStringLiteral("--unattended")}, true);
    QVERIFY(asked.options);
    QVERIFY(asked.options->unattended);
}

void TestDemoSetup::optionsTakeEveryValue() {
    const ParsedOptions parsed =
        parse({"--port", "7", "--firmware", "small-lf.srec", "--firmware-folder", "/tmp/fw",
               "--timeout", "30", "--device-fault", "hang-up"});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    QCOMPARE(parsed.options->port, 7);
    QCOMPARE(parsed.options->firmware, QStringLiteral("small-lf.srec"));
    QCOMPARE(parsed.options->firmwareFolder, QStringLiteral("/tmp/fw"));
    QCOMPARE(parsed.options->timeout, 30s);
    QCOMPARE(parsed.options->fault, DeviceFault::HangUp);
    QCOMPARE(parse({"--device-fault", "silent"}).options->fault, DeviceFault::Silent);
    QCOMPARE(parse({"--device-fault", "dots-stop"}).options->fault, DeviceFault::DotsStop);
    // The device runs in the demo's process when asked, and always without pseudo-terminals.
    QVERIFY(parse({"--in-process"}).options->inProcess);
    QCOMPARE(parse({}).options->inProcess, !pseudoTerminalDeviceBuilt);

    const ParsedOptions help = parse({"--help"});
    QVERIFY(help.helpRequested);
    QVERIFY(!help.options);
    QVERIFY(demoUsage().contains(QStringLiteral("--unattended")));
    QVERIFY(demoUsage().contains(QStringLiteral("--in-process")));
}

void TestDemoSetup::optionsRefuseBadValues_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");
    QTest::newRow("port 0") << QStringList{"--port", "0"} << "--port";
    QTest::newRow("port text") << QStringList{"--port", "COM4"} << "--port";
    QTest::newRow("port too large") << QStringList{"--port", "256"} << "--port";
    QTest::newRow("timeout 0") << QStringList{"--timeout", "0"} << "--timeout";
    QTest::newRow("timeout negative") << QStringList{"--timeout", "-5"} << "--timeout";
    QTest::newRow("unknown fault") << QStringList{"--device-fault", "fire"} << "--device-fault";
    QTest::newRow("unknown option") << QStringList{"--fast"} << "fast";
    QTest::newRow("value missing") << QStringList{"--port"} << "port";
    QTest::newRow("stray argument") << QStringList{"sample.srec"} << "sample.srec";
}

void TestDemoSetup::optionsRefuseBadValues() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const ParsedOptions parsed = parse(arguments);
    QVERIFY(!parsed.options);
    QVERIFY(!parsed.helpRequested);
    QVERIFY2(parsed.error.contains(named), qPrintable(parsed.error));
}

void TestDemoSetup::screenshotsMakeTheDemoDriveTheRun() {
    const ParsedOptions parsed =
        parse({"--screenshot-at-start", "a.png", "--screenshot-during-run", "b.png"});
    QVERIFY(parsed.options);
    QVERIFY(!parsed.options->unattended); // on the display it has
    QVERIFY(parsed.options->drivesRun());
    QCOMPARE(parsed.options->screenshotAtStart, QStringLiteral("a.png"));
    QCOMPARE(parsed.options->screenshotDuringRun, QStringLiteral("b.png"));
    QVERIFY(parse({"--screenshot-during-run", "b.png"}).options->drivesRun());
}

void TestDemoSetup::simulatedPortReachesOnlyTheDevice() {
    const auto others = [](int port) {
        return QStringList{QStringLiteral("/dev/other%1").arg(port)};
    };
    const PortCandidates candidates = withSimulatedPort(4, QStringLiteral("/dev/pts/9"), others);
    QCOMPARE(candidates(4), QStringList{"/dev/pts/9"});
    QCOMPARE(candidates(3), QStringList{"/dev/other3"});
    QCOMPARE(candidates(5), QStringList{"/dev/other5"});

    // Every other number keeps the program's own mapping.
    const PortCandidates real = withSimulatedPort(2, QStringLiteral("/dev/pts/9"));
    QCOMPARE(real(1), defaultPortCandidates()(1));
    QCOMPARE(real(0), QStringList());
    QCOMPARE(withSimulatedPort(4, QStringLiteral("/dev/pts/9"), nullptr)(1), QStringList());
}

void TestDemoSetup::firmwareFolderIsFoundInstalledOrInTheBuildTree() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    QVERIFY(QDir().mkpath(bin));
    const QStringList candidates = firmwareFolderCandidates(bin);
    QCOMPARE(findFirmwareFolder(candidates), QString());

    // A folder without the sample file does not count.
    const QString beside = root.filePath(QStringLiteral("usr/bin/firmware"));
    QVERIFY(touch(beside + QStringLiteral("/small-lf.srec")));
    QCOMPARE(findFirmwareFolder(candidates), QString());
    QVERIFY(touch(beside + QStringLiteral("/sample-crlf.srec")));
    QCOMPARE(findFirmwareFolder(candidates), beside);

    // The installed place comes first.
    const QString installed = root.filePath(QStringLiteral("usr/share/norvak-flash/firmware"));
    QVERIFY(touch(installed + QStringLiteral("/sample-crlf.srec")));
    QCOMPARE(findFirmwareFolder(candidates), installed);
}

void TestDemoSetup::deviceFaultsReachTheDevice() {
    const SimDeviceConfig normal = demoDeviceConfig(DeviceFault::None);
    QVERIFY(normal.paced);
    QCOMPARE(normal.baudRate, 57600u);
    QVERIFY(normal.autoPowerCycleAfter.has_value());
    // The device must restart long before the program's 60 s countdown runs out.
    QVERIFY(*normal.autoPowerCycleAfter < 5s);
    QVERIFY(!normal.silent && !normal.dotsStopAfterLine && !normal.hangUpAfterLine);

    QVERIFY(demoDeviceConfig(DeviceFault::Silent).silent);
    // Both faults strike in the middle of even the small sample (66 lines).
    const auto dotsStop = demoDeviceConfig(DeviceFault::DotsStop).dotsStopAfterLine;
    QVERIFY(dotsStop && *dotsStop > 0 && *dotsStop < 66);
    const auto hangUp = demoDeviceConfig(DeviceFault::HangUp).hangUpAfterLine;
    QVERIFY(hangUp && *hangUp > 0 && *hangUp < 66);
}

void TestDemoSetup::verdictFollowsTheAnnouncedEnd_data() {
    QTest::addColumn<QList<int>>("reasons");
    QTest::addColumn<QStringList>("descriptions");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    const auto row = [](const char* name, QList<RunEndReason> reasons, QStringList descriptions,
                        RunOutcome outcome, int exitCode, const QString& reason) {
        QList<int> numbers;
        for (const RunEndReason r : reasons) {
            numbers << int(r);
        }
        QTest::newRow(name) << numbers << descriptions << int(outcome) << exitCode << reason;
    };
    const QString lost =
        QStringLiteral("Port 4 (/dev/pts/3): the connection to the device was lost.");
    row("still running", {}, {}, RunOutcome::Running, 1, {});
    row("programmed", {RunEndReason::Programmed}, {"PROGRAMMED"}, RunOutcome::Programmed, 0, {});
    row("programmed, then the port lost", {RunEndReason::Programmed, RunEndReason::PortLost},
        {"PROGRAMMED", lost}, RunOutcome::Programmed, 0, {});
    row("no boot program", {RunEndReason::NoBootProgram}, {"Restart to bootprogram failled!"},
        RunOutcome::NoBootProgram, 1, "Restart to bootprogram failled!");
    row("watchdog", {RunEndReason::DotTimeout}, {"Programming FAILLED"}, RunOutcome::DotTimeout, 1,
        "the device stopped answering lines");
    row("port lost", {RunEndReason::PortLost}, {lost}, RunOutcome::PortFailed, 1, lost);
    row("no such port", {RunEndReason::ConnectFailed}, {"Port 9: no serial port found."},
        RunOutcome::PortFailed, 1, "Port 9: no serial port found.");
    row("file unreadable", {RunEndReason::FirmwareUnreadable},
        {"Cannot read the firmware file: /fw/a.srec: no such file"}, RunOutcome::FileUnreadable, 1,
        "Cannot read the firmware file: /fw/a.srec: no such file");
    row("cancelled", {RunEndReason::Cancelled}, {"Ohjelmointi keskeytetty!"},
        RunOutcome::Interrupted, 1, "interrupted");
    row("closed with Connect", {RunEndReason::ClosedByConnect}, {QString()},
        RunOutcome::Interrupted, 1, "interrupted");
}

void TestDemoSetup::verdictFollowsTheAnnouncedEnd() {
    QFETCH(QList<int>, reasons);
    QFETCH(QStringList, descriptions);
    QFETCH(int, outcome);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    RunVerdict verdict;
    for (qsizetype i = 0; i < reasons.size(); ++i) {
        verdict.onRunEnded({.reason = RunEndReason(reasons[i]), .description = descriptions[i]});
    }
    QCOMPARE(int(verdict.outcome()), outcome);
    QCOMPARE(verdict.exitCode(), exitCode);
    QCOMPARE(verdict.decided(), outcome != int(RunOutcome::Running));
    QCOMPARE(verdict.reason(), reason);
}

void TestDemoSetup::verdictKeepsTheFirstResult() {
    RunVerdict programmed;
    programmed.onRunEnded({.reason = RunEndReason::Programmed, .description = "PROGRAMMED"});
    programmed.onRunEnded({.reason = RunEndReason::PortLost, .description = "Port 4: lost."});
    programmed.onTimeout();
    QCOMPARE(programmed.outcome(), RunOutcome::Programmed);
    QVERIFY(programmed.reason().isEmpty());

    RunVerdict failed;
    failed.onRunEnded({.reason = RunEndReason::DotTimeout, .description = "Programming FAILLED"});
    failed.onRunEnded({.reason = RunEndReason::Programmed, .description = "PROGRAMMED"});
    QCOMPARE(failed.outcome(), RunOutcome::DotTimeout);
    QCOMPARE(failed.reason(), QStringLiteral("the device stopped answering lines"));

    RunVerdict late;
    late.onTimeout();
    QCOMPARE(late.outcome(), RunOutcome::TimedOut);
    QCOMPARE(late.exitCode(), 3);
    late.fail(RunOutcome::Failed, QStringLiteral("later"));
    QCOMPARE(late.outcome(), RunOutcome::TimedOut);
    late.onRunEnded({.reason = RunEndReason::Programmed, .description = "PROGRAMMED"});
    QCOMPARE(late.outcome(), RunOutcome::TimedOut);

    // Idle with nothing left to end the run and no end announced: a failure of its own.
    RunVerdict idle;
    idle.onSettledIdle();
    QCOMPARE(idle.outcome(), RunOutcome::Failed);
    QCOMPARE(idle.exitCode(), 1);
    QCOMPARE(idle.reason(), QStringLiteral("the run ended without \"PROGRAMMED\""));
    // The announced end decides; idle afterwards changes nothing.
    RunVerdict noBoot;
    noBoot.onRunEnded(
        {.reason = RunEndReason::NoBootProgram, .description = "Restart to bootprogram failled!"});
    noBoot.onSettledIdle();
    QCOMPARE(noBoot.outcome(), RunOutcome::NoBootProgram);
    QCOMPARE(noBoot.exitCode(), 1);
}

void TestDemoSetup::unattendedToolkitAnswersWithoutShowingAnything() {
    DemoToolkit toolkit(QStringLiteral("/fw"));
    QVERIFY(!toolkit.isUnattended());
    std::vector<QString> seen;
    toolkit.answerUnattended([&seen](const MessageBoxRequest& r) { seen.push_back(r.text); });
    QVERIFY(toolkit.isUnattended());

    toolkit.showMessage(message(QStringLiteral("Error: DOT Timeout"), MessageIcon::Critical));
    QCOMPARE(seen, std::vector<QString>{"Error: DOT Timeout"});

    toolkit.answerNextOpenDialog(QStringLiteral("/fw/a.srec"));
    toolkit.answerNextOpenDialog(QStringLiteral("/fw/b.srec"));
    OpenDialogRequest request;
    request.previousPath = QStringLiteral("/fw/old.srec");
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/a.srec"));
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/b.srec"));
    // No answer left: the dialog counts as cancelled.
    QCOMPARE(toolkit.showOpenDialog(request), QStringLiteral("/fw/old.srec"));
}

void TestDemoSetup::dialogStartsInTheSampleFolderThenBesideTheLastChoice() {
    const DemoToolkit toolkit(QStringLiteral("/usr/share/norvak-flash/firmware"));
    QCOMPARE(toolkit.dialogStartFolder({}), QStringLiteral("/usr/share/norvak-flash/firmware"));
    // Windows puts the drive in front of a rooted path.
    QCOMPARE(toolkit.dialogStartFolder(QStringLiteral("/home/op/fw/new.srec")),
             QFileInfo(QStringLiteral("/home/op/fw")).absoluteFilePath());
}

void TestDemoSetup::deviceStatusWindowNamesPortAndFolder() {
    const auto window =
        makeDeviceStatusWindow(4, QStringLiteral("/dev/pts/3"), QStringLiteral("/fw"));
    QVERIFY(window->isWindow());
    QCOMPARE(window->windowTitle(), QStringLiteral("Simulated device on port 4"));
    const QString text = banner(4, QStringLiteral("/dev/pts/3"), QStringLiteral("/fw"));
    QVERIFY(text.contains(QStringLiteral("port 4 (/dev/pts/3)")));
    QVERIFY(text.contains(QStringLiteral("/fw")));
}

QTEST_MAIN(TestDemoSetup)
#include "test_demo_setup.moc"
