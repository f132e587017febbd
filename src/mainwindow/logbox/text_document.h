#pragma once

// The log box text with its hard-line index and soft-wrapped row map.
//
// Hard lines end at CR LF, a lone CR or a lone LF. Every hard line is shown on
// max(1, ceil(length / columns)) rows: with a fixed-pitch font the rows of a line follow from
// its length alone, so appending to a line of a million characters costs O(1).
#include "mainwindow/logbox/gap_buffer.h"

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

#include <cstddef>
#include <vector>

namespace norvak {

struct Cell {
    qsizetype row = 0;
    qsizetype column = 0;
    friend bool operator==(const Cell&, const Cell&) = default;
};

// The characters shown on one row: [start, end) of hard line `line`.
struct RowSpan {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype line = 0;
    bool endsLine = false; // the last row of its hard line
};

class TextDocument {
public:
    TextDocument();

    [[nodiscard]] static qsizetype rowsForLength(qsizetype length, qsizetype columns) {
        return length == 0 ? 1 : (length + columns - 1) / columns;
    }

    // Characters.
    [[nodiscard]] qsizetype size() const { return buffer_.size(); }
    [[nodiscard]] char16_t at(qsizetype pos) const { return buffer_.at(pos); }
    [[nodiscard]] QString text() const { return buffer_.toString(); }
    [[nodiscard]] QString mid(qsizetype pos, qsizetype count) const {
        return buffer_.mid(pos, count);
    }
    void copy(qsizetype pos, qsizetype count, char16_t* out) const {
        buffer_.copy(pos, count, out);
    }
    // Replaces [pos, pos + count) with text. Cost: O(text) plus, unless the edit is at the
    // end, O(lines after it).
    void replace(qsizetype pos, qsizetype count, QStringView text);
    void clear();

    // Hard lines.
    [[nodiscard]] qsizetype lineCount() const { return static_cast<qsizetype>(starts_.size()); }
    [[nodiscard]] qsizetype lineStart(qsizetype line) const { return starts_[idx(line)]; }
    // Where the line's break begins (size() for the last line).
    [[nodiscard]] qsizetype lineContentEnd(qsizetype line) const;
    [[nodiscard]] qsizetype lineLength(qsizetype line) const {
        return lineContentEnd(line) - lineStart(line);
    }
    [[nodiscard]] qsizetype lineOf(qsizetype pos) const;

    // Soft-wrapped rows.
    void setColumns(qsizetype columns);
    [[nodiscard]] qsizetype columns() const { return columns_; }
    [[nodiscard]] qsizetype rowCount() const;
    [[nodiscard]] qsizetype firstRowOf(qsizetype line) const;
    [[nodiscard]] qsizetype lineOfRow(qsizetype row) const;
    [[nodiscard]] RowSpan rowSpan(qsizetype row) const;
    // Where the caret at pos is drawn. A caret inside a CR LF pair is shown at the line end;
    // a caret after a line that exactly fills its rows is shown at the right edge.
    [[nodiscard]] Cell cellOf(qsizetype pos) const;
    // The position nearest to the given cell; both are clamped.
    [[nodiscard]] qsizetype positionAt(qsizetype row, qsizetype column) const;

private:
    using LineStarts = QVarLengthArray<qsizetype, 8>;

    [[nodiscard]] static std::size_t idx(qsizetype i) { return static_cast<std::size_t>(i); }
    [[nodiscard]] bool isLineStart(qsizetype pos) const;
    // Updates the line index after [pos, pos + removed) became `inserted` code units.
    void reindexLineStarts(qsizetype pos, qsizetype removed, qsizetype inserted);
    [[nodiscard]] LineStarts lineStartsIn(qsizetype from, qsizetype to) const;
    // Replaces the line starts [first, last) by `added`, keeping firstRows_ parallel.
    void replaceLineStarts(std::ptrdiff_t first, std::ptrdiff_t last, const LineStarts& added);
    [[nodiscard]] qsizetype rowsOfLine(qsizetype line) const {
        return rowsForLength(lineLength(line), columns_);
    }
    void ensureRowsThrough(qsizetype line) const;

    GapBuffer buffer_;
    std::vector<qsizetype> starts_; // start of every hard line; starts_[0] == 0
    qsizetype columns_ = 80;
    // First row of every hard line, parallel to starts_; computed lazily because a width
    // change or an edit invalidates all lines after the edited one.
    mutable std::vector<qsizetype> firstRows_;
    mutable qsizetype validRows_ = 1; // firstRows_[0, validRows_) are up to date
};

} // namespace norvak
