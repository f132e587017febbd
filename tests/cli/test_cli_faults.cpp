// norvak-flash-cli when the device, the terminal or the command line misbehave, against
// simulated devices over pseudo-terminals: a device that floods the line with text while
// --json reports it, a "P" of the device's own before the file's end, the terminal closing
// (SIGHUP), the device going away, and file names that are not plain text.

#include "tests/cli/cli_process.h"
#include "tests/support/device_rig.h"
#include "tools/simdevice/simdevice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace norvak;
using namespace norvak::clitest;
using namespace std::chrono_literals;

class TestCliFaults : public QObject {
    Q_OBJECT

private slots:
    void jsonUnderATextFloodStaysInProportionAndEnds_data();
    void jsonUnderATextFloodStaysInProportionAndEnds();
    void sigintUnderAFloodEndsTheRun();
    void aPBeforeTheFilesEndIsNotProgrammed();
    void sighupCancelsAndWritesNothingMore();
    void aDeviceThatGoesAwayIsSaidToHaveGoneAway_data();
    void aDeviceThatGoesAwayIsSaidToHaveGoneAway();
    void namesThatAreNotPlainText();
};

namespace {

QString firmware(const char* name) {
    return faults::firmwarePath(name);
}

// Standard output as it comes, up to `limit` bytes: a program that writes without end is
// not read into memory whole. Ends when the program has ended or `timeout` has passed.
struct Output {
    QByteArray bytes;
    qint64 total = 0; // bytes written, also past the limit
    bool ended = false;
};

// Goes on reading `output` until the program has ended, `enough` holds, or `timeout` has
// passed.
void readOn(QProcess& process, Output& output, std::chrono::milliseconds timeout, qint64 limit,
            const std::function<bool(const Output&)>& enough = {}) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout.count()) {
        process.waitForReadyRead(100);
        const QByteArray piece = process.readAllStandardOutput();
        output.total += piece.size();
        if (output.total > limit) {
            return; // far more than a run can say: it writes without end
        }
        output.bytes += piece;
        if (process.state() == QProcess::NotRunning) {
            output.bytes += process.readAllStandardOutput();
            output.total = output.bytes.size();
            output.ended = true;
            return;
        }
        if (enough && enough(output)) {
            return;
        }
    }
}

Output readUntilEnd(QProcess& process, std::chrono::milliseconds timeout, qint64 limit) {
    Output output;
    readOn(process, output, timeout, limit);
    return output;
}

SimDeviceConfig floodingConfig() {
    SimDeviceConfig config = deviceConfig();
    config.paced = false; // a USB device ignores the baud rate
    config.autoPowerCycleAfter = 300ms;
    return config;
}

// A file name as bytes, made in `dir`.
std::string createFile(const QTemporaryDir& dir, const std::string& name,
                       const QByteArray& content) {
    const std::string path = QFile::encodeName(dir.path()).toStdString() + '/' + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return {};
    }
    const bool written = ::write(fd, content.constData(),
                                 static_cast<std::size_t>(content.size())) == content.size();
    ::close(fd);
    return written ? path : std::string();
}

// Runs the program through the shell, so that arguments may be any bytes: `script` gets the
// program as $0.
std::unique_ptr<QProcess> startCliInShell(const QString& script, const QString& workingDir) {
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(workingDir);
    process->start(QStringLiteral("sh"), {QStringLiteral("-c"), script, cliPath});
    return process;
}

} // namespace

void TestCliFaults::jsonUnderATextFloodStaysInProportionAndEnds_data() {
    QTest::addColumn<double>("bytesPerSecond");
    QTest::newRow("300 KB/s") << 300'000.0;
    QTest::newRow("1 MB/s") << 1'000'000.0;
}

