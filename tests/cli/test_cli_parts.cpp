// norvak-flash-cli's pieces without a device: the command line, the port numbers of the
// window's mapping, ports chosen by their USB adapter, how a run's verdict becomes the exit
// status, and long device lines.

#include "tools/cli/cli_options.h"
#include "tools/cli/port_list.h"
#include "tools/cli/program_run.h"
#include "tools/cli/run_reporter.h"
#include "tools/cli/shown_text.h"
#include "tools/cli/signal_watcher.h"
#include "tools/cli/usb_adapter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <memory>

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
    void optionsEndAndNamesKeepTheirBytes();
    void portNumbersFollowTheWindowsMapping();
    void usbIdsAreReadAsPortsShowsThem();
    void usbFormsThatAreRefused_data();
    void usbFormsThatAreRefused();
    void theOneMatchingAdapterIsChosen();
    void noneOrSeveralMatchingListTheCandidates();
    void portsShowWhatUsbTakes();
    void verdictBecomesExitStatus();
    void longDeviceLineKeepsHeadAndTail();
    void anInterruptArrivesOnTheEventLoop();
    void deviceBytesAreReportedInPiecesInOrder();
    void controlCharactersAreShownEscaped();
};

namespace {

ParsedCli parse(const QStringList& words) {
    return parseCli(QStringList{QStringLiteral("norvak-flash-cli")} + words);
}

RunVerdict ended(RunEndReason reason, const QString& description) {
    RunVerdict verdict;
    verdict.onRunEnded({.reason = reason, .description = description});
    return verdict;
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
    QVERIFY(!byPort.options->strict);

    const ParsedCli byDevice = parse({"program", "--device", "/dev/ttyACM0", "--file", "a.srec"});
    QVERIFY2(byDevice.options, qPrintable(byDevice.error));
    QCOMPARE(byDevice.options->device, QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(byDevice.options->speedItem(), 2); // the window's "60  - normal"
    QVERIFY(!byDevice.options->port);

    const ParsedCli check = parse({"check", "--json", "a.srec"});
    QVERIFY(check.options && check.options->json && !check.options->strict);
    QCOMPARE(check.options->file, QStringLiteral("a.srec"));
    QVERIFY(parse({"check", "--strict", "a.srec"}).options->strict);
    QVERIFY(
        parse({"program", "--port", "1", "--file", "a", "--check", "--strict"}).options->strict);
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
    QTest::newRow("usb and device")
        << QStringList{"program", "--usb", "10c4:ea60", "--device", "/dev/x", "--file", "a"}
        << "give --device or --usb, not both";
    QTest::newRow("all three ways")
        << QStringList{"program", "--usb", "10c4:ea60", "--device", "/dev/x",
                       "--port",  "1",     "--file",    "a"}
        << "not all three";
    QTest::newRow("usb without its value")
        << QStringList{"program", "--file", "a", "--usb"} << "--usb 10c4:ea60";
    QTest::newRow("no file") << QStringList{"program", "--port", "1"} << "--file FILE";
    QTest::newRow("check without file") << QStringList{"check"} << "FILE";
    QTest::newRow("two files") << QStringList{"check", "a", "b"} << "unexpected argument \"b\"";
    QTest::newRow("strict without check")
        << QStringList{"program", "--port", "1", "--file", "a", "--strict"} << "with --check";
    QTest::newRow("strict with a value")
        << QStringList{"check", "--strict=yes", "a"} << "unknown option --strict";
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
#ifdef Q_OS_WIN
    QVERIFY(usage(Command::Program).contains(QStringLiteral("Ctrl-C or Ctrl-Break")));
#else
    QVERIFY(usage(Command::Program).contains(QStringLiteral("SIGHUP")));
#endif
    QVERIFY(usage(Command::Program).contains(QStringLiteral("7 the device said \"P\"")));
    QVERIFY(parse({"--version"}).options->version);
    // Anything after --version is a wrong command line, not a request for the version.
    const ParsedCli versionAndMore = parse({"--version", "--bogus"});
    QVERIFY(!versionAndMore.options);
    QVERIFY2(versionAndMore.error.contains(QStringLiteral("--bogus")),
             qPrintable(versionAndMore.error));
    QVERIFY(versionText().startsWith(QStringLiteral("norvak-flash-cli 1.")));
}

void TestCliParts::optionsEndAndNamesKeepTheirBytes() {
    const ParsedCli dashed = parse({"check", "--", "-x.srec"});
    QVERIFY2(dashed.options, qPrintable(dashed.error));
    QCOMPARE(dashed.options->file, QStringLiteral("-x.srec"));
    QVERIFY(!parse({"check", "-x.srec"}).options);
    QVERIFY(!parse({"check", "--", "a", "b"}).options);
    const ParsedCli programDashed =
        parse({"program", "--port", "1", "--file", "a", "--", "--json"});
    QVERIFY(!programDashed.options); // after "--" even an option's name is an argument
    QVERIFY(programDashed.error.contains(QStringLiteral("unexpected argument \"--json\"")));

    // A Latin-1 name on a UTF-8 system: the bytes reach the program unchanged.
    const QByteArray latin1 = "fw-\xe9.srec";
    const ParsedCli bytes = parseCli(QList<QByteArray>{"norvak-flash-cli", "check", latin1});
    QVERIFY2(bytes.options, qPrintable(bytes.error));
    QCOMPARE(bytes.options->fileBytes, latin1);
    const ParsedCli inlineValue = parseCli(
        QList<QByteArray>{"norvak-flash-cli", "program", "--port", "1", "--file=" + latin1});
    QVERIFY2(inlineValue.options, qPrintable(inlineValue.error));
    QCOMPARE(inlineValue.options->fileBytes, latin1);
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

void TestCliParts::usbIdsAreReadAsPortsShowsThem() {
    const auto taken = [](const QString& given) {
        const ParsedCli parsed = parse({"program", "--usb", given, "--file", "a.srec"});
        return parsed.options ? usbIdText(*parsed.options->usb) : parsed.error;
    };
    QCOMPARE(taken("10c4:ea60"), QStringLiteral("10c4:ea60"));
    QCOMPARE(taken("10C4:eA60"), QStringLiteral("10c4:ea60"));
    QCOMPARE(taken("0403:6001:A10K3B7Q"), QStringLiteral("0403:6001:A10K3B7Q"));
    // The serial number is the rest as it is: its case and any further ':'.
    QCOMPARE(taken("0403:6001:ab:CD"), QStringLiteral("0403:6001:ab:CD"));
}

void TestCliParts::usbFormsThatAreRefused_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("says");
    QTest::newRow("no product id") << QStringLiteral("10c4") << "has no product id";
    QTest::newRow("empty product id") << QStringLiteral("10c4:") << "product id \"\"";
    QTest::newRow("not hex") << QStringLiteral("10g4:ea60") << "vendor id \"10g4\" is not 4 hex";
    QTest::newRow("too long") << QStringLiteral("10c4:ea600") << "product id \"ea600\"";
    QTest::newRow("other digits") << QString::fromUtf16(u"10c\u0664:ea60") << "vendor id";
    QTest::newRow("empty serial") << QStringLiteral("10c4:ea60:")
                                  << "serial number after \"10c4:ea60:\" is empty";
}

void TestCliParts::usbFormsThatAreRefused() {
    QFETCH(QString, given);
    QFETCH(QString, says);
    const ParsedCli parsed = parse({"program", "--usb", given, "--file", "a.srec"});
    QVERIFY(!parsed.options);
    QVERIFY2(parsed.error.startsWith(QStringLiteral("--usb: ")) && parsed.error.contains(says) &&
                 parsed.error.contains(QStringLiteral("norvak-flash-cli ports")),
             qPrintable(parsed.error));
}

namespace {

PortEntry adapter(const QString& path, quint16 vendor, quint16 product, const QString& serial) {
    return {std::nullopt, path,  QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"), vendor,
            product,      serial};
}

PortEntry builtIn(const QString& path) {
    return {1, path, {}, {}, {}, {}, {}};
}

UsbId usb(const char* text) {
    return *parseUsbId(QString::fromLatin1(text)).id;
}

} // namespace

void TestCliParts::theOneMatchingAdapterIsChosen() {
    const std::vector<PortEntry> ports = {
        builtIn("/dev/ttyS0"),
        adapter("/dev/ttyUSB0", 0x0403, 0x6001, "A1"),
        adapter("/dev/ttyUSB1", 0x0403, 0x6001, "B2"),
        adapter("/dev/ttyUSB2", 0x10c4, 0xea60, {}),
        adapter("/dev/ttyACM0", 0x2e8a, 0x000a, "E66038B7"),
    };
    const auto chosen = [&ports](const char* text) {
        const AdapterChoice choice = chooseAdapter(usb(text), ports);
        return choice.port ? choice.port->path : QStringLiteral("none: ") + choice.refusal;
    };
    QCOMPARE(chosen("10c4:ea60"), QStringLiteral("/dev/ttyUSB2"));
    QCOMPARE(chosen("10C4:EA60"), QStringLiteral("/dev/ttyUSB2"));
    QCOMPARE(chosen("2E8A:000A"), QStringLiteral("/dev/ttyACM0"));
    // The serial number narrows two alike adapters to one, compared exactly.
    QCOMPARE(chosen("0403:6001:B2"), QStringLiteral("/dev/ttyUSB1"));
    QVERIFY(chosen("0403:6001:a1").startsWith(QStringLiteral("none: ")));
    QVERIFY(chosen("0403:6001:A").startsWith(QStringLiteral("none: ")));
    // An adapter without a serial number is not matched by one.
    QVERIFY(chosen("10c4:ea60:0001").startsWith(QStringLiteral("none: ")));
    // Vendor and product both count.
    QVERIFY(chosen("0403:ea60").startsWith(QStringLiteral("none: ")));
}

void TestCliParts::noneOrSeveralMatchingListTheCandidates() {
    const std::vector<PortEntry> ports = {
        builtIn("/dev/ttyS0"),
        adapter("/dev/ttyUSB0", 0x0403, 0x6001, "A1"),
        adapter("/dev/ttyUSB1", 0x0403, 0x6001, "B2"),
        {std::nullopt, "/dev/ttyUSB2", {}, {}, 0x1a86, 0x7523, {}},
    };
    const AdapterChoice none = chooseAdapter(usb("ffff:fffe"), ports);
    QVERIFY(!none.port);
    QCOMPARE(none.refusal, QStringLiteral("no adapter matches --usb ffff:fffe"));
    // Every USB adapter is a candidate; a port without USB ids cannot be chosen by them.
    QCOMPARE(none.candidates,
             QStringList({"/dev/ttyUSB0  0403:6001  serial A1  FT232R USB UART (FTDI)",
                          "/dev/ttyUSB1  0403:6001  serial B2  FT232R USB UART (FTDI)",
                          "/dev/ttyUSB2  1a86:7523  no serial number"}));
    QVERIFY(none.advice.contains(QStringLiteral("--usb column")));
    const AdapterChoice noAdapter = chooseAdapter(usb("ffff:fffe"), {builtIn("/dev/ttyS0")});
    QVERIFY(noAdapter.candidates.isEmpty());
    QVERIFY2(noAdapter.advice.contains(QStringLiteral("knows no USB serial adapter")),
             qPrintable(noAdapter.advice));

    const AdapterChoice several = chooseAdapter(usb("0403:6001"), ports);
    QVERIFY(!several.port);
    QCOMPARE(several.refusal, QStringLiteral("2 adapters match --usb 0403:6001, not one"));
    QCOMPARE(several.candidates.size(), 2);
    QVERIFY(several.candidates[1].startsWith(QStringLiteral("/dev/ttyUSB1  0403:6001  serial B2")));
    QVERIFY2(several.advice.contains(QStringLiteral("--usb 0403:6001:A1")),
             qPrintable(several.advice));

    // Clones that share one serial number: only their path tells them apart.
    const std::vector<PortEntry> clones = {adapter("/dev/ttyUSB0", 0x1a86, 0x7523, "0001"),
                                           adapter("/dev/ttyUSB1", 0x1a86, 0x7523, "0001")};
    for (const char* given : {"1a86:7523", "1a86:7523:0001"}) {
        const AdapterChoice alike = chooseAdapter(usb(given), clones);
        QVERIFY(!alike.port);
        QCOMPARE(alike.candidates.size(), 2);
        QVERIFY2(alike.advice.contains(QStringLiteral("--device")), qPrintable(alike.advice));
    }
}

void TestCliParts::portsShowWhatUsbTakes() {
    const std::vector<PortEntry> ports = {
        {1, "/dev/ttyUSB0", "CP2102", "Silicon Labs", 0x10c4, 0xea60, "0001"},
        {2, "/dev/ttyUSB1", "CH340", {}, 0x1a86, 0x7523, {}},
        {std::nullopt, "/dev/ttyS4", {}, {}, {}, {}, {}},
    };
    // The columns scripts read stay where they were; the value for --usb comes last.
    const QStringList lines = portsText(ports).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0],
             QStringLiteral("port\tdevice\tdescription\tmanufacturer\tusb\tserial\t--usb"));
    QCOMPARE(lines[1], QStringLiteral("1\t/dev/ttyUSB0\tCP2102\tSilicon Labs\t10c4:ea60\t0001\t"
                                      "10c4:ea60:0001"));
    QCOMPARE(lines[2], QStringLiteral("2\t/dev/ttyUSB1\tCH340\t-\t1a86:7523\t-\t1a86:7523"));
    QCOMPARE(lines[3], QStringLiteral("-\t/dev/ttyS4\t-\t-\t-\t-\t-"));

