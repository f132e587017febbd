// norvak-flash-cli as a script runs it, against simulated devices over pseudo-terminals: every
// exit status, the JSON events in order, SIGINT in the middle of the file and SIGTERM while
// waiting for the boot program, check on good and bad files and on files with warnings only
// (sent, unless --strict), the README's example that programs four devices at once, each
// run's line in one report, and a device that takes its port with it when it is switched off
// and on.

#include "tests/cli/cli_process.h"
#include "tests/support/device_rig.h"
#include "tools/simdevice/simdevice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>

using namespace norvak;
using namespace norvak::clitest;
using namespace std::chrono_literals;

class TestCliProgram : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void programsAndReportsEachEventInOrder();
    void checkExitStatuses();
    void checkRefusesAWrongFileBeforeSending();
    void warningsPassUnlessStrict();
    void watchdogEndsWithThree();
    void portThatDoesNotOpenOrIsLostEndsWithFour();
    void usbWithoutItsAdapterEndsWithFour();
    void unreadableFirmwareEndsWithFive();
    void firmwareGoneWhenItIsToBeSentEndsWithFive();
    void aFileCutWhileItIsCheckedEndsWithFive_data();
    void aFileCutWhileItIsCheckedEndsWithFive();
    void aSignalDuringTheCheckEndsWithSix_data();
    void aSignalDuringTheCheckEndsWithSix();
    void sigintMidFileCancelsAndWritesNothingMore();
    void sigtermWhileWaitingForTheBootProgram();
    void readmeExampleProgramsFourDevicesAtOnce();
    void aPortGoneDuringTheCountdownIsReopenedWhenBack();
    void waitForPortOpensThePortWhenItAppears();
    // Last: they started first and need the whole 61-second countdown.
    void noBootProgramEndsWithTwo();
    void anApplicationPrintingOnWithoutBootProgramEndsWithTwo();

private:
    std::unique_ptr<SimDevice> silentDevice_;
    std::unique_ptr<QProcess> silentRun_;
    std::unique_ptr<SimDevice> chattyDevice_;
    std::unique_ptr<QProcess> chattyRun_;
};

