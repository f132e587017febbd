// The S-record checker against a plain reference checker written here: the same lines (the
// streamer's rule), the same problems with their line, column, kind and severity, the same
// summary. The reference keeps every byte given, to tell the same data from other data.
// The reference holds the whole file and each line at once and decodes with the standard
// library; the checker under test reads through LineReader in pieces, in chunks whose size the
// input chooses.
//
// Input: [read size][file bytes...]

#include "firmwarefile/srec_check.h"

#include <QBuffer>
#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using norvak::cli::SrecProblemKind;
using norvak::cli::SrecReport;

[[noreturn]] void fail(const char* what, long long detail = 0) {
    std::fprintf(stderr, "%s (%lld)\n", what, detail);
    __builtin_trap();
}

// A file whose reads return at most `chunk` bytes.
class ChoppyFile final : public QIODevice {
public:
    ChoppyFile(QByteArray data, qint64 chunk)
        : data_(std::move(data))
        , chunk_(chunk) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    [[nodiscard]] qint64 size() const override { return data_.size(); }
    bool seek(qint64 position) override {
        offset_ = position;
        return QIODevice::seek(position);
    }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 count = std::min({max, chunk_, data_.size() - offset_});
        std::memcpy(out, data_.constData() + offset_, static_cast<std::size_t>(count));
        offset_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 chunk_;
    qint64 offset_ = 0;
};

struct Problem {
    long long line;
    long long column;
    SrecProblemKind kind;
    bool operator==(const Problem&) const = default;
};

struct Reference {
    long long lines = 0;
    long long warnings = 0;
    long long dataBytes = 0;
    std::vector<Problem> problems;
    std::vector<std::pair<unsigned long long, unsigned long long>> ranges;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

int addressSize(int type) {
    static const int sizes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    return sizes[type];
}

// The lines by the streamer's rule: CR, CR LF or LF end one; a pass ends with one byte or none
// left. Returns the lines and what is left over.
std::vector<std::string> splitLines(const std::string& file, std::string& leftover) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (file.size() - at >= 2) {
        const std::size_t end = file.find_first_of("\r\n", at);
        const std::size_t stop = end == std::string::npos ? file.size() : end;
        lines.push_back(file.substr(at, stop - at));
        at = stop;
        if (at < file.size()) {
            at += file[at] == '\r' && at + 1 < file.size() && file[at + 1] == '\n' ? 2 : 1;
        }
    }
    leftover = file.substr(at);
    return lines;
}

