#include "firmwarefile/srec_check.h"

#include "protocol/boot_line.h"
#include "protocol/run_timing.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <vector>

namespace norvak::cli {

namespace {

constexpr double lineBitsPerByte = protocol::bitsPerCharacter;
constexpr double lineBaudRate = protocol::baudRate;
constexpr double pauseStepSeconds = std::chrono::duration<double>(protocol::pauseStep).count();
constexpr qsizetype maxHeaderBytes = 256;
// The longest line that is on the line within the shortest pause.
constexpr qint64 shortLineBytes =
    static_cast<qint64>(pauseStepSeconds * lineBaudRate / lineBitsPerByte);
constexpr qint64 countColumn = 3;
constexpr qint64 addressColumn = 5;

constexpr std::array<signed char, 256> makeHexTable() {
    std::array<signed char, 256> table{};
    for (auto& value : table) {
        value = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = static_cast<signed char>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[c] = static_cast<signed char>(c - 'A' + 10);
    }
    for (int c = 'a'; c <= 'f'; ++c) {
        table[c] = static_cast<signed char>(c - 'a' + 10);
    }
    return table;
}
constexpr std::array<signed char, 256> hexTable = makeHexTable();

// Two hex digits at once, the first in the high byte of the index: the byte, or -1.
using PairTable = std::array<std::int16_t, 65536>;
const PairTable& pairTable() {
    static const PairTable table = [] {
        PairTable pairs{};
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const int high = hexTable[i >> 8U];
            const int low = hexTable[i & 0xFFU];
            pairs[i] = static_cast<std::int16_t>(high < 0 || low < 0 ? -1 : high << 4 | low);
        }
        return pairs;
    }();
    return table;
}

constexpr int addressSizeOf(int type) {
    switch (type) {
    case 0:
    case 1:
    case 5:
    case 9:
        return 2;
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return 0;
    }
}

constexpr bool isDataType(int type) {
    return type >= 1 && type <= 3;
}
constexpr bool isTerminationType(int type) {
    return type >= 7 && type <= 9;
}
// S1 data ends with S9, S2 with S8, S3 with S7.
constexpr int terminationFor(int dataType) {
    return 10 - dataType;
}

QString hex(quint64 value, int digits = 2) {
    return QStringLiteral("0x") +
           QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QString printable(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return QStringLiteral("'%1'").arg(QLatin1Char(c));
    }
    return hex(byte);
}

// Adds [first, end) to merged ranges (first -> end), joining every range it touches.
void addMerged(std::map<quint64, quint64>& ranges, quint64 first, quint64 end) {
    auto it = ranges.upper_bound(first);
    if (it != ranges.begin() && std::prev(it)->second >= first) {
        it = std::prev(it);
    }
    quint64 mergedFirst = first;
    quint64 mergedEnd = end;
    while (it != ranges.end() && it->first <= mergedEnd) {
        mergedFirst = std::min(mergedFirst, it->first);
        mergedEnd = std::max(mergedEnd, it->second);
        it = ranges.erase(it);
    }
    ranges.emplace(mergedFirst, mergedEnd);
}

// How often the check asks whether it must stop: a system call every few megabytes costs
// nothing against reading them.
constexpr qint64 interruptPollBytes = 4 * 1024 * 1024;

} // namespace

SrecSeverity severityOf(SrecProblemKind kind) {
    switch (kind) {
    case SrecProblemKind::EmptyLine:
    case SrecProblemKind::AddressRepeated:
    case SrecProblemKind::AddressBackwards:
    case SrecProblemKind::HeaderMissing:
    case SrecProblemKind::LongRecord:
        return SrecSeverity::Warning;
    default:
        return SrecSeverity::Error;
    }
}

