#pragma once

// Reads a firmware file line by line without ever holding a whole line: a line ends at CR,
// CR LF or LF, and a pass is over as soon as one byte or none is left unread (a last line of
// one character without a line end is neither counted nor sent). The file's length only says
// where the end should be: a read that returns nothing ends the pass too, so a file cut
// shorter under the reader ends it instead of giving empty lines for ever.

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <stdexcept>
#include <vector>

class QIODevice;

namespace norvak {

// The firmware file cannot be opened or read. The description says why, without the path.
class FirmwareFileError : public std::runtime_error {
public:
    explicit FirmwareFileError(const QString& description)
        : std::runtime_error(description.toStdString())
        , description_(description) {}
    [[nodiscard]] const QString& description() const noexcept { return description_; }

private:
    QString description_;
};

// Which end a line had; None for a last line that runs to the end of the file.
enum class LineEnd { None, CarriageReturn, CarriageReturnLineFeed, LineFeed };

class LineReader {
public:
    // Lines longer than this reach the caller in pieces of at most this size.
    static constexpr qsizetype maxPieceSize = 64 * 1024;

    // `file` is open for reading; `fileLength` gives its current length in bytes.
    LineReader(QIODevice& file, std::function<qint64()> fileLength);

    // True while at least two bytes are left unread: by the file's length, and, near the end
    // of what was read, by a read. Throws FirmwareFileError when a read fails.
    [[nodiscard]] bool hasLine();
    // Hands the line's text to `piece` (at least once, possibly empty) and consumes its end.
    void readLine(const std::function<void(QByteArrayView)>& piece);
    // Consumes one line without looking at its text.
    void skipLine();
    // Hands the line's text to `piece` as views into the read buffer, valid during the call
    // only, without copying: in as many pieces as the buffer's reads cut it into, none for an
    // empty line. Consumes the line's end and returns which it was.
    template <typename Piece> LineEnd scanLine(Piece&& piece);

private:
    // Makes at least one unread byte available; false at the end of the file.
    bool fill();
    // Reads until at least two bytes are unread or a read returns nothing.
    [[nodiscard]] bool topUpToTwo();
    // Appends what one read gives at end_; its size, 0 at the end of the file.
    qint64 readMore();
    [[nodiscard]] qsizetype buffered() const { return end_ - begin_; }
    void consume(qsizetype count);
    // Consumes a line end found at begin_ (CR, CR LF or LF).
    LineEnd consumeLineEnd();
    // Index of the first CR or LF in the unread bytes, or end_.
    [[nodiscard]] qsizetype findLineEnd() const;

    QIODevice& file_;
    std::function<qint64()> fileLength_;
    std::vector<char> buffer_;
    qsizetype begin_ = 0;
    qsizetype end_ = 0;
    qint64 position_ = 0; // bytes consumed from the start of the file
};

template <typename Piece> LineEnd LineReader::scanLine(Piece&& piece) {
    while (fill()) {
        const qsizetype lineEnd = findLineEnd();
        if (lineEnd > begin_) {
            piece(QByteArrayView(buffer_.data() + begin_, lineEnd - begin_));
            consume(lineEnd - begin_);
        }
        if (lineEnd < end_) {
            return consumeLineEnd();
        }
    }
    return LineEnd::None;
}

} // namespace norvak
