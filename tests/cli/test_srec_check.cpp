// The S-record checker: the sample firmware and its line ends, each kind of wrong record with
// its line and column, and the summary (lines the streamer sends, address ranges and gaps,
// the header, the time at each speed).

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/srec_check.h"
#include "tools/simdevice/srecord.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>
#include <string>
#include <vector>

using namespace norvak;
using namespace norvak::cli;

class TestSrecCheck : public QObject {
    Q_OBJECT

private slots:
    void sampleFirmwareIsClean_data();
    void sampleFirmwareIsClean();
    void wrongRecordNamesLineAndColumn_data();
    void wrongRecordNamesLineAndColumn();
    void summaryMergesRangesAndCountsGaps();
    void lineEndsAndWhatIsLeftUnsent();
    void timeOnTheLineFollowsThePauses();
    void longLineKeepsItsColumns();
    void problemsAreCountedButFewListed();
    void unreadableFileIsReported();
    void aFileCutWhileCheckedIsRefused();
    void theCheckStopsWhenTold();
};

namespace {

const QString firmwareDir = QStringLiteral(NORVAK_FIRMWARE_DIR);

SrecReport check(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return checkSrecDevice(buffer, copy.size());
}

QByteArray record(int type, std::uint32_t address, std::vector<std::uint8_t> data = {}) {
    return QByteArray::fromStdString(makeSrecLine(type, address, data));
}

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> data(count);
    std::iota(data.begin(), data.end(), first);
    return data;
}

// A good image: header, four S1 records of 16 bytes from 0x0100, S9.
QList<QByteArray> goodLines() {
    QList<QByteArray> lines{record(0, 0, {'h', 'd', 'r'})};
    for (std::uint32_t i = 0; i < 4; ++i) {
        lines << record(1, 0x0100 + 16 * i, bytes(16, static_cast<std::uint8_t>(i)));
    }
    lines << record(9, 0);
    return lines;
}

QByteArray joined(const QList<QByteArray>& lines, const QByteArray& end = "\r\n") {
    QByteArray file;
    for (const QByteArray& line : lines) {
        file += line + end;
    }
    return file;
}

} // namespace

void TestSrecCheck::sampleFirmwareIsClean_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("lineEnds");
    QTest::newRow("CR LF") << "sample-crlf.srec"
                           << "CR LF";
    QTest::newRow("LF") << "sample-lf.srec"
                        << "LF";
}

void TestSrecCheck::sampleFirmwareIsClean() {
    QFETCH(QString, name);
    QFETCH(QString, lineEnds);
    const FirmwareOpening opening = openFirmwareFile(firmwareDir + QLatin1Char('/') + name);
    QVERIFY(opening.isOpen());
    const SrecReport report = checkSrecFile(opening.file(), name);
    QVERIFY2(report.clean(),
             report.problems.empty() ? "" : qPrintable(report.problems.front().message));
    // 4096 bytes in records of 16: a header, 256 data records and the end record.
    QCOMPARE(report.linesSent, 258);
    QCOMPARE(report.lineEndName(), lineEnds);
    QCOMPARE(report.dataRecords, 256);
    QCOMPARE(report.dataBytes, 4096);
    QCOMPARE(report.recordsByType[9], 1);
    QCOMPARE(report.ranges.size(), std::size_t{1});
    QCOMPARE(report.ranges[0].first, 0U);
    QCOMPARE(report.ranges[0].end, 4096U);
    QVERIFY(report.header && report.header->contains("sample"));
}