namespace {

const QString sourceDir = QStringLiteral(NORVAK_SOURCE_DIR);

QString firmware(const char* name) {
    return faults::firmwarePath(name);
}

// How far `pid` has read the file at `path`, from the offset of its open handle; -1 while it
// has none open.
qint64 readPosition(qint64 pid, const QString& path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System)) {
        if (fd.symLinkTarget() != path) {
            continue;
        }
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd.fileName()));
        if (info.open(QIODevice::ReadOnly)) {
            const QByteArray pos = info.readLine(); // "pos:\t<offset>"
            return pos.mid(pos.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return -1;
}

// Waits until `process` has read `bytes` of the file at `path`.
bool waitUntilRead(const QProcess& process, const QString& path, qint64 bytes) {
    QElapsedTimer waited;
    waited.start();
    while (process.state() != QProcess::NotRunning && waited.elapsed() < 30'000) {
        if (readPosition(process.processId(), path) >= bytes) {
            return true;
        }
        QThread::usleep(200);
    }
    return false;
}

// A file of NUL bytes as large as `size`, without taking the room: reading it costs only the
// reading.
QString sparseFile(const QTemporaryDir& dir, qint64 size) {
    const QString path = dir.filePath(QStringLiteral("sparse.srec"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
        return {};
    }
    return path;
}

} // namespace

void TestCliProgram::initTestCase() {
    QVERIFY2(QFile::exists(cliPath), qPrintable(cliPath));
    // The countdown takes a minute: this run goes on while the others do.
    SimDeviceConfig silent = deviceConfig();
    silent.silent = true;
    silentDevice_ = std::make_unique<SimDevice>(silent);
    silentRun_ = startCli({"program", "--device", devicePath(*silentDevice_), "--file",
                           firmware("small-crlf.srec"), "--json"});
    // Nobody switches this one off and on: its application prints on, past the countdown.
    SimDeviceConfig chatty = deviceConfig();
    chatty.autoPowerCycleAfter.reset();
    chattyDevice_ = std::make_unique<SimDevice>(chatty);
    chattyRun_ = startCli({"program", "--device", devicePath(*chattyDevice_), "--file",
                           firmware("small-crlf.srec"), "--json"});
    // From the first wake-up on, so that no text waits for the port to open.
    QVERIFY(chattyDevice_->waitForReceived(1, 30s));
    chattyDevice_->textFlood(1000.0, 100'000); // 100 s: longer than the run
}

void TestCliProgram::programsAndReportsEachEventInOrder() {
    SimDevice device(deviceConfig());
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("small-crlf.srec"), "--speed", "20", "--json"});
    QCOMPARE(finish(*run), 0);
    const Events events = parseEvents(run->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));

    // The road of a run, in the order the window walks it.
    const QList<qsizetype> road = {
        events.indexOf("step", "action", QStringLiteral("Connect to port 1")),
        events.indexOf("caption", "status", QStringLiteral("Connect: True")),
        events.indexOf("step", "action", QStringLiteral("Choose speed 20  - fastest")),
        events.indexOf("step", "action", QStringLiteral("Press START PROGRAMMING")),
        events.indexOf("button", "caption", QStringLiteral("Waiting restart: 60")),
        events.indexOf("prompt"),
        events.indexOf("received", "text", QStringLiteral(">")),
        events.indexOf("caption", "status", QStringLiteral("Bootprogram started")),
        events.indexOf("button", "caption", QStringLiteral("CANCEL")),
        events.indexOf("caption", "status", QStringLiteral("Sending File")),
        events.indexOf("progress"),
        events.indexOf("caption", "status", QStringLiteral("PROGRAMMED")),
        events.indexOf("outcome"),
    };
    for (qsizetype i = 0; i < road.size(); ++i) {
        QVERIFY2(road[i] >= 0, qPrintable(QStringLiteral("step %1 missing").arg(i)));
        if (i > 0) {
            QVERIFY2(road[i] > road[i - 1], qPrintable(QStringLiteral("step %1 early").arg(i)));
        }
    }
    const QJsonObject outcome = events.list.back();
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("programmed"));
    QCOMPARE(outcome[QStringLiteral("exitStatus")].toInt(), 0);

    // One progress event per line, never going back; times never go back; every byte the
    // device sent was reported, in running totals.
    int progressEvents = 0;
    double lastPercent = -1;
    double lastTime = 0;
    qint64 lastTotal = 0;
    for (const QJsonObject& e : events.list) {
        const double t = e[QStringLiteral("t")].toDouble();
        QVERIFY(t >= lastTime);
        lastTime = t;
        if (e[QStringLiteral("event")] == QStringLiteral("progress")) {
            ++progressEvents;
            QVERIFY(e[QStringLiteral("percent")].toDouble() >= lastPercent);
            lastPercent = e[QStringLiteral("percent")].toDouble();
        } else if (e[QStringLiteral("event")] == QStringLiteral("received")) {
            const auto total = static_cast<qint64>(e[QStringLiteral("total")].toDouble());
            QCOMPARE(total, lastTotal + e[QStringLiteral("bytes")].toInt());
            lastTotal = total;
        }
    }
    QCOMPARE(progressEvents, 66);
    QCOMPARE(lastPercent, 100.0);
    const SimRecording recording = device.recording();
    QCOMPARE(lastTotal, static_cast<qint64>(recording.sent.size()));
    QCOMPARE(static_cast<qint64>(outcome[QStringLiteral("bytesReceived")].toDouble()), lastTotal);
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(streamAfterReady(recording),
             faults::expectedStream(faults::readFile(firmware("small-crlf.srec"))));
}

