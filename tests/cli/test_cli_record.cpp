// The run report's pieces without a device: the line's keys and their types, what the tally
// counts under each state of the run, the firmware's facts, and the report file's appending.

#include "tools/cli/cli_options.h"
#include "tools/cli/named_file.h"
#include "tools/cli/report_file.h"
#include "tools/cli/run_record.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

using namespace norvak;
using namespace norvak::cli;
using namespace std::chrono_literals;

class TestCliRecord : public QObject {
    Q_OBJECT

private slots:
    void recordIsOneLineWithEveryKey();
    void unknownValuesAreNull();
    void tallyCountsAsTheRunTableReads();
    void firmwareFactsAsTheStreamerReadsTheFile();
    void reportFileAppendsAndRefusesWithAReason();
    void reportOptionBelongsToProgram();
};

namespace {

QJsonObject parsedLine(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning("%s: %s", qPrintable(error.errorString()), line.constData());
    }
    return document.object();
}

const QStringList everyKey = {
    "startedAt",   "endedAt",   "host",         "port",          "device",       "usb",
    "devicePath",  "adapter",   "firmware",     "speedMs",       "outcome",      "exitStatus",
    "description", "linesSent", "dotsReceived", "startToBootMs", "readyToEndMs", "version"};

// A clock the test moves by hand.
struct HandClock {
    std::chrono::steady_clock::time_point now{};
    RunTally::Clock clock() {
        return [this] {
            return now;
        };
    }
};

} // namespace

void TestCliRecord::recordIsOneLineWithEveryKey() {
    RunRecord record;
    record.startedAt = QDateTime(QDate(2026, 12, 8), QTime(20, 5, 0, 7), Qt::UTC);
    record.endedAt = record.startedAt.addMSecs(61'234);
    record.host = QStringLiteral("bench-3");
    record.port = 4;
    record.devicePath = QStringLiteral("/dev/ttyUSB3");
    record.adapter = {.vendorId = 0x403,
                      .productId = 0x6001,
                      .serialNumber = "A10K3ZQ",
                      .systemLocation = "/dev/ttyUSB3"};
    record.firmware = {.path = "/srv/fw/app.srec", .size = 4096, .sha256 = "ab12", .lines = 120};
    record.speedMs = 20;
    record.outcome = QStringLiteral("dot-timeout");
    record.exitStatus = 3;
    // The device's words may carry line ends: the record stays one line.
    record.description = QStringLiteral("Programming FAILLED\r\nsecond line");
    record.linesSent = 120;
    record.dotsReceived = 118;
    record.startToBootMs = 1500;
    record.readyToEndMs = 3300;
    record.version = QStringLiteral("1.0.0");

    const QByteArray line = recordLine(record);
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1);
    const QJsonObject object = parsedLine(line);
    QCOMPARE(object.keys().size(), everyKey.size());
    for (const QString& key : everyKey) {
        QVERIFY2(object.contains(key), qPrintable(key));
    }
    QCOMPARE(object["startedAt"].toString(), QStringLiteral("2026-12-08T20:05:00.007Z"));
    QCOMPARE(object["endedAt"].toString(), QStringLiteral("2026-12-08T20:06:01.241Z"));
    QCOMPARE(object["host"].toString(), QStringLiteral("bench-3"));
    QCOMPARE(object["port"].toInt(), 4);
    QVERIFY(object["device"].isNull());
    QCOMPARE(object["devicePath"].toString(), QStringLiteral("/dev/ttyUSB3"));
    const QJsonObject adapter = object["adapter"].toObject();
    QCOMPARE(adapter["vendorId"].toString(), QStringLiteral("0403"));
    QCOMPARE(adapter["productId"].toString(), QStringLiteral("6001"));
    QCOMPARE(adapter["serialNumber"].toString(), QStringLiteral("A10K3ZQ"));
    QCOMPARE(adapter["systemLocation"].toString(), QStringLiteral("/dev/ttyUSB3"));
    const QJsonObject firmware = object["firmware"].toObject();
    QCOMPARE(firmware["path"].toString(), QStringLiteral("/srv/fw/app.srec"));
    QCOMPARE(firmware["size"].toInteger(), 4096);
    QCOMPARE(firmware["sha256"].toString(), QStringLiteral("ab12"));
    QCOMPARE(firmware["lines"].toInteger(), 120);
    QCOMPARE(object["speedMs"].toInt(), 20);
    QCOMPARE(object["outcome"].toString(), QStringLiteral("dot-timeout"));
    QCOMPARE(object["exitStatus"].toInt(), 3);
    QCOMPARE(object["description"].toString(), record.description);
    // A difference is recorded as it was, not mended.
    QCOMPARE(object["linesSent"].toInteger(), 120);
    QCOMPARE(object["dotsReceived"].toInteger(), 118);
    QCOMPARE(object["startToBootMs"].toInteger(), 1500);
    QCOMPARE(object["readyToEndMs"].toInteger(), 3300);
    QCOMPARE(object["version"].toString(), QStringLiteral("1.0.0"));
}