// The device prints text without end from the moment the run starts. The run goes as it
// goes without --json; the text is reported in pieces, and the output stays in proportion to
// what came.
void TestCliFaults::jsonUnderATextFloodStaysInProportionAndEnds() {
    QFETCH(double, bytesPerSecond);
    SimDevice device(floodingConfig());
    const QString path = firmware("small-crlf.srec");
    const auto run = startCli(
        {"program", "--device", devicePath(device), "--file", path, "--speed", "20", "--json"});
    // From the first wake-up on: text queued before the program opens the port would hold
    // the boot program's answers back by as long as the program took to start.
    QVERIFY(device.waitForReceived(1, 30s));
    device.textFlood(bytesPerSecond, static_cast<std::size_t>(bytesPerSecond * 600)); // no end
    const Output output = readUntilEnd(*run, 120s, 400'000'000);
    QVERIFY2(output.ended,
             qPrintable(QStringLiteral("still running, %1 bytes written").arg(output.total)));
    const int status = finish(*run, 5s);

    const Events events = parseEvents(output.bytes);
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const QJsonObject outcome = events.list.back();
    // The run ends as the window ends it. A build much slower than the device (sanitizers on
    // a loaded machine) falls behind a megabyte a second with or without --json: the dots then
    // wait behind the text and the watchdog ends the run.
    const QString result = outcome[QStringLiteral("outcome")].toString();
    const bool programmed = result == QStringLiteral("programmed");
    QVERIFY2(programmed || (bytesPerSecond > 500'000 && result == QStringLiteral("dot-timeout")),
             qPrintable(result));
    QCOMPARE(status, programmed ? 0 : 3);
    const auto received = static_cast<qint64>(outcome[QStringLiteral("bytesReceived")].toDouble());
    QVERIFY2(received > 100'000, qPrintable(QString::number(received)));
    // In proportion: the text once, and little beside it.
    QVERIFY2(
        output.total < received * 3 / 2 + 100'000,
        qPrintable(
            QStringLiteral("%1 bytes written for %2 received").arg(output.total).arg(received)));
    // In pieces, every byte once and in order.
    qint64 pieces = 0;
    qint64 total = 0;
    for (const QJsonObject& e : events.list) {
        if (e[QStringLiteral("event")] == QStringLiteral("received")) {
            ++pieces;
            total += e[QStringLiteral("bytes")].toInt();
            QCOMPARE(static_cast<qint64>(e[QStringLiteral("total")].toDouble()), total);
        }
    }
    QCOMPARE(total, received);
    QVERIFY2(pieces * 100 < received,
             qPrintable(QStringLiteral("%1 pieces for %2 bytes").arg(pieces).arg(received)));
    if (!programmed) {
        qInfo("the watchdog ended the run: this build falls behind the flood");
        return;
    }
    const SimRecording recording = device.recording();
    QCOMPARE(recording.programmedFiles.size(), std::size_t{1});
    QCOMPARE(streamAfterReady(recording), faults::expectedStream(faults::readFile(path)));
}

// Deep in a flood (megabytes reported), SIGINT still cancels the run and ends the program.
void TestCliFaults::sigintUnderAFloodEndsTheRun() {
    SimDevice device(floodingConfig());
    device.textFlood(1'000'000.0, 600'000'000); // no end
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("sample-crlf.srec"), "--speed", "100", "--json"});
    Output output;
    readOn(*run, output, 60s, 400'000'000,
           [](const Output& sofar) { return sofar.total > 2'000'000; });
    QVERIFY2(!output.ended && output.total > 2'000'000, output.bytes.left(2000).constData());
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), SIGINT), 0);
    // A second is what the program promises; five leave a loaded machine its margin.
    readOn(*run, output, 5s, 400'000'000);
    QVERIFY2(
        output.ended,
        qPrintable(QStringLiteral("still running %1 ms after SIGINT").arg(sinceSignal.elapsed())));
    qInfo("ended %lld ms after SIGINT", static_cast<long long>(sinceSignal.elapsed()));
    QCOMPARE(finish(*run, 5s), 6);
    const Events events = parseEvents(output.bytes);
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    QCOMPARE(events.list.back()[QStringLiteral("outcome")].toString(),
             QStringLiteral("interrupted"));
}

