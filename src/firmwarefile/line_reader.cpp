#include "firmwarefile/line_reader.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

namespace norvak {

namespace {

constexpr qsizetype readChunkSize = 1024 * 1024;

constexpr bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

LineReader::LineReader(QIODevice& file, std::function<qint64()> fileLength)
    : file_(file)
    , fileLength_(std::move(fileLength))
    , buffer_(readChunkSize) {}

bool LineReader::hasLine() {
    // Bytes already read count as present; only near the end is the file's length asked.
    if (buffered() >= 2) {
        return true;
    }
    if (fileLength_() - position_ < 2) {
        return false;
    }
    // The length may be one taken earlier, or the file may have been cut since: only bytes
    // that a read gives are there.
    return topUpToTwo();
}

bool LineReader::fill() {
    if (buffered() > 0) {
        return true;
    }
    begin_ = 0;
    end_ = 0;
    return readMore() > 0;
}

bool LineReader::topUpToTwo() {
    // The one byte left, if any, moves to the front of the buffer; the read goes after it.
    if (begin_ > 0) {
        std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    while (buffered() < 2) {
        if (readMore() == 0) {
            return false;
        }
    }
    return true;
}

qint64 LineReader::readMore() {
    const qint64 got =
        file_.read(buffer_.data() + end_, static_cast<qint64>(buffer_.size()) - end_);
    if (got < 0) {
        throw FirmwareFileError(QStringLiteral("reading failed: ") + file_.errorString());
    }
    end_ += static_cast<qsizetype>(got);
    return got;
}

void LineReader::consume(qsizetype count) {
    begin_ += count;
    position_ += count;
}

qsizetype LineReader::findLineEnd() const {
    const char* const first = buffer_.data() + begin_;
    const char* const last = buffer_.data() + end_;
    return begin_ + (std::find_if(first, last, isLineEnd) - first);
}

LineEnd LineReader::consumeLineEnd() {
    const bool carriageReturn = buffer_[static_cast<std::size_t>(begin_)] == '\r';
    consume(1);
    if (!carriageReturn) {
        return LineEnd::LineFeed;
    }
    if (fill() && buffer_[static_cast<std::size_t>(begin_)] == '\n') {
        consume(1);
        return LineEnd::CarriageReturnLineFeed;
    }
    return LineEnd::CarriageReturn;
}

void LineReader::readLine(const std::function<void(QByteArrayView)>& piece) {
    QByteArray pending;
    bool handedOver = false;
    scanLine([&](QByteArrayView view) {
        while (!view.isEmpty()) {
            const qsizetype take = std::min(view.size(), maxPieceSize - pending.size());
            pending.append(view.first(take));
            view = view.sliced(take);
            if (pending.size() == maxPieceSize) {
                piece(pending);
                pending.clear();
                handedOver = true;
            }
        }
    });
    if (!pending.isEmpty() || !handedOver) {
        piece(pending);
    }
}

void LineReader::skipLine() {
    scanLine([](QByteArrayView) {});
}

} // namespace norvak
