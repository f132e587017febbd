// The S-record checker: the sample firmware and its line ends, each rule at its edge with its
// line, column and severity, files as linkers write them (warnings, no error), and the summary
// (lines the streamer sends, address ranges and gaps, the header, the time at each speed).

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/srec_check.h"
#include "tools/simdevice/srecord.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

using namespace norvak;
using namespace norvak::cli;

class TestSrecCheck : public QObject {
    Q_OBJECT

private slots:
    void sampleFirmwareIsClean_data();
    void sampleFirmwareIsClean();
    void eachRuleAtItsEdge_data();
    void eachRuleAtItsEdge();
    void filesAsLinkersWriteThemPassWithWarnings_data();
    void filesAsLinkersWriteThemPassWithWarnings();
    void bytesGivenAgainAreJudgedBeyondTheListedProblems();
    void aRecordAfterTheTerminationIsReportedOnceAsThat();
    void aFileThatChangesBetweenThePassesIsRefused();
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

void TestSrecCheck::eachRuleAtItsEdge_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kind"); // -1: clean
    QTest::addColumn<qint64>("line");
    QTest::addColumn<qint64>("column");
    QTest::addColumn<bool>("warning");
    const QList<QByteArray> good = goodLines();
    const auto with = [&good](qsizetype index, const QByteArray& line) {
        QList<QByteArray> lines = good;
        lines[index] = line;
        return joined(lines);
    };
    const auto error = [](SrecProblemKind k, qint64 line, qint64 column) {
        return std::make_tuple(static_cast<int>(k), line, column, false);
    };
    const auto warning = [](SrecProblemKind k, qint64 line, qint64 column) {
        return std::make_tuple(static_cast<int>(k), line, column, true);
    };
    const auto row = [](const char* name, const QByteArray& file,
                        std::tuple<int, qint64, qint64, bool> expected) {
        const auto [kind, line, column, isWarning] = expected;
        QTest::newRow(name) << file << kind << line << column << isWarning;
    };
    const auto clean = std::make_tuple(-1, 0LL, 0LL, false);

    // What the device would receive wrong or unreadable, or never finish on.
    QByteArray badSum = good[2];
    badSum[badSum.size() - 1] = badSum.back() == '0' ? '1' : '0';
    row("checksum", with(2, badSum), error(SrecProblemKind::BadChecksum, 3, badSum.size() - 1));
    QByteArray badCount = good[2];
    badCount[3] = badCount[3] == '3' ? '4' : '3'; // 0x13 becomes 0x14
    row("byte count", with(2, badCount), error(SrecProblemKind::CountMismatch, 3, 3));
    row("record type S4", with(1, "S4030000FC"), error(SrecProblemKind::BadType, 2, 2));
    row("no type digit", with(1, "SX030000FC"), error(SrecProblemKind::BadType, 2, 2));
    row("not a record", with(1, "X1030000FC"), error(SrecProblemKind::NotARecord, 2, 1));
    row("a lone space", with(1, " "), error(SrecProblemKind::NotARecord, 2, 1));
    QByteArray badDigit = good[3];
    badDigit[9] = 'g';
    row("hex digit", with(3, badDigit), error(SrecProblemKind::BadHexDigit, 4, 10));
    row("odd digits", with(3, good[3].chopped(1)),
        error(SrecProblemKind::OddDigitCount, 4, good[3].size() - 1));
    row("too short", with(3, "S1020000"), error(SrecProblemKind::TooShort, 4, 3));
    row("termination missing", joined(good.first(5)),
        error(SrecProblemKind::TerminationMissing, 6, 1));
    row("termination in the middle", joined({good[0], good[1], good[5], good[2], good[3], good[4]}),
        error(SrecProblemKind::RecordAfterTermination, 4, 1));
    row("termination twice", joined(good + QList<QByteArray>{record(9, 0)}),
        error(SrecProblemKind::TerminationRepeated, 7, 1));
    row("termination of the wrong size",
        joined({good[0], record(3, 0x1000, bytes(8)), record(9, 0)}),
        error(SrecProblemKind::TerminationWrongType, 3, 2));
    row("count record", joined({good[0], good[1], good[2], record(5, 3), good[5]}),
        error(SrecProblemKind::CountRecordMismatch, 4, 5));
    row("count record that counts", joined({good[0], good[1], good[2], record(5, 2), good[5]}),
        clean);