Reference referenceCheck(const std::string& file) {
    Reference ref;
    std::string leftover;
    const std::vector<std::string> lines = splitLines(file, leftover);
    ref.lines = static_cast<long long>(lines.size());
    long long dataRecords = 0;
    int widest = 0;
    long long terminationLine = 0;
    bool afterReported = false;
    std::optional<unsigned long long> previousEnd;
    std::vector<std::pair<unsigned long long, unsigned long long>> given; // every data range
    std::map<unsigned long long, unsigned> memory;                        // every byte given
    bool recordSeen = false;

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const long long number = static_cast<long long>(i) + 1;
        const auto report = [&](SrecProblemKind kind, long long column) {
            ref.problems.push_back({number, column, kind});
        };
        if (line.empty()) {
            report(SrecProblemKind::EmptyLine, 1);
            continue;
        }
        if (line[0] != 'S') {
            report(SrecProblemKind::NotARecord, 1);
            continue;
        }
        if (line.size() < 2 || line[1] < '0' || line[1] > '9' || line[1] == '4') {
            report(SrecProblemKind::BadType, 2);
            continue;
        }
        const int type = line[1] - '0';
        const std::size_t badDigit = line.find_first_not_of("0123456789ABCDEFabcdef", 2);
        if (badDigit != std::string::npos) {
            report(SrecProblemKind::BadHexDigit, static_cast<long long>(badDigit) + 1);
            continue;
        }
        if (line.size() % 2 != 0) {
            report(SrecProblemKind::OddDigitCount, static_cast<long long>(line.size()));
            continue;
        }
        std::vector<unsigned> bytes;
        for (std::size_t at = 2; at < line.size(); at += 2) {
            bytes.push_back(
                static_cast<unsigned>(hexValue(line[at]) * 16 + hexValue(line[at + 1])));
        }
        const int size = addressSize(type);
        if (bytes.size() < static_cast<std::size_t>(2 + size)) {
            report(SrecProblemKind::TooShort, 3);
            continue;
        }
        if (bytes[0] != bytes.size() - 1) {
            report(SrecProblemKind::CountMismatch, 3);
            continue;
        }
        unsigned sum = 0;
        for (std::size_t b = 0; b + 1 < bytes.size(); ++b) {
            sum += bytes[b];
        }
        if ((~sum & 0xFFU) != bytes.back()) {
            report(SrecProblemKind::BadChecksum, static_cast<long long>(line.size()) - 1);
            continue;
        }
        unsigned long long address = 0;
        for (int b = 1; b <= size; ++b) {
            address = address << 8U | bytes[static_cast<std::size_t>(b)];
        }
        const long long data = static_cast<long long>(bytes.size()) - 2 - size;
        if (!recordSeen) {
            recordSeen = true;
            if (type != 0) {
                report(SrecProblemKind::HeaderMissing, 1);
            }
        }
        const bool isData = type >= 1 && type <= 3;
        std::optional<Problem> found;
        if (isData) {
            ++dataRecords;
            ref.dataBytes += data;
            widest = std::max(widest, type);
        }
        if (terminationLine != 0) {
            if (type >= 7) {
                found = Problem{number, 1, SrecProblemKind::TerminationRepeated};
            } else if (!afterReported) {
                afterReported = true;
                found = Problem{number, 1, SrecProblemKind::RecordAfterTermination};
            }
        }
        if (isData && data > 0) {
            const unsigned long long end = address + static_cast<unsigned long long>(data);
            bool overlaps = false;
            bool differs = false;
            for (long long b = 0; b < data; ++b) {
                const unsigned value = bytes[static_cast<std::size_t>(1 + size + b)];
                const auto [at, isNew] =
                    memory.emplace(address + static_cast<unsigned long long>(b), value);
                overlaps = overlaps || !isNew;
                differs = differs || (!isNew && at->second != value);
            }
            if (!found && overlaps) {
                found = Problem{number, 5,
                                differs ? SrecProblemKind::AddressConflict
                                        : SrecProblemKind::AddressRepeated};
            } else if (!found && previousEnd && address < *previousEnd) {
                found = Problem{number, 5, SrecProblemKind::AddressBackwards};
            }
            previousEnd = end;
            given.emplace_back(address, end);
        }
        if (!found && terminationLine == 0) {
            if ((type == 5 || type == 6) &&
                address != static_cast<unsigned long long>(dataRecords)) {
                found = Problem{number, 5, SrecProblemKind::CountRecordMismatch};
            }
            if (type >= 7) {
                terminationLine = number;
                if (widest != 0 && type != 10 - widest) {
                    found = Problem{number, 2, SrecProblemKind::TerminationWrongType};
                }
            }
        }
        if (found) {
            ref.problems.push_back(*found);
        }
        if (line.size() > static_cast<std::size_t>(norvak::cli::longRecordCharacters)) {
            report(SrecProblemKind::LongRecord, norvak::cli::longRecordCharacters + 1);
        }
    }
    if (terminationLine == 0) {
        ref.problems.push_back({ref.lines + 1, 1, SrecProblemKind::TerminationMissing});
    }
    if (leftover.size() == 1 && leftover[0] != '\r' && leftover[0] != '\n') {
        ref.problems.push_back({ref.lines + 1, 1, SrecProblemKind::UnsentLastByte});
    }

    for (const Problem& problem : ref.problems) {
        switch (problem.kind) {
        case SrecProblemKind::EmptyLine:
        case SrecProblemKind::AddressRepeated:
        case SrecProblemKind::AddressBackwards:
        case SrecProblemKind::HeaderMissing:
        case SrecProblemKind::LongRecord:
            ++ref.warnings;
            break;
        default:
            break;
        }
    }

    // Every byte given, merged into ranges.
    std::sort(given.begin(), given.end());
    for (const auto& range : given) {
        if (!ref.ranges.empty() && range.first <= ref.ranges.back().second) {
            ref.ranges.back().second = std::max(ref.ranges.back().second, range.second);
        } else {
            ref.ranges.push_back(range);
        }
    }
    return ref;
}

qint64 readSize(std::uint8_t code) {
    if (code < 240) {
        return 1 + code % 97;
    }
    return 1024 * 1024;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    const Reference expected = referenceCheck(file);

    ChoppyFile device(QByteArray(file.data(), static_cast<qsizetype>(file.size())),
                      readSize(data[0]));
    const SrecReport report =
        norvak::cli::checkSrecDevice(device, static_cast<qint64>(file.size()));

    if (report.linesSent != expected.lines) {
        fail("lines sent differ", report.linesSent);
    }
    if (report.dataBytes != expected.dataBytes) {
        fail("data bytes differ", report.dataBytes);
    }
    if (report.problemCount != static_cast<qint64>(expected.problems.size())) {
        fail("problem counts differ", report.problemCount);
    }
    if (report.warningCount != expected.warnings ||
        report.errorCount + report.warningCount != report.problemCount) {
        fail("warning counts differ", report.warningCount);
    }
    for (std::size_t i = 0; i < report.problems.size(); ++i) {
        const auto& got = report.problems[i];
        if (!(Problem{got.line, got.column, got.kind} == expected.problems[i])) {
            fail("a problem differs", static_cast<long long>(i));
        }
        if (got.message.isEmpty()) {
            fail("a problem without a message", static_cast<long long>(i));
        }
    }
    if (report.ranges.size() != expected.ranges.size()) {
        fail("address ranges differ", static_cast<long long>(report.ranges.size()));
    }
    for (std::size_t i = 0; i < report.ranges.size(); ++i) {
        if (report.ranges[i].first != expected.ranges[i].first ||
            report.ranges[i].end != expected.ranges[i].second) {
            fail("an address range differs", static_cast<long long>(i));
        }
    }
    return 0;
}