const char* kindName(SrecProblemKind kind) {
    switch (kind) {
    case SrecProblemKind::EmptyLine:
        return "empty-line";
    case SrecProblemKind::NotARecord:
        return "not-a-record";
    case SrecProblemKind::BadType:
        return "record-type";
    case SrecProblemKind::BadHexDigit:
        return "hex-digit";
    case SrecProblemKind::OddDigitCount:
        return "odd-digit-count";
    case SrecProblemKind::TooShort:
        return "too-short";
    case SrecProblemKind::CountMismatch:
        return "byte-count";
    case SrecProblemKind::BadChecksum:
        return "checksum";
    case SrecProblemKind::CountRecordMismatch:
        return "record-count";
    case SrecProblemKind::TerminationMissing:
        return "termination-missing";
    case SrecProblemKind::TerminationRepeated:
        return "termination-repeated";
    case SrecProblemKind::RecordAfterTermination:
        return "record-after-termination";
    case SrecProblemKind::TerminationWrongType:
        return "termination-type";
    case SrecProblemKind::AddressConflict:
        return "address-conflict";
    case SrecProblemKind::AddressRepeated:
        return "address-repeated";
    case SrecProblemKind::AddressBackwards:
        return "address-backwards";
    case SrecProblemKind::HeaderMissing:
        return "header-missing";
    case SrecProblemKind::LongRecord:
        return "long-record";
    case SrecProblemKind::UnsentLastByte:
        return "unsent-last-byte";
    }
    return "unknown";
}

QString SrecReport::lineEndName() const {
    const int kinds =
        (lineEnds.crLf > 0 ? 1 : 0) + (lineEnds.lf > 0 ? 1 : 0) + (lineEnds.cr > 0 ? 1 : 0);
    if (kinds > 1) {
        return QStringLiteral("mixed");
    }
    if (lineEnds.crLf > 0) {
        return QStringLiteral("CR LF");
    }
    if (lineEnds.lf > 0) {
        return QStringLiteral("LF");
    }
    if (lineEnds.cr > 0) {
        return QStringLiteral("CR");
    }
    return QStringLiteral("none");
}

SrecChecker::SrecChecker()
    : pairs_(pairTable().data()) {}

void SrecChecker::beginLine() {
    ++line_;
    column_ = 0;
    lineFailed_ = false;
    type_ = -1;
    addressSize_ = 0;
    highNibblePending_ = false;
    bytes_ = 0;
    sum_ = 0;
    count_ = 0;
    address_ = 0;
    lastByte_ = 0;
    headerBytes_.clear();
}

void SrecChecker::headChar(char c) {
    ++column_;
    if (column_ == 1) {
        if (c != 'S') {
            problem(SrecProblemKind::NotARecord, 1,
                    QStringLiteral("a record starts with \"S\", not %1").arg(printable(c)));
        }
        return;
    }
    const int type = c >= '0' && c <= '9' ? c - '0' : -1;
    if (type < 0 || addressSizeOf(type) == 0) {
        problem(SrecProblemKind::BadType, 2,
                type < 0 ? QStringLiteral("no record type: %1 after \"S\"").arg(printable(c))
                         : QStringLiteral("record type S%1 is not defined").arg(type));
        return;
    }
    type_ = type;
    addressSize_ = addressSizeOf(type);
}