// A device that prints a "P" of its own while the file goes out: the window ends the run with
// "PROGRAMMED" as it is built to, but the device did not get the whole file.
void TestCliFaults::aPBeforeTheFilesEndIsNotProgrammed() {
    SimDevice device(deviceConfig());
    const QString path = firmware("sample-lf.srec");
    const auto run = startCli(
        {"program", "--device", devicePath(device), "--file", path, "--speed", "20", "--json"});
    QVERIFY(
        device.waitFor([](const SimRecording& r) { return r.acceptedLines.size() >= 10; }, 60s));
    device.sendRaw("\r\nPower good\r\n");
    QCOMPARE(finish(*run, 60s), 7);
    const Events events = parseEvents(run->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    QVERIFY(events.indexOf("caption", "status", QStringLiteral("PROGRAMMED")) >= 0);
    const QJsonObject outcome = events.list.back();
    QCOMPARE(outcome[QStringLiteral("outcome")].toString(), QStringLiteral("programmed-early"));
    QCOMPARE(outcome[QStringLiteral("exitStatus")].toInt(), 7);

    // The program says how far the file went, and that is what the device took.
    const QByteArray stream = streamAfterReady(device.recording());
    const QByteArray whole = faults::expectedStream(faults::readFile(path));
    QVERIFY(stream.size() < whole.size() && whole.startsWith(stream));
    const QString text = outcome[QStringLiteral("text")].toString();
    QVERIFY2(text.contains(QStringLiteral("after %1 lines").arg(stream.count('\n'))),
             qPrintable(text));
    QVERIFY(run->readAllStandardError().contains("before the last line went out"));
}

void TestCliFaults::sighupCancelsAndWritesNothingMore() {
    SimDevice device(deviceConfig());
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("sample-crlf.srec"), "--speed", "100"});
    QVERIFY(device.waitFor([](const SimRecording& r) { return r.acceptedLines.size() >= 3; }, 30s));
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), SIGHUP), 0);
    QCOMPARE(finish(*run, 10s), 6);
    const QString out = QString::fromUtf8(run->readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("Press CANCEL")) &&
                 out.contains(QStringLiteral("Press Disconnect")),
             qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("Result: FAILED (exit status 6): Interrupted")));
    // The port is closed: the line stays quiet, and the next program may have it at once.
    QTest::qWait(300);
    const std::size_t received = device.recording().received.size();
    QTest::qWait(500);
    QCOMPARE(device.recording().received.size(), received);
    QVERIFY(streamAfterReady(device.recording()).endsWith('\n'));

    // Started to outlive its terminal (nohup): the hang-up is none of its business.
    SimDevice kept(deviceConfig());
    QTemporaryDir dir;
    const auto nohup = startCliInShell(
        QStringLiteral("trap '' HUP; exec \"$0\" program --device %1 --file %2 --speed 20")
            .arg(devicePath(kept), firmware("small-lf.srec")),
        dir.path());
    QVERIFY(kept.waitFor([](const SimRecording& r) { return r.acceptedLines.size() >= 3; }, 30s));
    QCOMPARE(::kill(static_cast<pid_t>(nohup->processId()), SIGHUP), 0);
    QCOMPARE(finish(*nohup), 0);
    QCOMPARE(kept.recording().programmedFiles.size(), std::size_t{1});
}

void TestCliFaults::aDeviceThatGoesAwayIsSaidToHaveGoneAway_data() {
    QTest::addColumn<bool>("duringTheFile");
    QTest::newRow("the boot program answered") << false;
    QTest::newRow("during the file") << true;
}