    // The same addresses again: other data is an error, even in one byte of two records
    // reached; the same data is a warning.
    row("same address, same data", with(3, good[2]),
        warning(SrecProblemKind::AddressRepeated, 4, 5));
    std::vector<std::uint8_t> oneByteOther = bytes(16, 1);
    oneByteOther[15] ^= 0x80U;
    row("same address, one byte other", with(3, record(1, 0x0110, oneByteOther)),
        error(SrecProblemKind::AddressConflict, 4, 5));
    // 0x0100 holds 0, 1, 2, ...; 0x0110 holds 1, 2, 3, ...
    std::vector<std::uint8_t> acrossTwo = bytes(8, 8);
    for (const std::uint8_t value : bytes(8, 1)) {
        acrossTwo.push_back(value);
    }
    row("across two records, same data", with(3, record(1, 0x0108, acrossTwo)),
        warning(SrecProblemKind::AddressRepeated, 4, 5));
    acrossTwo.back() ^= 0x01U;
    row("across two records, the last byte other", with(3, record(1, 0x0108, acrossTwo)),
        error(SrecProblemKind::AddressConflict, 4, 5));
    row("one byte into the record before, same data", with(3, record(1, 0x011F, {16, 0xAA})),
        warning(SrecProblemKind::AddressRepeated, 4, 5));

    // Order: below the end of the record before, without touching what was given.
    row("addresses running backwards",
        joined({good[0], record(1, 0x0200, bytes(16)), record(1, 0x0100, bytes(16)), good[5]}),
        warning(SrecProblemKind::AddressBackwards, 3, 5));
    row("ending where the record before starts",
        joined({good[0], record(1, 0x0200, bytes(16)), record(1, 0x01F0, bytes(16)), good[5]}),
        warning(SrecProblemKind::AddressBackwards, 3, 5));
    row("a gap forward", with(4, record(1, 0x0400, bytes(16))), clean);

    // The rest of what is unusual.
    row("empty line", with(3, ""), warning(SrecProblemKind::EmptyLine, 4, 1));
    row("no header", joined(good.mid(1)), warning(SrecProblemKind::HeaderMissing, 1, 1));
    row("header after a stray empty line", "\r\n" + joined(good),
        warning(SrecProblemKind::EmptyLine, 1, 1));
    // 2 + 2 * (count, address, data, checksum): 256 characters with 123 data bytes.
    row("a record of 256 characters", with(4, record(1, 0x0130, bytes(123))), clean);
    row("a record of 258 characters", with(4, record(1, 0x0130, bytes(124))),
        warning(SrecProblemKind::LongRecord, 5, 257));
}

void TestSrecCheck::eachRuleAtItsEdge() {
    QFETCH(QByteArray, file);
    QFETCH(int, kind);
    QFETCH(qint64, line);
    QFETCH(qint64, column);
    QFETCH(bool, warning);
    const SrecReport report = check(file);
    if (kind < 0) {
        QVERIFY2(report.clean(),
                 report.problems.empty() ? "" : qPrintable(report.problems.front().message));
        return;
    }
    QCOMPARE(report.problemCount, 1);
    const SrecProblem& problem = report.problems.front();
    QCOMPARE(static_cast<int>(problem.kind), kind);
    QCOMPARE(problem.line, line);
    QCOMPARE(problem.column, column);
    QCOMPARE(problem.severity() == SrecSeverity::Warning, warning);
    QCOMPARE(report.warningCount, warning ? 1 : 0);
    QCOMPARE(report.errorCount, warning ? 0 : 1);
    QCOMPARE(report.passes(false), warning);
    QVERIFY(!report.passes(true));
    QVERIFY(!problem.message.isEmpty());
}

