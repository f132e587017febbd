// `program --report FILE` as a production line uses it, against simulated devices over
// pseudo-terminals: the line of a programmed run (its counts, times and the file's digest),
// the line of a run that a device stops answering, of a run cancelled by SIGTERM and of runs
// refused before they start, a report file that cannot be opened, and eight programs
// appending to one file at once.

#include "tests/cli/cli_process.h"
#include "tests/support/device_rig.h"
#include "tools/simdevice/simdevice.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace norvak;
using namespace norvak::clitest;
using namespace std::chrono_literals;

class TestCliReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void programmedRunsAppendTheirLines();
    void aDeviceThatStopsAnsweringShowsTheDifference();
    void sigtermStillWritesTheLine();
    void runsRefusedBeforeTheyStartWriteTheirLines();
    void aReportThatCannotBeOpenedSendsNothing();
    void eightProgramsAppendToOneFileAtOnce();
};

namespace {

QString firmware(const char* name) {
    return faults::firmwarePath(name);
}

// The report's lines; each must be one JSON object.
QList<QJsonObject> reportLines(const QString& path, QString* error) {
    QList<QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no report at ") + path;
        return lines;
    }
    const QByteArray all = file.readAll();
    if (!all.isEmpty() && !all.endsWith('\n')) {
        *error = QStringLiteral("the last line has no end");
    }
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        QJsonParseError parse{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
        if (!document.isObject() && error->isEmpty()) {
            *error = QStringLiteral("not one JSON object: ") + QString::fromUtf8(line);
        }
        lines << document.object();
    }
    return lines;
}

QDateTime timeOf(const QJsonObject& record, const char* key) {
    return QDateTime::fromString(record[QLatin1StringView(key)].toString(), Qt::ISODateWithMs);
}

qint64 integer(const QJsonObject& record, const char* key) {
    return record[QLatin1StringView(key)].toInteger(-1);
}

} // namespace

void TestCliReport::initTestCase() {
    QVERIFY2(QFile::exists(cliPath), qPrintable(cliPath));
}

void TestCliReport::programmedRunsAppendTheirLines() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("runs.jsonl"));
    const QString file = firmware("small-crlf.srec");
    const QByteArray bytes = faults::readFile(file);
    const auto fileLines = faults::fileLines(bytes).size();

    SimDevice device(deviceConfig());
    const auto run = startCli({"program", "--device", devicePath(device), "--file", file, "--speed",
                               "20", "--json", "--report", report});
    QCOMPARE(finish(*run), 0);
    const Events events = parseEvents(run->readAllStandardOutput());
    QVERIFY2(events.error.isEmpty(), qPrintable(events.error));
    const QJsonObject outcome = events.list.back();
    QCOMPARE(integer(outcome, "linesSent"), fileLines);
    QCOMPARE(integer(outcome, "dotsReceived"), fileLines);

    // The second run, to the same file, is shown as text.
    SimDevice second(deviceConfig());
    const auto textRun = startCli({"program", "--device", devicePath(second), "--file", file,
                                   "--speed", "20", "--report", report});
    QCOMPARE(finish(*textRun), 0);
    const QString text = QString::fromUtf8(textRun->readAllStandardOutput());
    QVERIFY2(text.contains(QStringLiteral("Lines sent: %1, dots received: %1").arg(fileLines)),
             qPrintable(text));

    QString error;
    const QList<QJsonObject> records = reportLines(report, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), 2);
    const QString expectedSha =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    const SimDevice* devices[] = {&device, &second};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject& record = records[i];
        QCOMPARE(record["outcome"].toString(), QStringLiteral("programmed"));
        QCOMPARE(record["exitStatus"].toInt(), 0);
        QCOMPARE(record["description"].toString(), QStringLiteral("PROGRAMMED"));
        QCOMPARE(record["device"].toString(), devicePath(*devices[i]));
        QCOMPARE(record["devicePath"].toString(), devicePath(*devices[i]));
        QVERIFY(record["port"].isNull());
        QCOMPARE(record["speedMs"].toInt(), 20);
        const QJsonObject fw = record["firmware"].toObject();
        QCOMPARE(fw["path"].toString(), file);
        QCOMPARE(fw["sha256"].toString(), expectedSha);
        QCOMPARE(fw["size"].toInteger(), bytes.size());
        QCOMPARE(fw["lines"].toInteger(), fileLines);
        // What the device itself counted: every line took, every dot sent.
        const SimRecording recording = devices[i]->recording();
        QCOMPARE(integer(record, "linesSent"), fileLines);
        QCOMPARE(integer(record, "dotsReceived"), static_cast<qint64>(recording.dots.size()));
        QCOMPARE(integer(record, "dotsReceived"), fileLines);
        // The device was switched off and on 200 ms after the first wake-up.
        QVERIFY(integer(record, "startToBootMs") >= 150);
        QVERIFY(integer(record, "readyToEndMs") >= 0);
        const QDateTime started = timeOf(record, "startedAt");
        const QDateTime ended = timeOf(record, "endedAt");
        QVERIFY(started.isValid() && ended.isValid());
        QCOMPARE(started.timeSpec(), Qt::UTC);
        QVERIFY(started <= ended);
        QVERIFY(started.msecsTo(ended) >= integer(record, "startToBootMs"));
        QVERIFY(!record["host"].toString().isEmpty());
        QVERIFY(!record["version"].toString().isEmpty());
    }
    QVERIFY(timeOf(records[0], "endedAt") <= timeOf(records[1], "startedAt"));
}