    const QJsonArray json = QJsonDocument::fromJson(portsJson(ports)).array();
    QCOMPARE(json.size(), 3);
    const QJsonObject first = json[0].toObject();
    QCOMPARE(first[QStringLiteral("usb")].toString(), QStringLiteral("10c4:ea60:0001"));
    QCOMPARE(first[QStringLiteral("vendorId")].toString(), QStringLiteral("10c4"));
    QCOMPARE(first[QStringLiteral("serialNumber")].toString(), QStringLiteral("0001"));
    QCOMPARE(json[1].toObject()[QStringLiteral("usb")].toString(), QStringLiteral("1a86:7523"));
    QVERIFY(json[2].toObject()[QStringLiteral("usb")].isNull());

    // What ports shows chooses that port again.
    for (const PortEntry& port : ports) {
        if (const auto shown = usbIdOf(port)) {
            const ParsedUsbId given = parseUsbId(usbIdText(*shown));
            QVERIFY2(given.id, qPrintable(given.error));
            QCOMPARE(chooseAdapter(*given.id, ports).port->path, port.path);
        }
    }
}

void TestCliParts::verdictBecomesExitStatus() {
    const RunFacts wholeFile{.progressPercent = 100.0, .linesSent = 66};
    const RunVerdict programmed = ended(RunEndReason::Programmed, QStringLiteral("PROGRAMMED"));
    QCOMPARE(runEnd(programmed, wholeFile).exitStatus, 0);
    // The window's "PROGRAMMED" while lines were still to go is not a programmed device.
    const RunEnd early = runEnd(programmed, {.progressPercent = 95.3, .linesSent = 286});
    QCOMPARE(early.exitStatus, 7);
    QCOMPARE(early.outcome, QStringLiteral("programmed-early"));
    QVERIFY2(early.text.contains(QStringLiteral("after 286 lines")), qPrintable(early.text));

    const RunVerdict noBoot =
        ended(RunEndReason::NoBootProgram, QStringLiteral("Restart to bootprogram failled!"));
    QCOMPARE(runEnd(noBoot, wholeFile).exitStatus, 2);
    QCOMPARE(runEnd(noBoot, wholeFile).text, QStringLiteral("Restart to bootprogram failled!"));

    const RunVerdict watchdog =
        ended(RunEndReason::DotTimeout, QStringLiteral("Programming FAILLED"));
    QCOMPARE(runEnd(watchdog, wholeFile).exitStatus, 3);
    // The texts are the window's own, as it announced the end.
    QCOMPARE(runEnd(watchdog, wholeFile).text, QStringLiteral("Programming FAILLED"));
    QCOMPARE(runEnd(programmed, wholeFile).text, QStringLiteral("PROGRAMMED"));

    // The port's description comes with the announced end, without the caption's time.
    const QString stale = QStringLiteral("Port 1 (/dev/pts/4): the data could not be sent (the "
                                         "system said: Inappropriate ioctl for device).");
    const RunVerdict lost = ended(RunEndReason::PortLost, stale);
    const RunEnd lostEnd =
        runEnd(lost, {.deviceWentAway = true, .portLabel = "Port 1 (/dev/pts/4)"});
    QCOMPARE(lostEnd.exitStatus, 4);
    QVERIFY(lostEnd.text.contains(QStringLiteral("Port 1 (/dev/pts/4): the device went away")));
    QVERIFY(!lostEnd.advice.contains(QStringLiteral("ioctl")));
    const RunEnd notOpened = runEnd(ended(RunEndReason::ConnectFailed, stale), {});
    QCOMPARE(notOpened.exitStatus, 4);
    QCOMPARE(notOpened.text, stale);
    QCOMPARE(runEnd(lost, {}).text, stale);

    RunVerdict interrupted;
    interrupted.onInterrupted();
    interrupted.onRunEnded({.reason = RunEndReason::Programmed, .description = "PROGRAMMED"});
    QCOMPARE(runEnd(interrupted, wholeFile).exitStatus, 6);
    QCOMPARE(runEnd(ended(RunEndReason::ClosedByConnect, {}), wholeFile).exitStatus, 6);
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

namespace {

// What a reporter wrote, read back from its temporary file.
class Capture {
public:
    Capture()
        : file_(std::tmpfile(), &std::fclose) {}
    [[nodiscard]] std::FILE* file() const { return file_.get(); }
    [[nodiscard]] QByteArray text() const {
        std::rewind(file_.get());
        QByteArray bytes;
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_.get())) > 0) {
            bytes.append(buffer, static_cast<qsizetype>(got));
        }
        return bytes;
    }

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

} // namespace

