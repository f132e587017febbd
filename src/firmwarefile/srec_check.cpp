#include "firmwarefile/srec_check.h"

#include "firmwarefile/srec_record.h"
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

using srec::addressSizeOf;
using srec::countColumn;
using srec::hex;
using srec::hexTable;
using srec::isDataType;
using srec::terminationFor;

namespace {

constexpr double lineBitsPerByte = protocol::bitsPerCharacter;
constexpr double lineBaudRate = protocol::baudRate;
constexpr double pauseStepSeconds = std::chrono::duration<double>(protocol::pauseStep).count();
constexpr qsizetype maxHeaderBytes = 256;
// The longest line that is on the line within the shortest pause.
constexpr qint64 shortLineBytes =
    static_cast<qint64>(pauseStepSeconds * lineBaudRate / lineBitsPerByte);

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

QString printable(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return QStringLiteral("'%1'").arg(QLatin1Char(c));
    }
    return hex(byte);
}

} // namespace

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
// checkRecordInFile (srec_file_rules.cpp), run for every record, stays whole for the same
// reason.
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

} // namespace norvak::cli