void TestSrecCheck::wrongRecordNamesLineAndColumn_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<qint64>("column");
    const QList<QByteArray> good = goodLines();
    const auto with = [&good](qsizetype index, const QByteArray& line) {
        QList<QByteArray> lines = good;
        lines[index] = line;
        return joined(lines);
    };
    const auto kind = [](SrecProblemKind k) {
        return static_cast<int>(k);
    };

    QByteArray badSum = good[2];
    badSum[badSum.size() - 1] = badSum.back() == '0' ? '1' : '0';
    QTest::newRow("checksum") << with(2, badSum) << kind(SrecProblemKind::BadChecksum) << 3LL
                              << qint64(badSum.size() - 1);
    QByteArray badCount = good[2];
    badCount[3] = badCount[3] == '3' ? '4' : '3'; // 0x13 becomes 0x14
    QTest::newRow("byte count") << with(2, badCount) << kind(SrecProblemKind::CountMismatch) << 3LL
                                << 3LL;
    QTest::newRow("record type S4")
        << with(1, "S4030000FC") << kind(SrecProblemKind::BadType) << 2LL << 2LL;
    QTest::newRow("no type digit")
        << with(1, "SX030000FC") << kind(SrecProblemKind::BadType) << 2LL << 2LL;
    QTest::newRow("not a record") << with(1, "X1030000FC") << kind(SrecProblemKind::NotARecord)
                                  << 2LL << 1LL;
    QByteArray badDigit = good[3];
    badDigit[9] = 'g';
    QTest::newRow("hex digit") << with(3, badDigit) << kind(SrecProblemKind::BadHexDigit) << 4LL
                               << 10LL;
    QTest::newRow("odd digits") << with(3, good[3].chopped(1))
                                << kind(SrecProblemKind::OddDigitCount) << 4LL
                                << qint64(good[3].size() - 1);
    QTest::newRow("too short") << with(3, "S1020000") << kind(SrecProblemKind::TooShort) << 4LL
                               << 3LL;
    QTest::newRow("empty line") << with(3, "") << kind(SrecProblemKind::NotARecord) << 4LL << 1LL;
    QTest::newRow("termination missing")
        << joined(good.first(5)) << kind(SrecProblemKind::TerminationMissing) << 6LL << 1LL;
    QTest::newRow("termination in the middle")
        << joined({good[0], good[1], good[5], good[2], good[3], good[4]})
        << kind(SrecProblemKind::RecordAfterTermination) << 4LL << 1LL;
    QTest::newRow("termination twice") << joined(good + QList<QByteArray>{record(9, 0)})
                                       << kind(SrecProblemKind::TerminationRepeated) << 7LL << 1LL;
    QTest::newRow("termination of the wrong size")
        << joined({good[0], record(3, 0x1000, bytes(8)), record(9, 0)})
        << kind(SrecProblemKind::TerminationWrongType) << 3LL << 2LL;
    QTest::newRow("overlapping addresses") << with(3, record(1, 0x0108, bytes(16)))
                                           << kind(SrecProblemKind::AddressOverlap) << 4LL << 5LL;
    QTest::newRow("addresses running backwards")
        << joined(
               {good[0], record(1, 0x0200, bytes(16)), record(1, 0x0100, bytes(16)), record(9, 0)})
        << kind(SrecProblemKind::AddressBackwards) << 3LL << 5LL;
    QTest::newRow("count record") << joined({good[0], good[1], good[2], record(5, 3), good[5]})
                                  << kind(SrecProblemKind::CountRecordMismatch) << 4LL << 5LL;
}

void TestSrecCheck::wrongRecordNamesLineAndColumn() {
    QFETCH(QByteArray, file);
    QFETCH(int, kind);
    QFETCH(qint64, line);
    QFETCH(qint64, column);
    const SrecReport report = check(file);
    QCOMPARE(report.problemCount, 1);
    const SrecProblem& problem = report.problems.front();
    QCOMPARE(static_cast<int>(problem.kind), kind);
    QCOMPARE(problem.line, line);
    QCOMPARE(problem.column, column);
    QVERIFY(!problem.message.isEmpty());
}