void TestCliParts::deviceBytesAreReportedInPiecesInOrder() {
    // The window takes a flood one byte at a time.
    const QByteArray flood = QByteArray("Hello from the device\r\n").repeated(400);
    Capture json;
    {
        RunReporter reporter(RunReporter::Style::Json, json.file(), json.file());
        reporter.received(">");
        reporter.caption(QStringLiteral("Norvak Flash Programmer, Bootprogram started"),
                         QStringLiteral("Bootprogram started"));
        for (const char c : flood) {
            reporter.received(QByteArray(1, c));
        }
        reporter.receiveEventEnded();
        reporter.received("tail");
        reporter.end({0, QStringLiteral("programmed"), QStringLiteral("PROGRAMMED"), {}});
    }
    const QList<QByteArray> lines = json.text().trimmed().split('\n');
    QCOMPARE(lines.size(), 5); // ">", the caption, the flood, "tail", the outcome
    const auto event = [&lines](qsizetype i) {
        return QJsonDocument::fromJson(lines[i]).object();
    };
    QCOMPARE(event(0)[QStringLiteral("text")].toString(), QStringLiteral(">"));
    QCOMPARE(event(1)[QStringLiteral("event")].toString(), QStringLiteral("caption"));
    QCOMPARE(event(2)[QStringLiteral("text")].toString(), QString::fromLatin1(flood));
    QCOMPARE(event(3)[QStringLiteral("text")].toString(), QStringLiteral("tail"));
    QCOMPARE(event(3)[QStringLiteral("total")].toInt(), flood.size() + 5);
    QCOMPARE(event(4)[QStringLiteral("event")].toString(), QStringLiteral("outcome"));

    // Plain lines: one per device line, whole, however the bytes came.
    Capture plain;
    {
        RunReporter reporter(RunReporter::Style::Plain, plain.file(), plain.file());
        for (const char c : flood) {
            reporter.received(QByteArray(1, c));
        }
        reporter.receiveEventEnded();
    }
    const QByteArray shown = plain.text();
    QCOMPARE(shown.count("device: Hello from the device\n"), 400);
    QVERIFY(shown.size() < flood.size() * 2);
}