void TestSrecCheck::filesAsLinkersWriteThemPassWithWarnings_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<int>>("warnings"); // the kinds, in file order
    const auto kinds = [](std::initializer_list<SrecProblemKind> list) {
        QList<int> result;
        for (const SrecProblemKind kind : list) {
            result << static_cast<int>(kind);
        }
        return result;
    };
    const QByteArray header = record(0, 0, {'f', 'w'});
    // A section of `count` records of 32 bytes (S3) from `first`.
    const auto section = [](std::uint32_t first, int count) {
        QList<QByteArray> lines;
        for (int i = 0; i < count; ++i) {
            lines << record(3, first + 32 * static_cast<std::uint32_t>(i),
                            bytes(32, static_cast<std::uint8_t>(i)));
        }
        return lines;
    };
    const QByteArray end3 = record(7, 0x08000000);

    QTest::newRow("sections in section order, not address order")
        << joined(QList<QByteArray>{header} + section(0x08001000, 4) + section(0x08000400, 2) +
                  section(0x20000000, 1) + QList<QByteArray>{record(5, 7), end3})
        << kinds({SrecProblemKind::AddressBackwards});
    QTest::newRow("vector table after the code, no header")
        << joined(section(0x08000200, 8) + section(0x08000000, 2) + QList<QByteArray>{end3}, "\n")
        << kinds({SrecProblemKind::HeaderMissing, SrecProblemKind::AddressBackwards});
    QTest::newRow("a configuration block written twice alike")
        << joined(QList<QByteArray>{header} + section(0x08000000, 3) + section(0x0801FC00, 1) +
                  section(0x0801FC00, 1) + QList<QByteArray>{end3})
        << kinds({SrecProblemKind::AddressRepeated});
    QTest::newRow("an empty line at the end")
        << joined(QList<QByteArray>{header} + section(0x08000000, 3) + QList<QByteArray>{end3}) +
               "\r\n"
        << kinds({SrecProblemKind::EmptyLine});
}

void TestSrecCheck::filesAsLinkersWriteThemPassWithWarnings() {
    QFETCH(QByteArray, file);
    QFETCH(QList<int>, warnings);
    const SrecReport report = check(file);
    QList<int> found;
    for (const SrecProblem& problem : report.problems) {
        QCOMPARE(problem.severity(), SrecSeverity::Warning);
        found << static_cast<int>(problem.kind);
    }
    QCOMPARE(found, warnings);
    QCOMPARE(report.errorCount, 0);
    QCOMPARE(report.warningCount, warnings.size());
    QVERIFY(report.passes(false));
    QVERIFY(!report.passes(true));
}

void TestSrecCheck::bytesGivenAgainAreJudgedBeyondTheListedProblems() {
    // The image given twice, the second time with every third record changed: the counts
    // hold for all of them, not only for those listed.
    const int records = 150;
    QList<QByteArray> lines{record(0, 0)};
    for (int i = 0; i < records; ++i) {
        lines << record(1, 16 * static_cast<std::uint32_t>(i), bytes(16));
    }
    for (int i = 0; i < records; ++i) {
        std::vector<std::uint8_t> data = bytes(16);
        data[5] = static_cast<std::uint8_t>(data[5] + (i % 3 == 0 ? 1 : 0));
        lines << record(1, 16 * static_cast<std::uint32_t>(i), data);
    }
    lines << record(9, 0);
    const SrecReport report = check(joined(lines));
    QCOMPARE(report.errorCount, records / 3);
    QCOMPARE(report.warningCount, records - records / 3);
    QCOMPARE(report.problems.size(), SrecReport::maxListedProblems);
    // Line 152 goes back to 0: what was given before outranks the order.
    QCOMPARE(report.problems[0].line, records + 2);
    QCOMPARE(report.problems[0].kind, SrecProblemKind::AddressConflict);
    QVERIFY2(report.problems[0].message.contains(QStringLiteral("0x0005 was 0x05, now 0x06")),
             qPrintable(report.problems[0].message));
    QCOMPARE(report.problems[1].kind, SrecProblemKind::AddressRepeated);
    QVERIFY(report.problems[1].message.contains(QStringLiteral("with the same data")));
}