void TestCliProgram::checkExitStatuses() {
    const auto clean = startCli({"check", firmware("sample-lf.srec")});
    QCOMPARE(finish(*clean), 0);
    const QString report = QString::fromUtf8(clean->readAllStandardOutput());
    QVERIFY2(report.contains(QStringLiteral(": clean")), qPrintable(report));
    QVERIFY(report.contains(QStringLiteral("Lines sent:         258")));

    const auto json = startCli({"check", "--json", firmware("small-crlf.srec")});
    QCOMPARE(finish(*json), 0);
    const QJsonObject object = QJsonDocument::fromJson(json->readAllStandardOutput()).object();
    QCOMPARE(object[QStringLiteral("linesSent")].toInt(), 66);
    QCOMPARE(object[QStringLiteral("lineEnds")].toObject()[QStringLiteral("kind")].toString(),
             QStringLiteral("CR LF"));

    const auto missing = startCli({"check", QStringLiteral("/nonexistent/fw.srec")});
    QCOMPARE(finish(*missing), 5);
    QVERIFY(missing->readAllStandardError().contains("no such file"));

    const auto usage = startCli({"check", "--speed", "20", firmware("small-crlf.srec")});
    QCOMPARE(finish(*usage), 64);
    QVERIFY(usage->readAllStandardError().contains("unknown option --speed"));
}

void TestCliProgram::checkRefusesAWrongFileBeforeSending() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.srec"));
    QByteArray bad = faults::readFile(firmware("small-crlf.srec"));
    const qsizetype thirdLine = bad.indexOf("\r\nS1", bad.indexOf("\r\nS1") + 1) + 2;
    bad[thirdLine + 12] = 'x';
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bad) == bad.size());
    file.close();

    const auto check = startCli({"check", path});
    QCOMPARE(finish(*check), 1);
    QVERIFY2(check->readAllStandardOutput().contains(":3:13: 'x' is not a hex digit"),
             "the problem names line 3, column 13");

    SimDevice device(deviceConfig());
    const auto run =
        startCli({"program", "--device", devicePath(device), "--file", path, "--check"});
    QCOMPARE(finish(*run), 1);
    QVERIFY(run->readAllStandardError().contains(":3:13:"));
    QVERIFY(device.recording().received.empty());
}

void TestCliProgram::warningsPassUnlessStrict() {
    // The first data record moved to just before the S9, as a linker places a vector table
    // after the code: out of address order, a warning.
    QList<QByteArray> lines = faults::readFile(firmware("small-crlf.srec")).trimmed().split('\n');
    for (QByteArray& line : lines) {
        line = line.trimmed();
    }
    lines.move(1, lines.size() - 2);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vectors-last.srec"));
    QFile file(path);
    const QByteArray contents = lines.join("\r\n") + "\r\n";
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();

    const auto check = startCli({"check", path});
    QCOMPARE(finish(*check), 0);
    const QString text = QString::fromUtf8(check->readAllStandardOutput());
    QVERIFY2(text.contains(QStringLiteral(":65:5: warning: address 0x0000 is below")) &&
                 text.contains(QStringLiteral(": 0 errors, 1 warning\n")),
             qPrintable(text));

    const auto json = startCli({"check", "--json", path});
    QCOMPARE(finish(*json), 0);
    const QJsonObject object = QJsonDocument::fromJson(json->readAllStandardOutput()).object();
    QCOMPARE(object[QStringLiteral("errorCount")].toInt(), 0);
    QCOMPARE(object[QStringLiteral("warningCount")].toInt(), 1);
    const QJsonObject problem = object[QStringLiteral("problems")].toArray().at(0).toObject();
    QCOMPARE(problem[QStringLiteral("severity")].toString(), QStringLiteral("warning"));
    QCOMPARE(problem[QStringLiteral("kind")].toString(), QStringLiteral("address-backwards"));

    QCOMPARE(finish(*startCli({"check", "--strict", path})), 1);

    SimDevice strictDevice(deviceConfig());
    const auto refused = startCli(
        {"program", "--device", devicePath(strictDevice), "--file", path, "--check", "--strict"});
    QCOMPARE(finish(*refused), 1);
    QVERIFY(refused->readAllStandardError().contains(":65:5: warning:"));
    QVERIFY(strictDevice.recording().received.empty());

    SimDevice device(deviceConfig());
    const auto sent = startCli(
        {"program", "--device", devicePath(device), "--file", path, "--check", "--speed", "20"});
    QCOMPARE(finish(*sent), 0);
    QVERIFY(sent->readAllStandardError().contains(":65:5: warning:"));
    QCOMPARE(streamAfterReady(device.recording()), faults::expectedStream(contents));
}