void TestCliRecord::unknownValuesAreNull() {
    RunRecord record;
    record.startedAt = QDateTime::currentDateTimeUtc();
    record.endedAt = record.startedAt;
    record.device = QStringLiteral("/dev/pts/7");
    record.firmware.path = QStringLiteral("gone.srec");
    const QJsonObject object = parsedLine(recordLine(record));
    QVERIFY(object["port"].isNull());
    QCOMPARE(object["device"].toString(), QStringLiteral("/dev/pts/7"));
    QVERIFY(object["devicePath"].isNull());
    for (const char* key : {"vendorId", "productId", "serialNumber", "systemLocation"}) {
        QVERIFY2(object["adapter"].toObject()[QLatin1StringView(key)].isNull(), key);
    }
    for (const char* key : {"size", "sha256", "lines"}) {
        QVERIFY2(object["firmware"].toObject()[QLatin1StringView(key)].isNull(), key);
    }
    QVERIFY(object["startToBootMs"].isNull());
    QVERIFY(object["readyToEndMs"].isNull());
    // Counts are never unknown: nothing sent is 0.
    QCOMPARE(object["linesSent"].type(), QJsonValue::Double);
    static const QRegularExpression iso(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    QVERIFY2(iso.match(object["startedAt"].toString()).hasMatch(),
             qPrintable(object["startedAt"].toString()));
}

void TestCliRecord::tallyCountsAsTheRunTableReads() {
    HandClock hand;
    RunTally tally(hand.clock());
    tally.received(">", FlashState::Idle); // before START: not the boot program's answer
    tally.startPressed();
    tally.sent("i");
    hand.now += 1500ms;
    tally.received(".", FlashState::WaitingForBoot); // no dot before the file
    tally.received(">", FlashState::WaitingForBoot);
    hand.now += 100ms;
    tally.received(">", FlashState::WaitingForBoot); // the first answer counts
    tally.sent("f");
    tally.received(".", FlashState::WaitingForReady);
    hand.now += 200ms;
    tally.received("_", FlashState::WaitingForReady);
    for (int line = 0; line < 3; ++line) {
        tally.sent("S1130000");
        tally.sent("\n");
        tally.received(".", FlashState::Sending);
    }
    tally.sent("\n"); // an empty line goes out as a lone LF
    tally.received("x", FlashState::Sending);
    tally.received("P", FlashState::Sending);
    tally.received(".", FlashState::Idle); // after "P": the run is over
    hand.now += 900ms;
    tally.ended();
    hand.now += 5s;
    tally.ended(); // the outcome was known before
    QCOMPARE(tally.linesSent(), 4);
    QCOMPARE(tally.dotsReceived(), 3);
    QCOMPARE(tally.startToBootMs(), std::optional<qint64>(1500));
    QCOMPARE(tally.readyToEndMs(), std::optional<qint64>(900));

    // A run that never met its boot program has neither time.
    RunTally silent(hand.clock());
    silent.startPressed();
    hand.now += 60s;
    silent.ended();
    QCOMPARE(silent.startToBootMs(), std::nullopt);
    QCOMPARE(silent.readyToEndMs(), std::nullopt);
}

void TestCliRecord::firmwareFactsAsTheStreamerReadsTheFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fw.srec"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Three lines, one of them empty, the last without its end: "abc" would be a fourth line
    // if a single byte made one, which the streamer does not send.
    file.write("abc\r\n\nS9\n");
    file.close();
    const NamedFile named(QFile::encodeName(path));
    const FirmwareFacts facts = firmwareFacts(path, named);
    QCOMPARE(facts.path, path);
    QCOMPARE(facts.size, std::optional<qint64>(9));
    QCOMPARE(facts.lines, std::optional<qint64>(3));
    // SHA-256 of "abc\r\n\nS9\n", from an independent tool (sha256sum).
    QCOMPARE(facts.sha256,
             QStringLiteral("09badb91cf126e7bf629be4ce980702259a4273c3908ad5728a9a98cafb98d39"));

    const NamedFile missing(QFile::encodeName(dir.filePath(QStringLiteral("none.srec"))));
    const FirmwareFacts none = firmwareFacts(QStringLiteral("none.srec"), missing);
    QCOMPARE(none.size, std::nullopt);
    QCOMPARE(none.lines, std::nullopt);
    QVERIFY(none.sha256.isEmpty());
}

