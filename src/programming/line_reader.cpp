#include "programming/line_reader.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <stdexcept>

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
    if (buffered() >= 2)
        return true;
    return fileLength_() - position_ >= 2;
}

bool LineReader::fill() {
    if (buffered() > 0)
        return true;
    begin_ = 0;
    end_ = 0;
    const qint64 got = file_.read(buffer_.data(), static_cast<qint64>(buffer_.size()));
    if (got < 0)
        throw std::runtime_error("the firmware file could not be read: " +
                                 file_.errorString().toStdString());
    end_ = static_cast<qsizetype>(got);
    return got > 0;
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

void LineReader::consumeLineEnd() {
    const bool carriageReturn = buffer_[static_cast<std::size_t>(begin_)] == '\r';
    consume(1);
    if (carriageReturn && fill() && buffer_[static_cast<std::size_t>(begin_)] == '\n')
        consume(1);
}

void LineReader::readLine(const std::function<void(QByteArrayView)>& piece) {
    QByteArray pending;
    bool handedOver = false;
    const auto flush = [&] {
        piece(pending);
        pending.clear();
        handedOver = true;
    };
    while (fill()) {
        const qsizetype lineEnd = findLineEnd();
        const qsizetype take = std::min(lineEnd - begin_, maxPieceSize - pending.size());
        pending.append(buffer_.data() + begin_, take);
        consume(take);
        if (pending.size() == maxPieceSize)
            flush();
        if (begin_ == lineEnd && lineEnd < end_) {
            consumeLineEnd();
            break;
        }
    }
    if (!pending.isEmpty() || !handedOver)
        flush();
}

void LineReader::skipLine() {
    while (fill()) {
        const qsizetype lineEnd = findLineEnd();
        consume(lineEnd - begin_);
        if (lineEnd < end_) {
            consumeLineEnd();
            return;
        }
    }
}

} // namespace norvak