void TestCliProgram::watchdogEndsWithThree() {
    SimDeviceConfig config = deviceConfig();
    config.dotsStopAfterLine = 3;
    SimDevice device(config);
    // Longer than the watchdog's 3 s, so that the device's end of file does not come first.
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("sample-lf.srec"), "--speed", "20"});
    QCOMPARE(finish(*run), 3);
    const QString out = QString::fromUtf8(run->readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("Programming FAILLED")), qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("message box: Error: DOT Timeout")));
    QVERIFY(out.contains(QStringLiteral("Result: FAILED (exit status 3)")));
    QVERIFY(run->readAllStandardError().contains("--speed"));
}

void TestCliProgram::portThatDoesNotOpenOrIsLostEndsWithFour() {
    const auto missing = startCli({"program", "--device", "/dev/norvak-no-such-tty", "--file",
                                   firmware("small-lf.srec"), "--json"});
    QCOMPARE(finish(*missing), 4);
    const Events events = parseEvents(missing->readAllStandardOutput());
    QCOMPARE(events.list.back()[QStringLiteral("outcome")].toString(),
             QStringLiteral("port-failed"));
    QVERIFY(events.list.back()[QStringLiteral("text")].toString().contains(
        QStringLiteral("/dev/norvak-no-such-tty")));
    QVERIFY(missing->readAllStandardError().contains("/dev/norvak-no-such-tty"));

    SimDeviceConfig config = deviceConfig();
    config.hangUpAfterLine = 5;
    SimDevice device(config);
    const QString path = devicePath(device);
    const auto lost = startCli(
        {"program", "--device", path, "--file", firmware("small-lf.srec"), "--speed", "20"});
    QCOMPARE(finish(*lost), 4);
    const QByteArray err = lost->readAllStandardError();
    QVERIFY2(err.contains(": the device went away") && err.contains(path.toUtf8()),
             err.constData());
}

// Pseudo-terminals have no USB ids, and no adapter has these: --usb ends the run before any port
// is opened. What `ports` shows for --usb belongs to the adapter it lists.
void TestCliProgram::usbWithoutItsAdapterEndsWithFour() {
    const QStringList run = {"program", "--usb", "FFFF:fffe", "--file", firmware("small-lf.srec")};
    const auto text = startCli(run);
    QCOMPARE(finish(*text), 4);
    const QString out = QString::fromUtf8(text->readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral(
                 "Result: FAILED (exit status 4): no adapter matches --usb ffff:fffe")),
             qPrintable(out));
    QVERIFY(text->readAllStandardError().contains("'norvak-flash-cli ports'"));

    const auto json = startCli(run + QStringList{"--json"});
    QCOMPARE(finish(*json), 4);
    const Events events = parseEvents(json->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    QCOMPARE(events.list.size(), 1);
    const QJsonObject outcome = events.list[0];
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("port-failed"));
    QCOMPARE(outcome[QStringLiteral("exitStatus")].toInt(), 4);
    QCOMPARE(outcome[QStringLiteral("text")].toString(),
             QStringLiteral("no adapter matches --usb ffff:fffe"));

    // One way to name the port: --usb with --device is a wrong command line.
    SimDevice device(deviceConfig());
    const auto both = startCli(run + QStringList{"--device", devicePath(device)});
    QCOMPARE(finish(*both), 64);
    QVERIFY(both->readAllStandardError().contains("give --device or --usb, not both"));
    QVERIFY(device.recording().received.empty());

    const auto ports = startCli({"ports", "--json"});
    QCOMPARE(finish(*ports), 0);
    const QJsonArray listed = QJsonDocument::fromJson(ports->readAllStandardOutput()).array();
    for (const QJsonValue& value : listed) {
        const QJsonObject port = value.toObject();
        QVERIFY(port.contains(QStringLiteral("device")) && port.contains(QStringLiteral("usb")));
        const QJsonValue vendor = port[QStringLiteral("vendorId")];
        if (vendor.isNull()) {
            QVERIFY(port[QStringLiteral("usb")].isNull());
        } else {
            QVERIFY(port[QStringLiteral("usb")].toString().startsWith(
                vendor.toString() + QLatin1Char(':') +
                port[QStringLiteral("productId")].toString()));
        }
    }
}