void TestCliRecord::reportFileAppendsAndRefusesWithAReason() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("runs.jsonl"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("{\"earlier\":true}\n");
    }
    {
        ReportFile report(path);
        QVERIFY2(report.isOpen(), qPrintable(report.whyNot()));
        QCOMPARE(report.append("{\"run\":1}\n"), std::nullopt);
        QCOMPARE(report.append("{\"run\":2}\n"), std::nullopt);
    }
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("{\"earlier\":true}\n{\"run\":1}\n{\"run\":2}\n"));

    // A folder that is not there, and a folder in the file's place.
    for (const QString& unopenable :
         {dir.filePath(QStringLiteral("no/such/runs.jsonl")), dir.path()}) {
        ReportFile report(unopenable);
        QVERIFY(!report.isOpen());
        QVERIFY(!report.whyNot().isEmpty());
        QVERIFY(report.append("{}\n").has_value());
    }
}

void TestCliRecord::reportOptionBelongsToProgram() {
    const auto parse = [](const QStringList& words) {
        return parseCli(QStringList{QStringLiteral("norvak-flash-cli")} + words);
    };
    const ParsedCli given =
        parse({"program", "--port", "1", "--file", "a.srec", "--report=runs.jsonl"});
    QVERIFY(given.options);
    QCOMPARE(given.options->report, QStringLiteral("runs.jsonl"));
    QVERIFY(parse({"program", "--port", "1", "--file", "a.srec"}).options->report.isEmpty());

    const ParsedCli empty = parse({"program", "--port", "1", "--file", "a.srec", "--report", ""});
    QVERIFY(!empty.options);
    QVERIFY2(empty.error.contains(QStringLiteral("--report runs.jsonl")), qPrintable(empty.error));
    const ParsedCli last = parse({"program", "--port", "1", "--file", "a.srec", "--report"});
    QVERIFY(last.error.contains(QStringLiteral("--report needs a value")));
    QVERIFY(!parse({"check", "--report", "runs.jsonl", "a.srec"}).options);
    QVERIFY(usage(Command::Program).contains(QStringLiteral("--report FILE")));
}

QTEST_GUILESS_MAIN(TestCliRecord)
#include "test_cli_record.moc"