// One function on purpose: this is the checker's inner loop. Split into member helpers that
// GCC did not inline, it made `check` markedly slower in bench_check (docs/benchmarks.md).
// checkRecordInFile, run for every record, stays whole for the same reason.
void SrecChecker::feed(QByteArrayView piece) {
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (column_ < 2 && p < end && !lineFailed_) {
        headChar(*p++);
    }
    if (lineFailed_) {
        column_ += end - p;
        return;
    }
    const char* const hexStart = p;
    const auto digit = [](char c) {
        return hexTable[static_cast<unsigned char>(c)];
    };
    const auto badDigitAt = [&](const char* at) {
        problem(SrecProblemKind::BadHexDigit, column_ + (at - hexStart) + 1,
                QStringLiteral("%1 is not a hex digit").arg(printable(*at)));
    };
    const auto finishPiece = [&] {
        column_ += end - hexStart;
    };

    // A byte cut in two by the piece before.
    if (highNibblePending_ && p < end) {
        const int low = digit(*p);
        if (low < 0) {
            badDigitAt(p);
            return finishPiece();
        }
        highNibblePending_ = false;
        takeByte(highNibble_ << 4U | static_cast<unsigned>(low));
        ++p;
    }
    const auto pair = [this](const char* at) {
        return static_cast<int>(
            pairs_[static_cast<unsigned char>(at[0]) << 8U | static_cast<unsigned char>(at[1])]);
    };
    // Count and address (and an S0's text) byte by byte.
    const qint64 headBytes = type_ == 0 ? std::numeric_limits<qint64>::max() : 1 + addressSize_;
    for (; end - p >= 2 && bytes_ < headBytes; p += 2) {
        const int byte = pair(p);
        if (byte < 0) {
            break;
        }
        takeByte(static_cast<unsigned>(byte));
    }
    // The data bytes only add to the sum.
    unsigned sum = 0;
    qint64 dataBytes = 0;
    int byte = 0;
    for (; end - p >= 2; p += 2) {
        byte = pair(p);
        if (byte < 0) {
            break;
        }
        sum += static_cast<unsigned>(byte);
        ++dataBytes;
    }
    if (dataBytes > 0) {
        sum_ += sum;
        bytes_ += dataBytes;
        lastByte_ = static_cast<unsigned>(pair(p - 2));
    }
    if (p < end) {
        const int high = digit(p[0]);
        if (high < 0) {
            badDigitAt(p);
        } else if (end - p >= 2) {
            badDigitAt(p + 1);
        } else {
            highNibble_ = static_cast<unsigned>(high);
            highNibblePending_ = true;
        }
    }
    finishPiece();
}

void SrecChecker::takeByte(unsigned byte) {
    sum_ += byte;
    ++bytes_;
    lastByte_ = byte;
    if (bytes_ == 1) {
        count_ = byte;
    } else if (bytes_ <= 1 + addressSize_) {
        address_ = address_ << 8U | byte;
    } else if (type_ == 0 && headerBytes_.size() <= maxHeaderBytes) {
        headerBytes_.append(static_cast<char>(byte));
    }
}

void SrecChecker::endLine(LineEnd end) {
    switch (end) {
    case LineEnd::CarriageReturnLineFeed:
        ++report_.lineEnds.crLf;
        break;
    case LineEnd::LineFeed:
        ++report_.lineEnds.lf;
        break;
    case LineEnd::CarriageReturn:
        ++report_.lineEnds.cr;
        break;
    case LineEnd::None:
        ++report_.lineEnds.none;
        break;
    }
    ++report_.linesSent;
    addStreamTime(column_ + 1);
    if (!lineFailed_) {
        checkRecordForm();
    }
    if (lineFailed_) {
        return;
    }
    // A well-formed record: besides its one problem in the file, it may be the first record
    // without being a header, and be long.
    if (!recordSeen_) {
        recordSeen_ = true;
        if (type_ != 0) {
            problemAt(line_, SrecProblemKind::HeaderMissing, 1,
                      QStringLiteral("no S0 header: the first record is S%1").arg(type_));
        }
    }
    checkRecordInFile();
    if (column_ > longRecordCharacters) {
        problemAt(line_, SrecProblemKind::LongRecord, longRecordCharacters + 1,
                  QStringLiteral("a record of %1 characters: a boot program that reads a line "
                                 "into a %2-byte buffer loses what goes beyond")
                      .arg(column_)
                      .arg(longRecordCharacters));
    }
}

void SrecChecker::addStreamTime(qint64 lineBytes) {
    // The pause runs while the line goes out; a line longer than its pause holds the next one.
    // Nearly every line is out before the shortest pause ends: those are only counted.
    if (lineBytes <= shortLineBytes) {
        ++shortLines_;
        return;
    }
    const double onLine = static_cast<double>(lineBytes) * lineBitsPerByte / lineBaudRate;
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        const double pause = protocol::pauseStepsOf(item) * pauseStepSeconds;
        report_.streamSeconds[static_cast<std::size_t>(item)] += std::max(pause, onLine);
    }
}

