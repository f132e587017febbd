// LineReader against a plain reference reader: CR, CR LF and LF end a line (scanLine tells
// which), and a pass ends as soon as one byte or none is left. The file comes through a device that
// hands its bytes out in reads of a size the input chooses, so that line ends fall across reads;
// some inputs are spread over files larger than the reader's megabyte or with lines past 64 KiB.
//
// Input: [read size][mode][file bytes...]

#include "firmwarefile/line_reader.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using norvak::LineReader;

[[noreturn]] void fail(const char* what, qsizetype line) {
    std::fprintf(stderr, "line %lld: %s\n", static_cast<long long>(line), what);
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

// The first `c` from `at` on, or the end of the file.
qsizetype endOf(const QByteArray& file, qsizetype at, char c) {
    const auto* const first = file.constData() + at;
    const void* const found = std::memchr(first, c, static_cast<std::size_t>(file.size() - at));
    return found == nullptr ? file.size() : at + (static_cast<const char*>(found) - first);
}

// The rule written out plainly over the whole file; `ends` gets each line's end.
QList<QByteArray> referenceLines(const QByteArray& file, QList<norvak::LineEnd>& ends) {
    using norvak::LineEnd;
    QList<QByteArray> lines;
    qsizetype at = 0;
    while (file.size() - at >= 2) {
        const qsizetype end = std::min(endOf(file, at, '\r'), endOf(file, at, '\n'));
        lines << file.mid(at, end - at);
        at = end;
        if (at == file.size()) {
            ends << LineEnd::None;
        } else if (file[at] == '\n') {
            ends << LineEnd::LineFeed;
            at += 1;
        } else if (at + 1 < file.size() && file[at + 1] == '\n') {
            ends << LineEnd::CarriageReturnLineFeed;
            at += 2;
        } else {
            ends << LineEnd::CarriageReturn;
            at += 1;
        }
    }
    return lines;
}

qint64 readSize(std::uint8_t code) {
    if (code < 200) {
        return 1 + code % 64;
    }
    if (code < 250) {
        return 1 + (code - 200) * 1000;
    }
    return 1024 * 1024;
}

// One input in 32 comes twice, around filler without line ends, so that its second copy lies
// across the 64 KiB piece limit or the reader's megabyte, at an offset the mode chooses. (Few:
// every reader fills a megabyte of fresh memory, and these files take their time.)
QByteArray fileFrom(std::uint8_t mode, const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (mode % 32 != 31 || input.isEmpty()) {
        return input;
    }
    const qsizetype boundary = (mode & 0x20) != 0 ? 1024 * 1024 : LineReader::maxPieceSize;
    const qsizetype secondCopyAt = boundary - 1 - ((mode >> 6) & 3);
    const qsizetype filler = std::max<qsizetype>(0, secondCopyAt - input.size());
    return input + QByteArray(filler, 'x') + input;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const qint64 chunk = readSize(data[0]);
    const std::uint8_t mode = data[1];
    const QByteArray file = fileFrom(mode, data + 2, size - 2);
    QList<norvak::LineEnd> expectedEnds;
    const QList<QByteArray> expected = referenceLines(file, expectedEnds);

    ChoppyFile device(file, chunk);
    LineReader reader(device, [&file] { return static_cast<qint64>(file.size()); });
    qsizetype line = 0;
    // Lines are skipped, scanned in place or read by the bits of the mode, repeated.
    while (reader.hasLine()) {
        if (line >= expected.size()) {
            fail("more lines than the rule gives", line);
        }
        if (((mode >> (line % 7)) & 1) != 0) {
            reader.skipLine();
        } else if (line % 3 == 2) {
            QByteArray text;
            const norvak::LineEnd end = reader.scanLine([&](QByteArrayView piece) {
                if (piece.isEmpty()) {
                    fail("an empty piece", line);
                }
                text += piece;
            });
            if (text != expected[line]) {
                fail("a scanned line's text differs", line);
            }
            if (end != expectedEnds[line]) {
                fail("a scanned line's end differs", line);
            }
        } else {
            QByteArray text;
            int pieces = 0;
            reader.readLine([&](QByteArrayView piece) {
                if (piece.size() > LineReader::maxPieceSize) {
                    fail("a piece longer than the limit", line);
                }
                text += piece;
                ++pieces;
            });
            if (pieces == 0) {
                fail("a line handed over in no piece", line);
            }
            if (text != expected[line]) {
                fail("a line's text differs", line);
            }
        }
        ++line;
    }
    if (line != expected.size()) {
        fail("fewer lines than the rule gives", line);
    }
    return 0;
}
