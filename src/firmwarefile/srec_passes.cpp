#include "firmwarefile/srec_check.h"

#include "firmwarefile/srec_record.h"

#include <QFile>
#include <QIODevice>

#include <map>
#include <vector>

namespace norvak::cli {

using srec::addressSizeOf;
using srec::hex;
using srec::hexTable;
using srec::isDataType;

namespace {

// How often the check asks whether it must stop: a system call every few megabytes costs
// nothing against reading them.
constexpr qint64 interruptPollBytes = 4 * 1024 * 1024;

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