void SrecChecker::checkRecordForm() {
    if (column_ == 0) {
        problem(SrecProblemKind::EmptyLine, 1,
                QStringLiteral("empty line: it goes to the device as a lone LF"));
    } else if (column_ == 1) {
        problem(SrecProblemKind::BadType, 2, QStringLiteral("no record type after \"S\""));
    } else if (highNibblePending_) {
        problem(SrecProblemKind::OddDigitCount, column_,
                QStringLiteral("an odd number of hex digits: the last one makes no byte"));
    } else if (bytes_ < 2 + addressSize_) {
        problem(SrecProblemKind::TooShort, countColumn,
                QStringLiteral("%1 bytes after the type; an S%2 record needs at least %3 (byte "
                               "count, %4-byte address, checksum)")
                    .arg(bytes_)
                    .arg(type_)
                    .arg(2 + addressSize_)
                    .arg(addressSize_));
    } else if (count_ != static_cast<unsigned>(bytes_ - 1)) {
        problem(SrecProblemKind::CountMismatch, countColumn,
                QStringLiteral("byte count %1 (%2) but %3 bytes follow it")
                    .arg(hex(count_))
                    .arg(count_)
                    .arg(bytes_ - 1));
    } else if ((sum_ & 0xFFU) != 0xFFU) {
        const unsigned expected = ~(sum_ - lastByte_) & 0xFFU;
        problem(SrecProblemKind::BadChecksum, countColumn + 2 * (bytes_ - 1),
                QStringLiteral("checksum %1, the record's bytes give %2")
                    .arg(hex(lastByte_), hex(expected)));
    }
}

void SrecChecker::checkRecordInFile() {
    ++report_.recordsByType[static_cast<std::size_t>(type_)];
    const qint64 dataBytes = bytes_ - 2 - addressSize_;
    if (isDataType(type_)) {
        ++report_.dataRecords;
        report_.dataBytes += dataBytes;
        widestDataType_ = std::max(widestDataType_, type_);
    } else if (type_ == 0 && !report_.header) {
        report_.header = headerBytes_.first(std::min(headerBytes_.size(), dataBytes));
    }

    if (terminationLine_ != 0) {
        if (isTerminationType(type_)) {
            problem(SrecProblemKind::TerminationRepeated, 1,
                    QStringLiteral("a second termination record; the first is on line %1")
                        .arg(terminationLine_));
        } else if (!recordAfterTerminationReported_) {
            // Once: what follows a misplaced termination record is one mistake, not many.
            recordAfterTerminationReported_ = true;
            afterTerminationLine_ = line_;
            problem(SrecProblemKind::RecordAfterTermination, 1,
                    QStringLiteral("a record after the termination record on line %1")
                        .arg(terminationLine_));
        }
        if (isDataType(type_) && dataBytes > 0) {
            checkDataAddresses(address_, address_ + static_cast<quint64>(dataBytes));
        }
        return;
    }
    if (isDataType(type_)) {
        if (dataBytes > 0) {
            checkDataAddresses(address_, address_ + static_cast<quint64>(dataBytes));
        }
    } else if (type_ == 5 || type_ == 6) {
        // The count record counts the data records sent before it.
        const qint64 before = report_.dataRecords;
        if (address_ != static_cast<quint64>(before)) {
            problem(SrecProblemKind::CountRecordMismatch, addressColumn,
                    QStringLiteral("S%1 counts %2 data records, but %3 came before it")
                        .arg(type_)
                        .arg(address_)
                        .arg(before));
        }
    } else if (isTerminationType(type_)) {
        terminationLine_ = line_;
        if (widestDataType_ != 0 && type_ != terminationFor(widestDataType_)) {
            problem(SrecProblemKind::TerminationWrongType, 2,
                    QStringLiteral("S%1 does not end S%2 data records: S%3 does")
                        .arg(type_)
                        .arg(widestDataType_)
                        .arg(terminationFor(widestDataType_)));
        }
    }
}