void TestCliProgram::unreadableFirmwareEndsWithFive() {
    SimDevice device(deviceConfig());
    const auto run = startCli(
        {"program", "--device", devicePath(device), "--file", "/nonexistent/fw.srec", "--json"});
    QCOMPARE(finish(*run), 5);
    const Events events = parseEvents(run->readAllStandardOutput());
    QCOMPARE(events.list.size(), 1);
    QCOMPARE(events.list[0][QStringLiteral("outcome")].toString(),
             QStringLiteral("file-unreadable"));
    QVERIFY(device.recording().received.empty());
}

void TestCliProgram::firmwareGoneWhenItIsToBeSentEndsWithFive() {
    // The file is there when the run starts and gone when the streamer opens it, a second
    // after the boot program asked for it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fw.srec"));
    QVERIFY(QFile::copy(firmware("small-lf.srec"), path));
    SimDevice device(deviceConfig());
    const auto run =
        startCli({"program", "--device", devicePath(device), "--file", path, "--json"});
    QVERIFY(device.waitForReceived(1, 20s)); // the first wake-up "i": the run has begun
    QVERIFY(QFile::remove(path));
    QCOMPARE(finish(*run), 5);
    const Events events = parseEvents(run->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const QString reason =
        QStringLiteral("Cannot read the firmware file: ") + path + QStringLiteral(": no such file");
    QVERIFY(events.indexOf("caption", "status", reason) >= 0);
    QVERIFY(events.indexOf("message") < 0); // no "Error: DOT Timeout"
    const QJsonObject outcome = events.list.back();
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("file-unreadable"));
    QCOMPARE(outcome[QStringLiteral("text")].toString(), reason);
    QVERIFY(run->readAllStandardError().contains(path.toUtf8()));
    QVERIFY(streamAfterReady(device.recording()).isEmpty());
}

void TestCliProgram::aFileCutWhileItIsCheckedEndsWithFive_data() {
    QTest::addColumn<bool>("program");
    QTest::newRow("check") << false;
    QTest::newRow("program --check") << true;
}

void TestCliProgram::aFileCutWhileItIsCheckedEndsWithFive() {
    QFETCH(bool, program);
    QTemporaryDir dir;
    const QString path = sparseFile(dir, 4LL << 30);
    QVERIFY(!path.isEmpty());
    SimDevice device(deviceConfig());
    const auto run = startCli(
        program ? QStringList{"program", "--device", devicePath(device), "--file", path, "--check"}
                : QStringList{"check", path});
    QVERIFY(waitUntilRead(*run, path, 4 << 20));
    QVERIFY(QFile::resize(path, 1 << 20));
    QCOMPARE(finish(*run, 30s), 5);
    const QByteArray err = run->readAllStandardError();
    QVERIFY2(err.contains("got shorter while it was read"), err.constData());
    QVERIFY(device.recording().received.empty());
}

