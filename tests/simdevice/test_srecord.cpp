#include "tools/simdevice/srecord.h"

#include <QTest>

#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

using namespace norvak;

Q_DECLARE_METATYPE(norvak::SrecError)

namespace {

std::vector<std::string> splitLines(const std::string& image, const std::string& lineEnd) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = image.find(lineEnd, start)) != std::string::npos;) {
        lines.push_back(image.substr(start, end - start));
        start = end + lineEnd.size();
    }
    if (start != image.size()) {
        lines.push_back(image.substr(start)); // an unterminated tail fails the caller's checks
    }
    return lines;
}

std::vector<std::uint8_t> sequence(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

} // namespace

class TestSrecord : public QObject {
    Q_OBJECT

private slots:
    void checksLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<SrecError>("error");
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("dataSize");

        const auto good = [](const char* name, const char* line, int type, quint32 address,
                             int dataSize) {
            QTest::newRow(name) << QByteArray(line) << SrecError::None << type << address
                                << dataSize;
        };
        const auto bad = [](const char* name, const char* line, SrecError error) {
            QTest::newRow(name) << QByteArray(line) << error << 0 << quint32{0} << 0;
        };
        good("S0 header", "S00F000068656C6C6F202020202000003C", 0, 0, 12);
        good("S1 data", "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026", 1, 0,
             28);
        good("S1 lower case", "S11f00007c0802a6900100049421fff07c6c1b787c8c23783c6000003863000026",
             1, 0, 28);
        good("S2 data", "S208012345DEADBEEF56", 2, 0x012345, 4);
        good("S3 data", "S30D80001000000102030405060746", 3, 0x80001000, 8);
        good("S5 count", "S5030003F9", 5, 3, 0);
        good("S6 count", "S60401234592", 6, 0x012345, 0);
        good("S7 end", "S705800010006A", 7, 0x80001000, 0);
        good("S8 end", "S80401234592", 8, 0x012345, 0);
        good("S9 end", "S9030000FC", 9, 0, 0);
        good("mixed case", "S208012345deadBEEF56", 2, 0x012345, 4);