void TestSrecCheck::summaryMergesRangesAndCountsGaps() {
    // Out of order but touching, a gap, and an S5 that counts right.
    const SrecReport report = check(joined(
        {record(1, 0x0010, bytes(16)), record(1, 0x0020, bytes(16)), record(1, 0x0040, bytes(8)),
         record(1, 0x0048, bytes(8)), record(5, 4), record(9, 0)},
        "\n"));
    QVERIFY(report.clean());
    QCOMPARE(report.dataBytes, 48);
    QCOMPARE(report.ranges.size(), std::size_t{2});
    QCOMPARE(report.ranges[0].first, 0x10U);
    QCOMPARE(report.ranges[0].end, 0x30U);
    QCOMPARE(report.ranges[1].first, 0x40U);
    QCOMPARE(report.ranges[1].end, 0x50U);
    QVERIFY(!report.header);

    // A record that fills a gap exactly joins both neighbours; one that reaches into the next
    // range overlaps it.
    const SrecReport filled =
        check(joined({record(1, 0x00, bytes(4)), record(1, 0x08, bytes(4)),
                      record(1, 0x04, bytes(4)), record(1, 0x0B, bytes(2)), record(9, 0)}));
    QCOMPARE(filled.ranges.size(), std::size_t{1});
    QCOMPARE(filled.ranges[0].end, 0x0DU);
    QCOMPARE(filled.problemCount, 2); // backwards at line 3, overlap at line 4
    QCOMPARE(filled.problems[0].kind, SrecProblemKind::AddressBackwards);
    QCOMPARE(filled.problems[1].kind, SrecProblemKind::AddressOverlap);
}

void TestSrecCheck::lineEndsAndWhatIsLeftUnsent() {
    const QList<QByteArray> good = goodLines();
    QByteArray mixed = joined(good.first(3), "\r\n") + joined(good.mid(3), "\n");
    const SrecReport mixedReport = check(mixed);
    QCOMPARE(mixedReport.lineEndName(), QStringLiteral("mixed"));
    QCOMPARE(mixedReport.lineEnds.crLf, 3);
    QCOMPARE(mixedReport.lineEnds.lf, 3);

    const SrecReport crOnly = check(joined(good, "\r"));
    QCOMPARE(crOnly.lineEndName(), QStringLiteral("CR"));
    QCOMPARE(crOnly.linesSent, good.size());

    // A last line without an end is sent; a single byte after the last end is not.
    const SrecReport noEnd = check(joined(good).chopped(2));
    QVERIFY(noEnd.clean());
    QCOMPARE(noEnd.lineEnds.none, 1);
    const SrecReport straggler = check(joined(good) + "x");
    QCOMPARE(straggler.linesSent, good.size());
    QCOMPARE(straggler.problemCount, 1);
    QCOMPARE(straggler.problems[0].kind, SrecProblemKind::UnsentLastByte);
    QCOMPARE(straggler.problems[0].line, good.size() + 1);
    // A stray line end is harmless.
    QVERIFY(check(joined(good) + "\n").clean());

    const SrecReport empty = check({});
    QCOMPARE(empty.linesSent, 0);
    QCOMPARE(empty.lineEndName(), QStringLiteral("none"));
    QCOMPARE(empty.problems.at(0).kind, SrecProblemKind::TerminationMissing);
}

void TestSrecCheck::timeOnTheLineFollowsThePauses() {
    // 100 lines of 14 characters: 15 bytes on the line, 2.6 ms each, shorter than any pause.
    QList<QByteArray> lines;
    for (std::uint32_t i = 0; i < 99; ++i) {
        lines << record(1, 2 * i, bytes(2));
    }
    lines << record(9, 0);
    const SrecReport report = check(joined(lines));
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        QCOMPARE(report.streamSeconds[static_cast<std::size_t>(item)], 100 * 0.02 * (item + 1));
    }
    // One line of 5759 characters takes a second on the line, longer than any pause.
    QByteArray longLine = "S1";
    longLine += QByteArray(5757, '0');
    const SrecReport slow = check(longLine + "\r\n");
    QCOMPARE(slow.streamSeconds[4], 1.0);
}

void TestSrecCheck::longLineKeepsItsColumns() {
    // Longer than the reader's megabyte and its 64 KiB pieces: the bad digit's column counts
    // across them.
    QByteArray line = "S1" + QByteArray(3 * 1024 * 1024, 'A');
    const qsizetype badAt = 2 * 1024 * 1024 + 5;
    line[badAt] = 'z';
    const SrecReport report = check("S0030000FC\r\n" + line + "\r\nS9030000FC\r\n");
    QCOMPARE(report.linesSent, 3);
    QCOMPARE(report.problemCount, 1);
    QCOMPARE(report.problems[0].kind, SrecProblemKind::BadHexDigit);
    QCOMPARE(report.problems[0].line, 2);
    QCOMPARE(report.problems[0].column, badAt + 1);
}