void TestCliProgram::aSignalDuringTheCheckEndsWithSix_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestCliProgram::aSignalDuringTheCheckEndsWithSix() {
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString path = sparseFile(dir, 64LL << 30);
    QVERIFY(!path.isEmpty());
    SimDevice device(deviceConfig());
    const auto run =
        startCli({"program", "--device", devicePath(device), "--file", path, "--check", "--json"});
    QVERIFY(waitUntilRead(*run, path, 8 << 20));
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), signalNumber), 0);
    QCOMPARE(finish(*run, 30s), 6);
    const Events events = parseEvents(run->readAllStandardOutput());
    QCOMPARE(events.list.size(), 1);
    QCOMPARE(events.list[0][QStringLiteral("outcome")].toString(), QStringLiteral("interrupted"));
    QVERIFY(run->readAllStandardError().contains("nothing was sent"));
    QVERIFY(device.recording().received.empty());
}

void TestCliProgram::sigintMidFileCancelsAndWritesNothingMore() {
    SimDevice device(deviceConfig());
    // The slowest pause: a program that went on writing would add a line every 100 ms.
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("sample-crlf.srec"), "--speed", "100", "--json"});
    QVERIFY(device.waitFor([](const SimRecording& r) { return r.acceptedLines.size() >= 4; }, 20s));
    const std::size_t linesAtSignal = device.recording().acceptedLines.size();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), SIGINT), 0);

    QByteArray output;
    qint64 outcomeAfterMs = -1;
    while (sinceSignal.elapsed() < 10'000 && outcomeAfterMs < 0) {
        run->waitForReadyRead(50);
        output += run->readAllStandardOutput();
        if (output.contains("\"event\":\"outcome\"")) {
            outcomeAfterMs = sinceSignal.elapsed();
        }
    }
    QVERIFY2(outcomeAfterMs >= 0 && outcomeAfterMs < 1000,
             qPrintable(QStringLiteral("outcome after %1 ms").arg(outcomeAfterMs)));
    QCOMPARE(finish(*run, 5s), 6);
    output += run->readAllStandardOutput();

    // Cancelled as CANCEL does, then the port closed with the Connect button.
    const Events events = parseEvents(output);
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const qsizetype cancel = events.indexOf("step", "action", QStringLiteral("Press CANCEL"));
    const qsizetype disconnect =
        events.indexOf("step", "action", QStringLiteral("Press Disconnect"), cancel);
    const qsizetype closed =
        events.indexOf("caption", "status", QStringLiteral("Connect: False"), disconnect);
    QVERIFY(cancel >= 0 && disconnect > cancel && closed > disconnect);
    QCOMPARE(events.list.back()[QStringLiteral("outcome")].toString(),
             QStringLiteral("interrupted"));

    // Whatever was on its way has arrived by now; it ends with a whole line, at most the one
    // going out when the signal came.
    QTest::qWait(500);
    const SimRecording recording = device.recording();
    const QByteArray stream = streamAfterReady(recording);
    const QByteArray expected =
        faults::expectedStream(faults::readFile(firmware("sample-crlf.srec")));
    QVERIFY(stream.endsWith('\n'));
    QVERIFY(expected.startsWith(stream));
    QVERIFY2(static_cast<std::size_t>(stream.count('\n')) <= linesAtSignal + 1,
             qPrintable(QStringLiteral("%1 lines, %2 at the signal")
                            .arg(stream.count('\n'))
                            .arg(linesAtSignal)));
}