void TestSrecCheck::aRecordAfterTheTerminationIsReportedOnceAsThat() {
    // Both records after the S9 give bytes again; the first is the misplaced termination's
    // problem, the second a repeat of its own.
    const QList<QByteArray> good = goodLines();
    const SrecReport report = check(joined(good + QList<QByteArray>{good[1], good[2]}));
    QCOMPARE(report.problemCount, 2);
    QCOMPARE(report.problems[0].kind, SrecProblemKind::RecordAfterTermination);
    QCOMPARE(report.problems[1].kind, SrecProblemKind::AddressRepeated);
    QCOMPARE(report.errorCount, 1);
    QCOMPARE(report.warningCount, 1);
}

namespace {

// A file that holds `first` until it is read from its start a second time, `second` then.
class ChangingFile final : public QIODevice {
public:
    ChangingFile(QByteArray first, QByteArray second)
        : first_(std::move(first))
        , second_(std::move(second)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    [[nodiscard]] qint64 size() const override { return current().size(); }
    bool seek(qint64 position) override {
        if (position == 0 && offset_ > 0) {
            reread_ = true;
        }
        offset_ = position;
        return QIODevice::seek(position);
    }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 count = std::min(max, current().size() - offset_);
        std::copy_n(current().constData() + offset_, count, out);
        offset_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    [[nodiscard]] const QByteArray& current() const { return reread_ ? second_ : first_; }

    QByteArray first_;
    QByteArray second_;
    qint64 offset_ = 0;
    bool reread_ = false;
};

} // namespace

void TestSrecCheck::aFileThatChangesBetweenThePassesIsRefused() {
    // Rewritten between the readings with records that no longer give bytes again: the
    // second pass would judge other records than the first reported.
    QList<QByteArray> lines = goodLines();
    lines.insert(5, lines[1]); // 0x0100 again, before the S9
    const QByteArray repeated = joined(lines);
    lines[5] = record(1, 0x0800, bytes(16));
    ChangingFile file(repeated, joined(lines));
    QCOMPARE(file.size(), repeated.size());
    try {
        static_cast<void>(checkSrecDevice(file, repeated.size()));
        QFAIL("a file that changed between the passes gave a report");
    } catch (const FirmwareFileError& e) {
        QVERIFY2(e.description().contains(QStringLiteral("changed")), qPrintable(e.description()));
    }
}

void TestSrecCheck::summaryMergesRangesAndCountsGaps() {
    // Touching records, a gap, and an S5 that counts right; no header.
    const SrecReport report = check(joined(
        {record(1, 0x0010, bytes(16)), record(1, 0x0020, bytes(16)), record(1, 0x0040, bytes(8)),
         record(1, 0x0048, bytes(8)), record(5, 4), record(9, 0)},
        "\n"));
    QCOMPARE(report.errorCount, 0);
    QCOMPARE(report.dataBytes, 48);
    QCOMPARE(report.ranges.size(), std::size_t{2});
    QCOMPARE(report.ranges[0].first, 0x10U);
    QCOMPARE(report.ranges[0].end, 0x30U);
    QCOMPARE(report.ranges[1].first, 0x40U);
    QCOMPARE(report.ranges[1].end, 0x50U);
    QVERIFY(!report.header);

    // A record that fills a gap exactly joins both neighbours; one that reaches into the next
    // range with other data conflicts with it.
    const SrecReport filled =
        check(joined({record(0, 0), record(1, 0x00, bytes(4)), record(1, 0x08, bytes(4)),
                      record(1, 0x04, bytes(4)), record(1, 0x0B, bytes(2)), record(9, 0)}));
    QCOMPARE(filled.ranges.size(), std::size_t{1});
    QCOMPARE(filled.ranges[0].end, 0x0DU);
    QCOMPARE(filled.problemCount, 2); // backwards at line 4, a conflict at line 5
    QCOMPARE(filled.problems[0].kind, SrecProblemKind::AddressBackwards);
    QCOMPARE(filled.problems[1].kind, SrecProblemKind::AddressConflict);
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
    // Every line gives 0x0100 again: the second pass, which tells the same data from other
    // data, asks as often.
    QVERIFY(asked >= 8 && asked <= 12);
}

QTEST_MAIN(TestSrecCheck)
#include "test_srec_check.moc"