void TestSrecCheck::problemsAreCountedButFewListed() {
    QByteArray file;
    for (int i = 0; i < 250; ++i) {
        file += "S1zz\r\n";
    }
    const SrecReport report = check(file);
    QCOMPARE(report.problemCount, 251); // and no termination record
    QCOMPARE(report.problems.size(), SrecReport::maxListedProblems);
    QCOMPARE(report.problems.back().line, qint64(SrecReport::maxListedProblems));
}

// The checker reads what opened as the streamer opens it: a file that does not open is refused
// with the reason before any check, and a read that fails during the check names the file.
void TestSrecCheck::unreadableFileIsReported() {
    const QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.srec"));
    QCOMPARE(openFirmwareFile(missing).whyNot(), QStringLiteral("no such file"));
    QCOMPARE(openFirmwareFile(dir.path()).whyNot(), QStringLiteral("is a folder, not a file"));
    QVERIFY(!QFile::exists(missing)); // nothing is created
    QVERIFY(openFirmwareFile(firmwareDir + QStringLiteral("/small-lf.srec")).isOpen());

    QFile writeOnly(dir.filePath(QStringLiteral("fw.srec")));
    QVERIFY(writeOnly.open(QIODevice::WriteOnly));
    QVERIFY(writeOnly.write("S0030000FC\r\nS9030000FC\r\n") > 0);
    QVERIFY(writeOnly.flush());
    try {
        static_cast<void>(checkSrecFile(writeOnly, QStringLiteral("shown.srec")));
        QFAIL("a file that could not be read gave a report");
    } catch (const FileReadError& e) {
        const QString why = QString::fromStdString(e.what());
        QVERIFY2(why.startsWith(QStringLiteral("shown.srec: reading failed: ")), qPrintable(why));
    }
}

void TestSrecCheck::aFileCutWhileCheckedIsRefused() {
    // The length taken at the opening promises more than reads give: the file was cut under
    // the reader. Whole records, and a line without an end, alike.
    for (const QByteArray& contents : {goodLines().join("\r\n") + "\r\n", QByteArray(5000, '\0')}) {
        QByteArray copy = contents;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        const qint64 promised = copy.size() + 400 * 1024 * 1024;
        try {
            static_cast<void>(checkSrecDevice(buffer, promised));
            QFAIL("a check of a file that got shorter gave a report");
        } catch (const FirmwareFileError& e) {
            QVERIFY2(e.description().contains(QStringLiteral("shorter while it was read")),
                     qPrintable(e.description()));
            QVERIFY(e.description().contains(QString::number(contents.size())));
        }
    }
}

void TestSrecCheck::theCheckStopsWhenTold() {
    QByteArray file;
    const QByteArray line = record(1, 0x100, bytes(16)) + "\r\n";
    while (file.size() < 20 * 1024 * 1024) {
        file += line;
    }
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    int asked = 0;
    const auto stopOnThirdQuestion = [&asked] {
        return ++asked == 3;
    };
    QVERIFY_THROWS_EXCEPTION(CheckInterrupted, static_cast<void>(checkSrecDevice(
                                                   buffer, file.size(), stopOnThirdQuestion)));
    QCOMPARE(asked, 3);
    // Asked every few megabytes, not for every line.
    QVERIFY(buffer.pos() < file.size());

    buffer.seek(0);
    asked = 0;
    const auto never = [&asked] {
        ++asked;
        return false;
    };
    QCOMPARE(checkSrecDevice(buffer, file.size(), never).linesSent, file.size() / line.size());
    QVERIFY(asked >= 4 && asked <= 6);
}

QTEST_MAIN(TestSrecCheck)
#include "test_srec_check.moc"