void SrecChecker::checkDataAddresses(quint64 first, quint64 end) {
    // Nearly every record continues where the one before ended, at the top of the image.
    if (!ranges_.empty() && std::prev(ranges_.end())->second == first) {
        std::prev(ranges_.end())->second = end;
        previousDataEnd_ = end;
        return;
    }
    // The ranges the record reaches into: the first that could, and those after it.
    auto touched = ranges_.upper_bound(first);
    if (touched != ranges_.begin() && std::prev(touched)->second >= first) {
        touched = std::prev(touched);
    }
    std::optional<AddressRange> firstOverlap;
    for (auto it = touched; it != ranges_.end() && it->first < end; ++it) {
        const quint64 from = std::max(first, it->first);
        const quint64 to = std::min(end, it->second);
        if (from < to) {
            if (!firstOverlap) {
                firstOverlap = AddressRange{from, to};
            }
            addMerged(givenAgain_, from, to);
        }
    }
    const int digits = 2 * addressSize_;
    if (firstOverlap && !lineFailed_) {
        // An error until the second pass finds the same data there.
        ++givenAgainProblems_;
        problem(SrecProblemKind::AddressConflict, addressColumn,
                QStringLiteral("bytes %1-%2 were given before")
                    .arg(hex(firstOverlap->first, digits), hex(firstOverlap->end - 1, digits)));
    } else if (previousDataEnd_ && first < *previousDataEnd_) {
        problem(SrecProblemKind::AddressBackwards, addressColumn,
                QStringLiteral("address %1 is below the end of the record before (%2): some "
                               "boot programs erase a flash page when its first record arrives, "
                               "and a record that comes back to a written page erases it")
                    .arg(hex(first, digits), hex(*previousDataEnd_ - 1, digits)));
    }
    previousDataEnd_ = end;
    addMerged(ranges_, first, end);
}

SrecReport SrecChecker::finish(qint64 fileBytes, std::optional<char> leftover) {
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        report_.streamSeconds[static_cast<std::size_t>(item)] +=
            static_cast<double>(shortLines_) * protocol::pauseStepsOf(item) * pauseStepSeconds;
    }
    const qint64 afterLast = report_.linesSent + 1;
    if (terminationLine_ == 0) {
        QString message = QStringLiteral("no termination record (S7, S8 or S9)");
        if (widestDataType_ != 0) {
            message += QStringLiteral(": S%1 ends S%2 data records")
                           .arg(terminationFor(widestDataType_))
                           .arg(widestDataType_);
        }
        problemAt(afterLast, SrecProblemKind::TerminationMissing, 1, message);
    }
    if (leftover && *leftover != '\r' && *leftover != '\n') {
        problemAt(afterLast, SrecProblemKind::UnsentLastByte, 1,
                  QStringLiteral("the file's last byte %1 is never sent: a line needs two bytes")
                      .arg(printable(*leftover)));
    }
    report_.fileBytes = fileBytes;
    report_.ranges.reserve(ranges_.size());
    for (const auto& [first, end] : ranges_) {
        report_.ranges.push_back({first, end});
    }
    return std::move(report_);
}

void SrecChecker::problem(SrecProblemKind kind, qint64 column, QString message) {
    // One problem per line: the first one found.
    if (lineFailed_) {
        return;
    }
    lineFailed_ = true;
    problemAt(line_, kind, column, std::move(message));
}

void SrecChecker::problemAt(qint64 line, SrecProblemKind kind, qint64 column, QString message) {
    ++report_.problemCount;
    ++(severityOf(kind) == SrecSeverity::Error ? report_.errorCount : report_.warningCount);
    if (report_.problems.size() < SrecReport::maxListedProblems) {
        report_.problems.push_back({line, column, kind, std::move(message)});
    }
}