void TestCliProgram::sigtermWhileWaitingForTheBootProgram() {
    SimDeviceConfig config = deviceConfig();
    config.silent = true;
    SimDevice device(config);
    const auto run =
        startCli({"program", "--device", devicePath(device), "--file", firmware("small-lf.srec")});
    QVERIFY(device.waitForReceived(20, 10s)); // the wake-up "i" are going out
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), SIGTERM), 0);
    QCOMPARE(finish(*run, 5s), 6);
    const QString out = QString::fromUtf8(run->readAllStandardOutput());
    // CANCEL is disabled while the countdown runs: the Connect button closes the port.
    QVERIFY2(out.contains(QStringLiteral("Press Disconnect")), qPrintable(out));
    QVERIFY(!out.contains(QStringLiteral("Press CANCEL")));
    QVERIFY(out.contains(QStringLiteral("Result: FAILED (exit status 6): Interrupted")));
    const std::size_t received = device.recording().received.size();
    QTest::qWait(300);
    QCOMPARE(device.recording().received.size(), received);
}

void TestCliProgram::readmeExampleProgramsFourDevicesAtOnce() {
    const QString script = sourceDir + QStringLiteral("/tools/cli/program-parallel.sh");
    QFile scriptFile(script);
    QVERIFY(scriptFile.open(QIODevice::ReadOnly));
    QFile readme(sourceDir + QStringLiteral("/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QVERIFY2(readme.readAll().contains(scriptFile.readAll()),
             "the README shows tools/cli/program-parallel.sh as it is");

    std::vector<std::unique_ptr<SimDevice>> devices;
    QStringList arguments{script, firmware("small-lf.srec")};
    for (int i = 0; i < 4; ++i) {
        SimDeviceConfig config = deviceConfig();
        config.seed = static_cast<std::uint32_t>(i + 1);
        if (i == 2) {
            config.dotsStopAfterLine = 2; // one device fails; the others go on
        }
        devices.push_back(std::make_unique<SimDevice>(config));
        arguments << devicePath(*devices.back());
    }
    QTemporaryDir logs;
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), QFileInfo(cliPath).absolutePath() +
                                                   QLatin1Char(':') +
                                                   environment.value(QStringLiteral("PATH")));
    shell.setProcessEnvironment(environment);
    shell.setWorkingDirectory(logs.path());
    shell.start(QStringLiteral("sh"), arguments);
    QCOMPARE(finish(shell, 90s), 1);
    const QStringList lines = QString::fromUtf8(shell.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QString expected = QStringLiteral("%1: exit status %2 (log: device-%3.log)")
                                     .arg(arguments[2 + i])
                                     .arg(i == 2 ? 3 : 0)
                                     .arg(i + 1);
        QCOMPARE(lines[i], expected);
        QCOMPARE(devices[static_cast<std::size_t>(i)]->recording().programmedFiles.size(),
                 std::size_t{i == 2 ? 0U : 1U});
        QVERIFY(QFile::exists(logs.filePath(QStringLiteral("device-%1.log").arg(i + 1))));
    }
    // Each run appended its line to the one report, in whatever order they ended.
    QFile report(logs.filePath(QStringLiteral("runs.jsonl")));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QStringList reported;
    for (const QByteArray& line : report.readAll().split('\n')) {
        if (!line.isEmpty()) {
            reported << QJsonDocument::fromJson(line).object()[QStringLiteral("device")].toString();
        }
    }
    reported.sort();
    QStringList devicesGiven = arguments.mid(2);
    devicesGiven.sort();
    QCOMPARE(reported, devicesGiven);
}

void TestCliProgram::noBootProgramEndsWithTwo() {
    QCOMPARE(finish(*silentRun_, 90s), 2);
    const Events events = parseEvents(silentRun_->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    QVERIFY(events.indexOf("button", "caption", QStringLiteral("Waiting restart: 0")) >= 0);
    const QJsonObject outcome = events.list.back();
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("no-boot-program"));
    QCOMPARE(outcome[QStringLiteral("text")].toString(),
             QStringLiteral("Restart to bootprogram failled!"));
    // The wake-up "i" went out all along, and nothing else.
    const std::string received = silentDevice_->recording().received;
    QVERIFY(received.size() > 1000);
    QVERIFY(received.find_first_not_of('i') == std::string::npos);
}