        bad("empty", "", SrecError::NoLeadingS);
        bad("no S", "X9030000FC", SrecError::NoLeadingS);
        bad("lower-case s", "s9030000FC", SrecError::NoLeadingS);
        bad("S alone", "S", SrecError::BadType);
        bad("S4 undefined", "S4030000FC", SrecError::BadType);
        bad("type not a digit", "SX030000FC", SrecError::BadType);
        bad("bad checksum", "S9030000FD", SrecError::BadChecksum);
        bad("data byte changed", "S208012345DEADBEEE56", SrecError::BadChecksum);
        bad("count too large", "S9040000FB", SrecError::CountMismatch);
        bad("count too small", "S208012345DEADBEEFEF56", SrecError::CountMismatch);
        bad("byte missing", "S2080123DEADBEEF56", SrecError::CountMismatch);
        bad("odd length", "S9030000F", SrecError::OddLength);
        bad("no address", "S901FE", SrecError::TooShort);
        bad("odd digits", "S3050000000", SrecError::OddLength);
        bad("no checksum", "S30400000000", SrecError::TooShort);
        bad("S3 address cut", "S303000000FC", SrecError::TooShort);
        bad("bad hex", "S9030G00FC", SrecError::BadHex);
        bad("trailing space", "S9030000FC ", SrecError::BadHex);
        bad("carriage return", "S9030000FC\r", SrecError::BadHex);
        bad("missing digits", "S9", SrecError::TooShort);
    }

    void checksLines() {
        QFETCH(QByteArray, line);
        QFETCH(SrecError, error);
        QFETCH(int, type);
        QFETCH(quint32, address);
        QFETCH(int, dataSize);

        const SrecCheck check = checkSrecLine(line.toStdString());
        QCOMPARE(check.error, error);
        if (error == SrecError::None) {
            QCOMPARE(check.record.type, type);
            QCOMPARE(check.record.address, address);
            QCOMPARE(static_cast<int>(check.record.data.size()), dataSize);
        }
    }

    void makesKnownLines() {
        const std::vector<std::uint8_t> data{
            0x7C, 0x08, 0x02, 0xA6, 0x90, 0x01, 0x00, 0x04, 0x94, 0x21, 0xFF, 0xF0, 0x7C, 0x6C,
            0x1B, 0x78, 0x7C, 0x8C, 0x23, 0x78, 0x3C, 0x60, 0x00, 0x00, 0x38, 0x63, 0x00, 0x00};
        QCOMPARE(makeSrecLine(1, 0, data),
                 "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026");
        const std::vector<std::uint8_t> word{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
        QCOMPARE(makeSrecLine(3, 0x80001000, word), "S30D80001000000102030405060746");
        QCOMPARE(makeSrecLine(8, 0x012345, {}), "S80401234592");
    }

    void makeLineRoundTripsEveryType() {
        const auto data = sequence(40);
        for (const int type : {0, 1, 2, 3, 5, 6, 7, 8, 9}) {
            const std::uint32_t address = type == 3 || type == 7 ? 0xFEDCBA98U : 0xBEEFU;
            const SrecCheck check = checkSrecLine(makeSrecLine(type, address, data));
            QVERIFY2(check.ok(), qPrintable(QString("S%1").arg(type)));
            QCOMPARE(check.record.type, type);
            QCOMPARE(check.record.address, address);
            QCOMPARE(check.record.data, data);
        }
    }

    void makeLineRejectsWhatCannotBeEncoded() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)makeSrecLine(4, 0, {}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)makeSrecLine(1, 0x10000, {}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)makeSrecLine(2, 0x1000000, {}));
        // S1: two address bytes and the checksum leave 252 data bytes in a count of 255
        QVERIFY(checkSrecLine(makeSrecLine(1, 0, sequence(252))).ok());
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)makeSrecLine(1, 0, sequence(253)));
    }

    void makesImages_data() {
        QTest::addColumn<int>("dataType");
        QTest::addColumn<bool>("withCount");
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::newRow("S1 CRLF") << 1 << false << QByteArray("\r\n");
        QTest::newRow("S2 LF count") << 2 << true << QByteArray("\n");
        QTest::newRow("S3 CRLF count") << 3 << true << QByteArray("\r\n");
    }

    void makesImages() {
        QFETCH(int, dataType);
        QFETCH(bool, withCount);
        QFETCH(QByteArray, lineEnd);

        const auto bytes = sequence(40);
        SrecImageOptions options;
        options.dataType = dataType;
        options.bytesPerRecord = 16;
        options.startAddress = 0x1000;
        options.entryAddress = 0x1004;
        options.withCount = withCount;
        options.lineEnd = lineEnd.toStdString();
        const std::string image = makeSrecImage(bytes, options);
        QVERIFY(image.ends_with(options.lineEnd));
        if (options.lineEnd == "\n") {
            QVERIFY(image.find('\r') == std::string::npos);
        }

        const auto lines = splitLines(image, options.lineEnd);
        QCOMPARE(lines.size(), withCount ? std::size_t{6} : std::size_t{5});
        std::vector<SrecRecord> records;
        for (const auto& line : lines) {
            const SrecCheck check = checkSrecLine(line);
            QVERIFY2(check.ok(), line.c_str());
            records.push_back(check.record);
        }
        QCOMPARE(records.front().type, 0);
        QCOMPARE(std::string(records.front().data.begin(), records.front().data.end()),
                 options.header);

        std::vector<std::uint8_t> payload;
        for (std::size_t i = 1; i <= 3; ++i) {
            QCOMPARE(records[i].type, dataType);
            QCOMPARE(records[i].address, 0x1000U + 16U * static_cast<std::uint32_t>(i - 1));
            payload.insert(payload.end(), records[i].data.begin(), records[i].data.end());
        }
        QCOMPARE(payload, bytes);
        if (withCount) {
            QCOMPARE(records[4].type, 5);
            QCOMPARE(records[4].address, 3U);
        }
        QCOMPARE(records.back().type, 10 - dataType);
        QCOMPARE(records.back().address, 0x1004U);
    }

    void imageCountsBeyond65535RecordsWithS6() {
        SrecImageOptions options;
        options.dataType = 2;
        options.bytesPerRecord = 1;
        options.withCount = true;
        options.lineEnd = "\n";
        const auto image = makeSrecImage(std::vector<std::uint8_t>(0x10000, 0xA5), options);
        const auto lines = splitLines(image, "\n");
        const SrecCheck count = checkSrecLine(lines[lines.size() - 2]);
        QVERIFY(count.ok());
        QCOMPARE(count.record.type, 6);
        QCOMPARE(count.record.address, 0x10000U);
    }

    void emptyImageHasHeaderAndEnd() {
        const auto lines = splitLines(makeSrecImage({}), "\r\n");
        QCOMPARE(lines.size(), std::size_t{2});
        QCOMPARE(lines.back(), "S9030000FC");
    }
};

QTEST_GUILESS_MAIN(TestSrecord)
#include "test_srecord.moc"
