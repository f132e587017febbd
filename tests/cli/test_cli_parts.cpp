// norvak-flash-cli's pieces without a device: the command line, the port numbers of the
// window's mapping, how a run's verdict becomes the exit status, and long device lines.

#include "cli_options.h"
#include "port_list.h"
#include "program_run.h"
#include "run_reporter.h"
#include "signal_watcher.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace norvak;
using namespace norvak::cli;
using norvak::unattended::RunOutcome;
using norvak::unattended::RunVerdict;

class TestCliParts : public QObject {
    Q_OBJECT

private slots:
    void programTakesItsOptions();
    void refusalsSayWhatToDo_data();
    void refusalsSayWhatToDo();
    void helpAndVersion();
    void portNumbersFollowTheWindowsMapping();
    void verdictBecomesExitStatus();
    void longDeviceLineKeepsHeadAndTail();
    void anInterruptArrivesOnTheEventLoop();
};

namespace {

ParsedCli parse(const QStringList& words) {
    return parseCli(QStringList{QStringLiteral("norvak-flash-cli")} + words);
}

MessageBoxRequest critical(const QString& text) {
    MessageBoxRequest request;
    request.text = text;
    request.icon = MessageIcon::Critical;
    return request;
}

} // namespace

void TestCliParts::programTakesItsOptions() {
    const ParsedCli byPort =
        parse({"program", "--port", "3", "--file=fw.srec", "--speed", "100", "--check", "--json"});
    QVERIFY2(byPort.options, qPrintable(byPort.error));
    QCOMPARE(byPort.options->command, Command::Program);
    QCOMPARE(*byPort.options->port, 3);
    QCOMPARE(byPort.options->file, QStringLiteral("fw.srec"));
    QCOMPARE(byPort.options->speedItem(), 4);
    QVERIFY(byPort.options->check && byPort.options->json);

    const ParsedCli byDevice = parse({"program", "--device", "/dev/ttyACM0", "--file", "a.srec"});
    QVERIFY2(byDevice.options, qPrintable(byDevice.error));
    QCOMPARE(byDevice.options->device, QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(byDevice.options->speedItem(), 2); // the window's "60  - normal"
    QVERIFY(!byDevice.options->port);

    const ParsedCli check = parse({"check", "--json", "a.srec"});
    QVERIFY(check.options && check.options->json);
    QCOMPARE(check.options->file, QStringLiteral("a.srec"));
}

void TestCliParts::refusalsSayWhatToDo_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("says");
    QTest::newRow("nothing") << QStringList{} << "ports, check or program";
    QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command \"flash\"";
    QTest::newRow("unknown option")
        << QStringList{"program", "--baud", "9600"} << "unknown option --baud";
    QTest::newRow("option of another command")
        << QStringList{"check", "--port", "1", "a.srec"} << "unknown option --port for check";
    QTest::newRow("speed") << QStringList{"program", "--port", "1", "--file", "a", "--speed", "50"}
                           << "20, 40, 60, 80, 100";
    QTest::newRow("port") << QStringList{"program", "--port", "0", "--file", "a"}
                          << "norvak-flash-cli ports";
    QTest::newRow("value missing")
        << QStringList{"program", "--file", "a", "--port"} << "--port needs a value";
    QTest::newRow("no port") << QStringList{"program", "--file", "a"} << "--port N";
    QTest::newRow("both") << QStringList{"program", "--port", "1", "--device",
                                         "/dev/x",  "--file", "a"}
                          << "not both";
    QTest::newRow("no file") << QStringList{"program", "--port", "1"} << "--file FILE";
    QTest::newRow("check without file") << QStringList{"check"} << "FILE";
    QTest::newRow("two files") << QStringList{"check", "a", "b"} << "unexpected argument \"b\"";
}

void TestCliParts::refusalsSayWhatToDo() {
    QFETCH(QStringList, words);
    QFETCH(QString, says);
    const ParsedCli parsed = parse(words);
    QVERIFY(!parsed.options);
    QVERIFY2(parsed.error.contains(says), qPrintable(parsed.error));
}

void TestCliParts::helpAndVersion() {
    QVERIFY(parse({"--help"}).options->help);
    const ParsedCli programHelp = parse({"program", "--help"});
    QVERIFY(programHelp.options && programHelp.options->help); // nothing else is asked for
    for (const Command command :
         {Command::None, Command::Ports, Command::Check, Command::Program}) {
        QVERIFY(usage(command).startsWith(QStringLiteral("usage: norvak-flash-cli")));
    }
    QVERIFY(usage(Command::Program).contains(QStringLiteral("6 interrupted")));
    QVERIFY(parse({"--version"}).options->version);
    QVERIFY(versionText().startsWith(QStringLiteral("norvak-flash-cli 1.")));
}

