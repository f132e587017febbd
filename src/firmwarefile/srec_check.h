#pragma once

// Checks a firmware file as Motorola S-records without sending anything: every line the
// window's streamer would send (its own line rule, LineReader) is checked as one record, and
// the file as a whole for its count and termination records and its addresses.
//
// A record is "S", a type digit 0-9 (S4 is undefined), then hex digits in pairs: the byte
// count, the address (2 bytes for S0/S1/S5/S9, 3 for S2/S6/S8, 4 for S3/S7), the data and the
// checksum, the ones' complement of the low byte of the sum of count, address and data. A line
// gets at most one problem of its own form; only well-formed records take part in the file's
// checks (count records, the one termination record, addresses), and a record gets at most
// one problem of these, besides the warnings for a missing header and a long record. Records
// after a misplaced termination record are reported once, at the first of them.
//
// Errors are what makes the device receive a wrong or unreadable record or never finish;
// warnings are what a linker writes and the boot program takes, but is worth knowing.
//
// Memory stays flat: the file is read in the streamer's chunks, only the first
// maxListedProblems problems are kept (all are counted), and address ranges are kept merged,
// without their data. Only when records give bytes again is the file read a second time, to
// tell the same data from other data; that pass keeps the first value of each byte given
// more than once, no more.

#include "firmwarefile/line_reader.h"
#include "protocol/run_timing.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

class QFile;
class QIODevice;

namespace norvak::cli {

enum class SrecSeverity { Error, Warning };

enum class SrecProblemKind {
    EmptyLine,           // warning: sent as a lone LF
    NotARecord,          // not starting with "S"
    BadType,             // no type digit after "S", or S4
    BadHexDigit,         // a character that is not a hex digit
    OddDigitCount,       // the hex digits do not make whole bytes
    TooShort,            // fewer bytes than count, address and checksum need
    CountMismatch,       // the byte count disagrees with the bytes on the line
    BadChecksum,         //
    CountRecordMismatch, // S5/S6 does not match the number of data records before it
    TerminationMissing,  // no S7/S8/S9 at all
    TerminationRepeated, // a second termination record
    RecordAfterTermination,
    TerminationWrongType, // S7/S8/S9 that does not fit the data records' address size
    AddressConflict,      // a data record gives bytes an earlier one gave, with other data
    AddressRepeated,      // warning: the same, with the same data
    AddressBackwards,     // warning: a data record starts below the end of the one before
    HeaderMissing,        // warning: the first well-formed record is not an S0
    LongRecord,           // warning: longer than longRecordCharacters
    UnsentLastByte,       // a last single byte that is no line end: the streamer drops it
};

// Longer records than this (in characters, without the line end) are warned of: a boot
// program that reads a line into a 256-byte buffer loses the rest. Well-formed records reach
// 514 characters (a byte count of 255); the usual tools write 16 or 32 data bytes a record,
// 42 to 78 characters.
inline constexpr qint64 longRecordCharacters = 256;

[[nodiscard]] SrecSeverity severityOf(SrecProblemKind kind);
[[nodiscard]] const char* kindName(SrecProblemKind kind);

struct SrecProblem {
    qint64 line = 0;   // 1-based; a problem of the file's end names the line after the last
    qint64 column = 0; // 1-based, in bytes
    SrecProblemKind kind = SrecProblemKind::NotARecord;
    QString message;

    [[nodiscard]] SrecSeverity severity() const { return severityOf(kind); }
};

struct AddressRange {
    quint64 first = 0;
    quint64 end = 0; // one past the last byte
};

struct LineEndCounts {
    qint64 crLf = 0;
    qint64 lf = 0;
    qint64 cr = 0;
    qint64 none = 0; // a last line that runs to the end of the file
};

struct SrecReport {
    static constexpr std::size_t maxListedProblems = 100;

    qint64 fileBytes = 0;
    qint64 linesSent = 0; // by the streamer's line rule
    LineEndCounts lineEnds;
    std::array<qint64, 10> recordsByType{}; // well-formed records, by their type digit
    qint64 dataRecords = 0;
    qint64 dataBytes = 0;
    std::vector<AddressRange> ranges; // merged, ascending
    std::optional<QByteArray> header; // the first S0's data
    // Seconds the lines take on the line at the link's rate with each speed item's pause after
    // each line, from the first line on (not the handshake nor the second before the first
    // line).
    std::array<double, protocol::speedItemCount> streamSeconds{};
    std::vector<SrecProblem> problems; // the first maxListedProblems, in file order
    qint64 problemCount = 0;           // errors and warnings
    qint64 errorCount = 0;
    qint64 warningCount = 0;