namespace {

// Reads the lines of `device` from where it stands by the streamer's rule: beginLine(), then
// the line's text to `piece` in as many pieces as the reads cut it into, then endLine(its
// end). Returns the bytes consumed; throws FirmwareFileError when the file ends short of
// `size`, CheckInterrupted when `interrupted` says so.
template <typename Begin, typename Piece, typename End>
qint64 scanLines(QIODevice& device, qint64 size, const InterruptPoll& interrupted,
                 Begin&& beginLine, Piece&& piece, End&& endLine) {
    LineReader reader(device, [size] { return size; });
    qint64 consumed = 0;
    qint64 nextPoll = interruptPollBytes;
    // Once per piece, not per byte: a line without an end is read in many pieces.
    const auto pollNow = [&] {
        nextPoll = consumed + interruptPollBytes;
        if (interrupted && interrupted()) {
            throw CheckInterrupted();
        }
    };
    while (reader.hasLine()) {
        beginLine();
        const LineEnd end = reader.scanLine([&](QByteArrayView text) {
            consumed += text.size();
            if (consumed >= nextPoll) {
                pollNow();
            }
            piece(text);
        });
        consumed += end == LineEnd::CarriageReturnLineFeed ? 2 : end == LineEnd::None ? 0 : 1;
        endLine(end);
    }
    // The reader stops where reads stop giving bytes: short of the length taken at the
    // opening, the file was cut while it was read, and no report would describe it.
    if (size - consumed >= 2) {
        throw FirmwareFileError(
            QStringLiteral("it got shorter while it was read (%1 of the %2 bytes it had when "
                           "opened could be read)")
                .arg(consumed)
                .arg(size));
    }
    return consumed;
}

// The longest well-formed record: "S", the type, and 256 bytes (a byte count of 255).
constexpr qsizetype longestRecord = 2 + 2 * 256;

struct DataRecord {
    int addressSize = 0;
    quint64 first = 0;
    QByteArray data;
};

// The data of a well-formed S1, S2 or S3 record, by the same rules the checker applies.
std::optional<DataRecord> dataRecordOf(QByteArrayView line) {
    if (line.size() < 2 || line[0] != 'S' || !isDataType(line[1] - '0') || line.size() % 2 != 0) {
        return std::nullopt;
    }
    QByteArray bytes;
    unsigned sum = 0;
    for (qsizetype at = 2; at < line.size(); at += 2) {
        const int high = hexTable[static_cast<unsigned char>(line[at])];
        const int low = hexTable[static_cast<unsigned char>(line[at + 1])];
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        const auto byte = static_cast<unsigned>(high << 4 | low);
        sum += byte;
        bytes.append(static_cast<char>(byte));
    }
    const int addressSize = addressSizeOf(line[1] - '0');
    if (bytes.size() < 2 + addressSize ||
        static_cast<unsigned char>(bytes[0]) != static_cast<unsigned>(bytes.size() - 1) ||
        (sum & 0xFFU) != 0xFFU) {
        return std::nullopt;
    }
    DataRecord record;
    record.addressSize = addressSize;
    for (int i = 1; i <= addressSize; ++i) {
        record.first = record.first << 8U | static_cast<unsigned char>(bytes[i]);
    }
    record.data = bytes.sliced(1 + addressSize, bytes.size() - 2 - addressSize);
    return record;
}

// The bytes some record gave again: the value each was first given, and whether a record
// gives one of them with another.
class FirstValues {
public:
    explicit FirstValues(const std::map<quint64, quint64>& addresses) {
        for (const auto& [first, end] : addresses) {
            const auto size = static_cast<std::size_t>(end - first);
            spans_.emplace(first,
                           Span{end, std::vector<unsigned char>(size), std::vector<bool>(size)});
        }
    }

    struct Finding {
        bool givenBefore = false;
        std::optional<quint64> differsAt;
        unsigned before = 0;
        unsigned now = 0;
    };