void TestCliReport::aDeviceThatStopsAnsweringShowsTheDifference() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("runs.jsonl"));
    SimDeviceConfig config = deviceConfig();
    config.dotsStopAfterLine = 2;
    SimDevice device(config);
    // Longer than the watchdog's 3 s, so that the device's end of file does not come first.
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("sample-lf.srec"), "--speed", "20", "--report", report});
    QCOMPARE(finish(*run), 3);
    QString error;
    const QList<QJsonObject> records = reportLines(report, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), 1);
    const QJsonObject& record = records[0];
    QCOMPARE(record["outcome"].toString(), QStringLiteral("dot-timeout"));
    QCOMPARE(record["exitStatus"].toInt(), 3);
    QCOMPARE(integer(record, "dotsReceived"), 2);
    QVERIFY2(integer(record, "linesSent") > 2,
             qPrintable(QString::number(integer(record, "linesSent"))));
    // The watchdog's 3 seconds after the last dot belong to the run.
    QVERIFY(integer(record, "readyToEndMs") >= 3000);
    const QString text = QString::fromUtf8(run->readAllStandardOutput());
    QVERIFY2(
        text.contains(
            QStringLiteral("Lines sent: %1, dots received: 2").arg(integer(record, "linesSent"))),
        qPrintable(text));
}

void TestCliReport::sigtermStillWritesTheLine() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("runs.jsonl"));
    SimDeviceConfig config = deviceConfig();
    config.silent = true;
    SimDevice device(config);
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("small-lf.srec"), "--report", report});
    QVERIFY(device.waitForReceived(20, 10s)); // the wake-up "i" are going out
    QCOMPARE(::kill(static_cast<pid_t>(run->processId()), SIGTERM), 0);
    QCOMPARE(finish(*run, 5s), 6);
    QString error;
    const QList<QJsonObject> records = reportLines(report, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0]["outcome"].toString(), QStringLiteral("interrupted"));
    QCOMPARE(records[0]["exitStatus"].toInt(), 6);
    QCOMPARE(integer(records[0], "linesSent"), 0);
    QVERIFY(records[0]["startToBootMs"].isNull());
    QVERIFY(records[0]["readyToEndMs"].isNull());
}

void TestCliReport::runsRefusedBeforeTheyStartWriteTheirLines() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("runs.jsonl"));
    const QString bad = dir.filePath(QStringLiteral("bad.srec"));
    QFile badFile(bad);
    QVERIFY(badFile.open(QIODevice::WriteOnly));
    badFile.write("S0030000FC\nS1zz\nS9030000FC\n");
    badFile.close();
    SimDevice device(deviceConfig());
    const auto refused = startCli(
        {"program", "--device", devicePath(device), "--file", bad, "--check", "--report", report});
    QCOMPARE(finish(*refused), 1);
    const auto unreadable =
        startCli({"program", "--port", "3", "--file", dir.filePath(QStringLiteral("none.srec")),
                  "--report", report});
    QCOMPARE(finish(*unreadable), 5);

    QString error;
    const QList<QJsonObject> records = reportLines(report, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0]["outcome"].toString(), QStringLiteral("bad-records"));
    QCOMPARE(records[0]["exitStatus"].toInt(), 1);
    QCOMPARE(records[0]["firmware"].toObject()["size"].toInteger(), badFile.size());
    QCOMPARE(records[1]["outcome"].toString(), QStringLiteral("file-unreadable"));
    QCOMPARE(records[1]["exitStatus"].toInt(), 5);
    QCOMPARE(records[1]["port"].toInt(), 3);
    QVERIFY(records[1]["device"].isNull());
    QVERIFY(records[1]["firmware"].toObject()["sha256"].isNull());
    QVERIFY(device.recording().received.empty());
}

void TestCliReport::aReportThatCannotBeOpenedSendsNothing() {
    QTemporaryDir dir;
    SimDevice device(deviceConfig());
    // A folder in the report's place.
    const auto run = startCli({"program", "--device", devicePath(device), "--file",
                               firmware("small-lf.srec"), "--report", dir.path()});
    QCOMPARE(finish(*run), 64);
    const QString err = QString::fromUtf8(run->readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("--report: cannot append to")), qPrintable(err));
    QVERIFY(run->readAllStandardOutput().isEmpty());
    QTest::qWait(200);
    QVERIFY(device.recording().received.empty());
}

// Runs on ports that do not exist end at once, each with its line: eight of them at a time,
// round after round, into one file.
void TestCliReport::eightProgramsAppendToOneFileAtOnce() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("runs.jsonl"));
    constexpr int writers = 8;
    constexpr int rounds = 4;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int i = 0; i < writers; ++i) {
            runs.push_back(startCli({"program", "--port", QString::number(30000 + i), "--file",
                                     firmware("sample-lf.srec"), "--report", report}));
        }
        for (auto& run : runs) {
            QCOMPARE(finish(*run), 4);
        }
        QString error;
        const QList<QJsonObject> records = reportLines(report, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(records.size(), (round + 1) * writers);
        QSet<int> ports;
        for (qsizetype i = static_cast<qsizetype>(round) * writers; i < records.size(); ++i) {
            QCOMPARE(records[i]["outcome"].toString(), QStringLiteral("port-failed"));
            QCOMPARE(records[i]["exitStatus"].toInt(), 4);
            QVERIFY(records[i]["devicePath"].isNull());
            ports.insert(records[i]["port"].toInt());
        }
        QCOMPARE(ports.size(), writers);
    }
}

QTEST_MAIN(TestCliReport)
#include "test_cli_report.moc"