    [[nodiscard]] bool clean() const { return problemCount == 0; }
    // Fit to be sent: no error, and with `strict` no warning either.
    [[nodiscard]] bool passes(bool strict) const {
        return strict ? problemCount == 0 : errorCount == 0;
    }
    // "CR LF", "LF", "CR", "mixed" or "none".
    [[nodiscard]] QString lineEndName() const;
};

// The file cannot be read to its end; what() says why.
class FileReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The check was told to stop before it was through.
class CheckInterrupted : public std::exception {
public:
    [[nodiscard]] const char* what() const noexcept override { return "check interrupted"; }
};

// Asked every few megabytes while a file is checked: true stops the check with
// CheckInterrupted. Cheap, for it runs in the middle of the reading.
using InterruptPoll = std::function<bool()>;

// Checks `file`, opened as the streamer opens it (openFirmwareFile). Throws FileReadError,
// whose reason names the file as `shownAs`, when a read fails or the file gets shorter while
// it is read; and CheckInterrupted.
[[nodiscard]] SrecReport checkSrecFile(QFile& file, const QString& shownAs,
                                       const InterruptPoll& interrupted = {});
// Checks what `device` (open for reading) holds; `size` is its length in bytes, taken at the
// opening. Throws FirmwareFileError when the device gives less, and CheckInterrupted.
[[nodiscard]] SrecReport checkSrecDevice(QIODevice& device, qint64 size,
                                         const InterruptPoll& interrupted = {});

// Takes one line at a time, in pieces, as LineReader::scanLine hands them out.
class SrecChecker {
public:
    SrecChecker();

    void beginLine();
    void feed(QByteArrayView piece);
    void endLine(LineEnd end);
    // `leftover`: the last byte of the file when the line rule left it unread.
    [[nodiscard]] SrecReport finish(qint64 fileBytes, std::optional<char> leftover);

    // After finish(): whether records gave bytes again. Their problems stand as conflicts
    // until settleGivenAgain() has read `device` (the same file, from its start) once more and
    // made those that gave the same data warnings. Throws as checkSrecDevice() does.
    [[nodiscard]] bool bytesGivenAgain() const { return !givenAgain_.empty(); }
    void settleGivenAgain(SrecReport& report, QIODevice& device, qint64 size,
                          const InterruptPoll& interrupted) const;

private:
    void headChar(char c);
    void takeByte(unsigned byte);
    void checkRecordForm();
    void checkRecordInFile();
    void checkDataAddresses(quint64 first, quint64 end);
    void addStreamTime(qint64 lineBytes);
    void problem(SrecProblemKind kind, qint64 column, QString message);
    void problemAt(qint64 line, SrecProblemKind kind, qint64 column, QString message);

    SrecReport report_;
    const std::int16_t* pairs_; // two hex digits to a byte
    qint64 shortLines_ = 0;     // lines on the line before the shortest pause ends

    // The line being read.
    qint64 line_ = 0;
    qint64 column_ = 0; // characters of the line so far
    bool lineFailed_ = false;
    int type_ = -1;
    int addressSize_ = 0;
    bool highNibblePending_ = false;
    unsigned highNibble_ = 0;
    qint64 bytes_ = 0;
    unsigned sum_ = 0;
    unsigned count_ = 0;
    quint64 address_ = 0;
    unsigned lastByte_ = 0;
    QByteArray headerBytes_; // an S0's bytes after the address, checksum included

    // The file so far.
    int widestDataType_ = 0;
    qint64 terminationLine_ = 0;
    bool recordAfterTerminationReported_ = false;
    std::optional<quint64> previousDataEnd_;
    std::map<quint64, quint64> ranges_; // first -> end, merged
    bool recordSeen_ = false;
    // Bytes that records gave again (first -> end, merged), and how many records were reported
    // for it, as conflicts until the second pass tells the same data from other data.
    std::map<quint64, quint64> givenAgain_;
    qint64 givenAgainProblems_ = 0;
    qint64 afterTerminationLine_ = 0; // the line reported as a record after the termination
};

} // namespace norvak::cli