    Finding take(const DataRecord& record) {
        Finding finding;
        const quint64 end = record.first + static_cast<quint64>(record.data.size());
        auto it = spans_.upper_bound(record.first);
        if (it != spans_.begin()) {
            it = std::prev(it);
        }
        for (; it != spans_.end() && it->first < end; ++it) {
            Span& span = it->second;
            const quint64 from = std::max(record.first, it->first);
            const quint64 to = std::min(end, span.end);
            for (quint64 address = from; address < to; ++address) {
                const auto at = static_cast<std::size_t>(address - it->first);
                const auto value = static_cast<unsigned char>(
                    record.data[static_cast<qsizetype>(address - record.first)]);
                if (!span.given[at]) {
                    span.given[at] = true;
                    span.values[at] = value;
                    continue;
                }
                finding.givenBefore = true;
                if (!finding.differsAt && span.values[at] != value) {
                    finding.differsAt = address;
                    finding.before = span.values[at];
                    finding.now = value;
                }
            }
        }
        return finding;
    }

private:
    struct Span {
        quint64 end = 0;
        std::vector<unsigned char> values;
        std::vector<bool> given;
    };
    std::map<quint64, Span> spans_;
};

} // namespace

void SrecChecker::settleGivenAgain(SrecReport& report, QIODevice& device, qint64 size,
                                   const InterruptPoll& interrupted) const {
    if (givenAgain_.empty()) {
        return;
    }
    if (!device.seek(0)) {
        throw FirmwareFileError(QStringLiteral("it could not be read a second time"));
    }
    // The listed problems the second pass decides, by their line.
    std::map<qint64, SrecProblem*> listed;
    for (SrecProblem& problem : report.problems) {
        if (problem.kind == SrecProblemKind::AddressConflict) {
            listed.emplace(problem.line, &problem);
        }
    }
    FirstValues firstValues(givenAgain_);
    qint64 line = 0;
    QByteArray text;
    bool tooLong = false;
    qint64 decided = 0;
    qint64 conflicts = 0;
    const auto decide = [&] {
        const auto record = tooLong ? std::nullopt : dataRecordOf(text);
        if (!record || record->data.isEmpty()) {
            return;
        }
        const FirstValues::Finding finding = firstValues.take(*record);
        // The record after the termination record was reported as that.
        if (!finding.givenBefore || line == afterTerminationLine_) {
            return;
        }
        ++decided;
        const auto problem = listed.find(line);
        if (finding.differsAt) {
            ++conflicts;
            if (problem != listed.end()) {
                problem->second->message +=
                    QStringLiteral(", with other data: %1 was %2, now %3")
                        .arg(hex(*finding.differsAt, 2 * record->addressSize), hex(finding.before),
                             hex(finding.now));
            }
        } else if (problem != listed.end()) {
            problem->second->kind = SrecProblemKind::AddressRepeated;
            problem->second->message += QStringLiteral(", with the same data");
        }
    };
    scanLines(
        device, size, interrupted,
        [&] {
            ++line;
            text.clear();
            tooLong = false;
        },
        [&](QByteArrayView piece) {
            tooLong = tooLong || text.size() + piece.size() > longestRecord;
            if (!tooLong) {
                text.append(piece);
            }
        },
        [&](LineEnd) { decide(); });
    if (decided != givenAgainProblems_) {
        throw FirmwareFileError(QStringLiteral("it changed while it was checked"));
    }
    const qint64 repeats = givenAgainProblems_ - conflicts;
    report.errorCount -= repeats;
    report.warningCount += repeats;
}

SrecReport checkSrecDevice(QIODevice& device, qint64 size, const InterruptPoll& interrupted) {
    SrecChecker checker;
    const qint64 consumed = scanLines(
        device, size, interrupted, [&checker] { checker.beginLine(); },
        [&checker](QByteArrayView piece) { checker.feed(piece); },
        [&checker](LineEnd end) { checker.endLine(end); });
    std::optional<char> leftover;
    if (size - consumed == 1 && device.seek(size - 1)) {
        char last = 0;
        if (device.read(&last, 1) == 1) {
            leftover = last;
        }
    }
    SrecReport report = checker.finish(size, leftover);
    checker.settleGivenAgain(report, device, size, interrupted);
    return report;
}

SrecReport checkSrecFile(QFile& file, const QString& shownAs, const InterruptPoll& interrupted) {
    try {
        return checkSrecDevice(file, file.size(), interrupted);
    } catch (const FirmwareFileError& e) {
        throw FileReadError(QStringLiteral("%1: %2").arg(shownAs, e.description()).toStdString());
    }
}

} // namespace norvak::cli