// The log box then ends with the device's text, not with the countdown's words: the outcome
// is the window's own, the boot program missing.
void TestCliProgram::anApplicationPrintingOnWithoutBootProgramEndsWithTwo() {
    QCOMPARE(finish(*chattyRun_, 90s), 2);
    const Events events = parseEvents(chattyRun_->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const QJsonObject outcome = events.list.back();
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("no-boot-program"));
    QCOMPARE(outcome[QStringLiteral("text")].toString(),
             QStringLiteral("Restart to bootprogram failled!"));
    // The device's text went on after the countdown had run out and START was back.
    const qsizetype runOut =
        events.indexOf("button", "caption", QStringLiteral("Waiting restart: 0"));
    QVERIFY(runOut >= 0);
    const qsizetype startBack =
        events.indexOf("button", "caption", QStringLiteral("START PROGRAMMING"), runOut);
    QVERIFY(startBack >= 0);
    QVERIFY(events.indexOf("received", nullptr, {}, startBack) > startBack);
    QVERIFY(events.indexOf("received", nullptr, {}, startBack) < events.list.size() - 1);
    const std::string received = chattyDevice_->recording().received;
    QVERIFY(received.size() > 1000);
    QVERIFY(received.find_first_not_of('i') == std::string::npos);
}

// The device powers its own adapter: switched off and on after the first "i", its port is
// gone for 1.5 s and back as a new pseudo-terminal behind the same path.
void TestCliProgram::aPortGoneDuringTheCountdownIsReopenedWhenBack() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimDeviceConfig config = deviceConfig();
    config.linkPath = dir.filePath(QStringLiteral("ttyPOWER")).toStdString();
    config.powerCycleRemovesPortFor = 1500ms;
    SimDevice device(config);
    const auto run = startCli({"program", "--device", QString::fromStdString(config.linkPath),
                               "--file", firmware("small-crlf.srec"), "--speed", "20", "--json"});
    QCOMPARE(finish(*run), 0);
    const Events events = parseEvents(run->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const qsizetype gone = events.indexOf("port-gone");
    const qsizetype back = events.indexOf("port-back");
    const qsizetype answered =
        events.indexOf("caption", "status", QStringLiteral("Bootprogram started"));
    const qsizetype programmed = events.indexOf("caption", "status", QStringLiteral("PROGRAMMED"));
    QVERIFY(gone >= 0 && gone < back && back < answered && answered < programmed);
    QVERIFY(!events.list[gone][QStringLiteral("description")].toString().isEmpty());
    const double away = events.list[back][QStringLiteral("t")].toDouble() -
                        events.list[gone][QStringLiteral("t")].toDouble();
    QVERIFY2(away >= 1.4, qPrintable(QString::number(away)));
    QCOMPARE(events.list.back()[QStringLiteral("outcome")].toString(),
             QStringLiteral("programmed"));
    QCOMPARE(device.recording().programmedFiles.size(), std::size_t{1});
}

// --wait-for-port: the device's port appears two seconds after the run began.
void TestCliProgram::waitForPortOpensThePortWhenItAppears() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimDeviceConfig config = deviceConfig();
    config.linkPath = dir.filePath(QStringLiteral("ttyLATE")).toStdString();
    const auto run =
        startCli({"program", "--device", QString::fromStdString(config.linkPath), "--file",
                  firmware("small-crlf.srec"), "--speed", "20", "--wait-for-port"});
    QVERIFY(run->waitForStarted());
    QTest::qWait(2000);
    QCOMPARE(run->state(), QProcess::Running);
    SimDevice device(config);
    QCOMPARE(finish(*run), 0);
    const QByteArray out = run->readAllStandardOutput();
    const qsizetype waited = out.indexOf("Wait for port 1 to appear");
    QVERIFY2(waited >= 0 && waited < out.indexOf("Connect to port 1"), out.constData());
    QCOMPARE(device.recording().programmedFiles.size(), std::size_t{1});
}

QTEST_MAIN(TestCliProgram)
#include "test_cli_program.moc"
