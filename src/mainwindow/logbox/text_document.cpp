#include "mainwindow/logbox/text_document.h"

#include <algorithm>

namespace norvak {

namespace {
constexpr char16_t cr = u'\r';
constexpr char16_t lf = u'\n';
} // namespace

TextDocument::TextDocument()
    : starts_{0}
    , firstRows_{0} {}

void TextDocument::replace(qsizetype pos, qsizetype count, QStringView text) {
    Q_ASSERT(pos >= 0 && count >= 0 && pos + count <= size());
    // Lines before the one holding pos - 1 keep their characters, breaks and rows.
    const qsizetype firstChanged = lineOf(std::max<qsizetype>(pos - 1, 0));
    buffer_.replace(pos, count, text);
    reindexLineStarts(pos, count, text.size());
    validRows_ = std::min(validRows_, firstChanged + 1);
}

void TextDocument::reindexLineStarts(qsizetype pos, qsizetype removed, qsizetype inserted) {
    // Whether p starts a line depends on the code units at p - 1 and p only, so the old
    // starts in [pos, pos + removed] are recomputed and the later ones shift.
    const qsizetype from = std::max<qsizetype>(pos, 1);
    const auto first = std::lower_bound(starts_.begin() + 1, starts_.end(), from);
    const auto last = std::upper_bound(first, starts_.end(), pos + removed);
    const qsizetype delta = inserted - removed;
    if (delta != 0) {
        std::for_each(last, starts_.end(), [delta](qsizetype& start) { start += delta; });
    }
    const LineStarts added = lineStartsIn(from, pos + inserted);
    replaceLineStarts(first - starts_.begin(), last - starts_.begin(), added);
}

TextDocument::LineStarts TextDocument::lineStartsIn(qsizetype from, qsizetype to) const {
    LineStarts found;
    for (qsizetype p = from; p <= to; ++p) {
        if (isLineStart(p)) {
            found.push_back(p);
        }
    }
    return found;
}

void TextDocument::replaceLineStarts(std::ptrdiff_t first, std::ptrdiff_t last,
                                     const LineStarts& added) {
    // The first rows of the new lines are computed lazily, like those of every later line.
    const auto at = starts_.erase(starts_.begin() + first, starts_.begin() + last);
    starts_.insert(at, added.cbegin(), added.cend());
    const auto rowsAt = firstRows_.erase(firstRows_.begin() + first, firstRows_.begin() + last);
    firstRows_.insert(rowsAt, idx(added.size()), qsizetype{0});
}

void TextDocument::clear() {
    buffer_.clear();
    std::vector<qsizetype>{0}.swap(starts_);
    std::vector<qsizetype>{0}.swap(firstRows_);
    validRows_ = 1;
}

bool TextDocument::isLineStart(qsizetype pos) const {
    if (pos == 0) {
        return true;
    }
    const char16_t before = at(pos - 1);
    if (before == lf) {
        return true;
    }
    // A CR followed by LF breaks once, after the LF.
    return before == cr && (pos == size() || at(pos) != lf);
}

qsizetype TextDocument::lineContentEnd(qsizetype line) const {
    if (line + 1 >= lineCount()) {
        return size();
    }
    const qsizetype start = lineStart(line);
    const qsizetype next = lineStart(line + 1);
    const bool crlf = at(next - 1) == lf && next - 2 >= start && at(next - 2) == cr;
    return next - (crlf ? 2 : 1);
}

qsizetype TextDocument::lineOf(qsizetype pos) const {
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
    return (it - starts_.begin()) - 1;
}

void TextDocument::setColumns(qsizetype columns) {
    columns = std::max<qsizetype>(columns, 1);
    if (columns != columns_) {
        columns_ = columns;
        validRows_ = 1;
    }
}

void TextDocument::ensureRowsThrough(qsizetype line) const {
    for (; validRows_ <= line; ++validRows_) {
        const qsizetype previous = validRows_ - 1;
        firstRows_[idx(validRows_)] = firstRows_[idx(previous)] + rowsOfLine(previous);
    }
}

qsizetype TextDocument::rowCount() const {
    const qsizetype lastLine = lineCount() - 1;
    return firstRowOf(lastLine) + rowsOfLine(lastLine);
}

qsizetype TextDocument::firstRowOf(qsizetype line) const {
    ensureRowsThrough(line);
    return firstRows_[idx(line)];
}

qsizetype TextDocument::lineOfRow(qsizetype row) const {
    ensureRowsThrough(lineCount() - 1);
    const auto it = std::upper_bound(firstRows_.begin(), firstRows_.end(), row);
    return std::max<qsizetype>((it - firstRows_.begin()) - 1, 0);
}

RowSpan TextDocument::rowSpan(qsizetype row) const {
    row = std::clamp<qsizetype>(row, 0, rowCount() - 1);
    const qsizetype line = lineOfRow(row);
    const qsizetype inLine = row - firstRowOf(line);
    const qsizetype contentEnd = lineContentEnd(line);
    const qsizetype start = lineStart(line) + inLine * columns_;
    return {start, std::min(start + columns_, contentEnd), line, inLine + 1 == rowsOfLine(line)};
}

Cell TextDocument::cellOf(qsizetype pos) const {
    pos = std::clamp<qsizetype>(pos, 0, size());
    const qsizetype line = lineOf(pos);
    const qsizetype length = lineLength(line);
    const qsizetype offset = std::min(pos - lineStart(line), length);
    const qsizetype firstRow = firstRowOf(line);
    if (offset == length && length > 0 && length % columns_ == 0) {
        return {firstRow + length / columns_ - 1, columns_};
    }
    return {firstRow + offset / columns_, offset % columns_};
}

qsizetype TextDocument::positionAt(qsizetype row, qsizetype column) const {
    const RowSpan span = rowSpan(row);
    return std::min(span.start + std::clamp<qsizetype>(column, 0, columns_),
                    lineContentEnd(span.line));
}

} // namespace norvak