// The line hangs up under the program once the boot program has answered (before, the port
// is watched for until the countdown ends); whatever the system then says of the port, the
// program says the device went away.
void TestCliFaults::aDeviceThatGoesAwayIsSaidToHaveGoneAway() {
    QFETCH(bool, duringTheFile);
    SimDeviceConfig config = deviceConfig();
    SimDevice device(config);
    const QString path = devicePath(device);
    const auto run = startCli(
        {"program", "--device", path, "--file", firmware("sample-lf.srec"), "--speed", "20"});
    if (duringTheFile) {
        QVERIFY(
            device.waitFor([](const SimRecording& r) { return r.acceptedLines.size() >= 5; }, 30s));
    } else {
        QVERIFY(device.waitForMode(SimMode::BootReceiving, 30s)); // "f" came
    }
    device.hangUp();
    QCOMPARE(finish(*run, 30s), 4);
    const QByteArray out = run->readAllStandardOutput();
    const QByteArray err = run->readAllStandardError();
    const QByteArray said =
        (QStringLiteral("Port 1 (%1): the device went away").arg(path)).toUtf8();
    QVERIFY2(err.contains(said) && out.contains(said), (out + err).constData());
    QVERIFY2(!err.contains("ioctl"), err.constData());
}

void TestCliFaults::namesThatAreNotPlainText() {
    QTemporaryDir dir;
    const QByteArray content = faults::readFile(firmware("small-lf.srec"));

    // Latin-1 bytes on a UTF-8 system: checked and programmed by the name as given.
    const std::string latin1 = createFile(dir, "fw-\xe9.srec", content);
    QVERIFY(!latin1.empty());
    const auto check = startCliInShell(
        QStringLiteral("exec \"$0\" check \"$(printf 'fw-\\351.srec')\""), dir.path());
    QCOMPARE(finish(*check), 0);
    const QByteArray report = check->readAllStandardOutput();
    QVERIFY2(report.contains("fw-\\xe9.srec: clean"), report.constData());

    SimDevice device(deviceConfig());
    const auto program = startCliInShell(
        QStringLiteral("exec \"$0\" program --device %1 --file \"$(printf 'fw-\\351.srec')\" "
                       "--speed 20 --check")
            .arg(devicePath(device)),
        dir.path());
    QCOMPARE(finish(*program), 0);
    const QByteArray out = program->readAllStandardOutput();
    QVERIFY2(out.contains("fw-\\xe9.srec") && out.contains("Result: PROGRAMMED"), out.constData());
    QCOMPARE(streamAfterReady(device.recording()), faults::expectedStream(content));
    const auto missing = startCliInShell(
        QStringLiteral("exec \"$0\" check \"$(printf 'gone-\\351.srec')\""), dir.path());
    QCOMPARE(finish(*missing), 5);
    QVERIFY(missing->readAllStandardError().contains("gone-\\xe9.srec: no such file"));

    // A name that would retitle the terminal is shown, not obeyed.
    const std::string retitling = "fw-\x1b]0;owned\x07.srec";
    QVERIFY(!createFile(dir, retitling, content).empty());
    const auto shown = startCli({"check", dir.filePath(QString::fromStdString(retitling))});
    QCOMPARE(finish(*shown), 0);
    const QByteArray shownReport = shown->readAllStandardOutput();
    QVERIFY2(!shownReport.contains('\x1b') && !shownReport.contains('\x07') &&
                 shownReport.contains("fw-\\x1b]0;owned\\x07.srec: clean"),
             shownReport.constData());

    // "--" ends the options: a name may begin with "-".
    QVERIFY(!createFile(dir, "-x.srec", content).empty());
    const auto dashedInDir =
        startCliInShell(QStringLiteral("exec \"$0\" check -- -x.srec"), dir.path());
    QCOMPARE(finish(*dashedInDir), 0);
    QVERIFY(dashedInDir->readAllStandardOutput().contains("-x.srec: clean"));

    // QTemporaryDir cannot name it to remove it.
    QCOMPARE(::unlink(latin1.c_str()), 0);

    const auto version = startCli({"--version", "--bogus"});
    QCOMPARE(finish(*version), 64);
    QVERIFY(version->readAllStandardOutput().isEmpty());
}

QTEST_MAIN(TestCliFaults)
#include "test_cli_faults.moc"