void TestCliParts::portNumbersFollowTheWindowsMapping() {
    const PortCandidates linux = [](int port) -> QStringList {
        return {QStringLiteral("/dev/ttyUSB%1").arg(port - 1),
                QStringLiteral("/dev/ttyACM%1").arg(port - 1),
                QStringLiteral("/dev/ttyS%1").arg(port - 1)};
    };
    const QStringList present = {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS2"};
    const auto exists = [&present](const QString& path) {
        return present.contains(path);
    };
    QCOMPARE(portNumberFor("/dev/ttyUSB0", linux, exists), std::optional<int>(1));
    // Port 1 opens the USB adapter first: the ACM device behind the same number is out of reach.
    QCOMPARE(portNumberFor("/dev/ttyACM0", linux, exists), std::nullopt);
    QCOMPARE(portNumberFor("/dev/ttyACM1", linux, exists), std::optional<int>(2));
    QCOMPARE(portNumberFor("/dev/ttyS2", linux, exists), std::optional<int>(3));
    QCOMPARE(portNumberFor("/dev/serial", linux, exists), std::nullopt);

    const PortCandidates windows = [](int port) -> QStringList {
        return {QStringLiteral("COM%1").arg(port)};
    };
    QCOMPARE(portNumberFor("COM7", windows, [](const QString&) { return true; }),
             std::optional<int>(7));

    const QString text =
        portsText({{1, "/dev/ttyUSB0", "CP2102", "Silicon Labs", 0x10c4, 0xea60, "0001"},
                   {std::nullopt, "/dev/ttyACM0", {}, {}, {}, {}, {}}});
    QVERIFY2(
        text.contains(QStringLiteral("1\t/dev/ttyUSB0\tCP2102\tSilicon Labs\t10c4:ea60\t0001")),
        qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("-\t/dev/ttyACM0\t-")));
    QVERIFY(portsText({}).startsWith(QStringLiteral("No serial ports found")));
}

void TestCliParts::verdictBecomesExitStatus() {
    RunVerdict programmed;
    programmed.onCaption(QStringLiteral("Norvak Flash Programmer, PROGRAMMED"));
    QCOMPARE(runEnd(programmed, {}).exitStatus, 0);

    RunVerdict noBoot;
    noBoot.onSettledIdle(QStringLiteral("\r\nRestart to bootprogram failled!"));
    QCOMPARE(runEnd(noBoot, {}).exitStatus, 2);
    QCOMPARE(runEnd(noBoot, {}).text, QStringLiteral("Restart to bootprogram failled!"));

    RunVerdict watchdog;
    watchdog.onCaption(QStringLiteral("Norvak Flash Programmer, Programming FAILLED"));
    watchdog.onMessage(critical(QStringLiteral("Error: DOT Timeout")));
    QCOMPARE(runEnd(watchdog, {}).exitStatus, 3);

    RunVerdict lost;
    lost.onCaption(QStringLiteral("Norvak Flash Programmer, Connect:   Error 12:00:01Port 1 "
                                  "(/dev/pts/4): the connection to the device was lost."));
    const RunEnd lostEnd = runEnd(lost, QStringLiteral("Port 1 (/dev/pts/4): lost."));
    QCOMPARE(lostEnd.exitStatus, 4);
    QVERIFY(lostEnd.text.contains(QStringLiteral("/dev/pts/4")));

    RunVerdict interrupted;
    interrupted.onInterrupted();
    interrupted.onCaption(QStringLiteral("Norvak Flash Programmer, PROGRAMMED"));
    QCOMPARE(runEnd(interrupted, {}).exitStatus, 6);
}

void TestCliParts::longDeviceLineKeepsHeadAndTail() {
    RunReporter::DeviceLine line;
    line.append('>');
    line.append('\x01');
    QCOMPARE(line.shown(), QStringLiteral(">\\x01"));
    line.clear();
    const QByteArray text = ">_" + QByteArray(10000, '.') + "Programmed successfully!";
    for (const char c : text) {
        line.append(c);
    }
    const QString shown = line.shown();
    QVERIFY(shown.startsWith(QStringLiteral(">_....")));
    QVERIFY(shown.endsWith(QStringLiteral("Programmed successfully!")));
    QVERIFY2(shown.contains(QStringLiteral("(9846 characters)")), qPrintable(shown));
    QVERIFY(shown.size() < 300);
}

// SIGINT on Linux, Ctrl-Break in the console on Windows: the watcher reports it from the event
// loop, as a signal to the thread it lives in, and only once it was asked for.
void TestCliParts::anInterruptArrivesOnTheEventLoop() {
#ifdef Q_OS_LINUX
    blockTerminationSignals(); // this thread only: raise() below is sent to it
#endif
    SignalWatcher watcher;
    QSignalSpy requests(&watcher, &SignalWatcher::terminationRequested);
    QTest::qWait(50);
    QCOMPARE(requests.count(), 0);
#ifdef Q_OS_WIN
    // A console of its own: Ctrl-Break in a shared one would reach the test runner too.
    ::FreeConsole();
    if (!::AllocConsole() || !::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
        QSKIP("no console of its own to send Ctrl-Break in (Wine 8 makes none)");
    }
#elif defined(Q_OS_LINUX)
    QCOMPARE(std::raise(SIGINT), 0);
#else
    QSKIP("the watcher is inactive here");
#endif
    QVERIFY(requests.wait(5000));
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.first().first().toInt(), SIGINT);
}

QTEST_MAIN(TestCliParts)
#include "test_cli_parts.moc"