void TestCliParts::controlCharactersAreShownEscaped() {
    QCOMPARE(withControlsEscaped(u"a\x1b]0;title\x07"
                                 u"b\u009bc\u00e9"),
             QStringLiteral("a\\x1b]0;title\\x07b\\x9bc\u00e9"));
    QCOMPARE(shownName("fw-\xe9.srec"), QStringLiteral("fw-\\xe9.srec"));
    QCOMPARE(shownName("fw-\xc3\xa9.srec"), QStringLiteral("fw-\u00e9.srec"));
    QCOMPARE(shownName("\xc0\xaf\xed\xa0\x80\x1b"),
             QStringLiteral("\\xc0\\xaf\\xed\\xa0\\x80\\x1b")); // overlong, surrogate, ESC

    // A name that would retitle the terminal reaches the lines as text.
    Capture terminal;
    {
        RunReporter reporter(RunReporter::Style::Terminal, terminal.file(), terminal.file());
        reporter.step(QStringLiteral("Choose /tmp/\x1b]0;owned\x07.srec"));
        reporter.received("\x1b[2J\r\n");
        reporter.end({4, QStringLiteral("port-failed"), QStringLiteral("lost \x1b[2J"),
                      QStringLiteral("advice \x1b[2J")});
    }
    const QByteArray text = terminal.text();
    QVERIFY2(!text.contains("\x1b]") && !text.contains("\x1b[2J") && !text.contains('\x07'),
             text.constData());
    QVERIFY(text.contains("Choose /tmp/\\x1b]0;owned\\x07.srec"));
    QVERIFY(text.contains("device: \\x1b[2J"));
}

QTEST_MAIN(TestCliParts)
#include "test_cli_parts.moc"
