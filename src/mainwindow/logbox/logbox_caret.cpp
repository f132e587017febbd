#include "mainwindow/logbox/logbox.h"

#include "mainwindow/logbox/logbox_cells.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace norvak {

using logbox::isWordCharacter;
using logbox::textMargin;
using logbox::toInt;

// ---- characters and words ---------------------------------------------------------------

qsizetype LogBox::nextCharacter(qsizetype pos) const {
    if (pos >= length()) {
        return length();
    }
    const qsizetype line = document_.lineOf(pos);
    if (pos >= document_.lineContentEnd(line)) {
        // A line break, CR LF included, is stepped over as one character.
        return line + 1 < document_.lineCount() ? document_.lineStart(line + 1) : length();
    }
    const bool pair = QChar::isHighSurrogate(document_.at(pos)) && pos + 1 < length() &&
                      QChar::isLowSurrogate(document_.at(pos + 1));
    return pos + (pair ? 2 : 1);
}

qsizetype LogBox::previousCharacter(qsizetype pos) const {
    if (pos <= 0) {
        return 0;
    }
    const qsizetype line = document_.lineOf(pos);
    if (pos == document_.lineStart(line)) {
        return document_.lineContentEnd(line - 1);
    }
    if (pos > document_.lineContentEnd(line)) {
        return document_.lineContentEnd(line);
    }
    const bool pair = pos >= 2 && QChar::isLowSurrogate(document_.at(pos - 1)) &&
                      QChar::isHighSurrogate(document_.at(pos - 2));
    return pos - (pair ? 2 : 1);
}

qsizetype LogBox::nextWord(qsizetype pos) const {
    const qsizetype end = length();
    while (pos < end && isWordCharacter(document_.at(pos))) {
        ++pos;
    }
    while (pos < end && !isWordCharacter(document_.at(pos))) {
        ++pos;
    }
    return pos;
}

qsizetype LogBox::previousWord(qsizetype pos) const {
    while (pos > 0 && !isWordCharacter(document_.at(pos - 1))) {
        --pos;
    }
    while (pos > 0 && isWordCharacter(document_.at(pos - 1))) {
        --pos;
    }
    return pos;
}

// ---- motions ----------------------------------------------------------------------------

void LogBox::moveCaret(qsizetype position, bool extend, bool atRowEnd) {
    const qsizetype oldStart = selStart();
    const qsizetype oldEnd = oldStart + selLength();
    caret_ = std::clamp<qsizetype>(position, 0, length());
    if (!extend) {
        anchor_ = caret_;
    }
    caretAtRowEnd_ = atRowEnd;
    selectionChanged(oldStart, oldEnd);
    ensureCaretVisible();
}

void LogBox::applyMotion(Motion motion, bool extend) {
    const bool vertical = motion == Motion::NextRow || motion == Motion::PreviousRow ||
                          motion == Motion::NextPage || motion == Motion::PreviousPage;
    const Cell cell = caretCell();
    const qsizetype goal = vertical ? (goalColumn_ >= 0 ? goalColumn_ : cell.column) : -1;

    if (!extend && selLength() > 0 &&
        (motion == Motion::NextChar || motion == Motion::PreviousChar)) {
        // Left and Right first collapse a selection onto its edge.
        moveCaret(motion == Motion::NextChar ? selStart() + selLength() : selStart(), false);
        return;
    }
    const qsizetype target = targetOf(motion);
    // Landing on the right edge of a wrapped row keeps the caret on that row.
    const bool rowEnd = motion == Motion::RowEnd || (vertical && goal >= document_.columns());
    if (motion == Motion::NextPage || motion == Motion::PreviousPage) {
        const qsizetype step = motion == Motion::NextPage ? visibleRows() : -visibleRows();
        verticalScrollBar()->setValue(toInt(firstVisibleRow() + step));
    }
    moveCaret(target, extend, rowEnd);
    goalColumn_ = goal;
}

qsizetype LogBox::targetOf(Motion motion) const {
    switch (motion) {
    case Motion::NextChar:
        return nextCharacter(caret_);
    case Motion::PreviousChar:
        return previousCharacter(caret_);
    case Motion::NextWord:
        return nextWord(caret_);
    case Motion::PreviousWord:
        return previousWord(caret_);
    case Motion::DocumentStart:
        return 0;
    case Motion::DocumentEnd:
        return length();
    default:
        return rowTargetOf(motion);
    }
}

// The motions that go by rows keep the goal column while moving up and down.
qsizetype LogBox::rowTargetOf(Motion motion) const {
    const Cell cell = caretCell();
    const qsizetype column = goalColumn_ >= 0 ? goalColumn_ : cell.column;
    const qsizetype lastRow = document_.rowCount() - 1;
    switch (motion) {
    case Motion::NextRow:
        return cell.row < lastRow ? document_.positionAt(cell.row + 1, column) : caret_;
    case Motion::PreviousRow:
        return cell.row > 0 ? document_.positionAt(cell.row - 1, column) : caret_;
    case Motion::NextPage:
        return document_.positionAt(std::min(cell.row + visibleRows(), lastRow), column);
    case Motion::PreviousPage:
        return document_.positionAt(std::max<qsizetype>(cell.row - visibleRows(), 0), column);
    case Motion::RowStart:
        return document_.rowSpan(cell.row).start;
    case Motion::RowEnd:
        return document_.rowSpan(cell.row).end;
    default:
        return caret_;
    }
}

// ---- where the caret is -----------------------------------------------------------------

Cell LogBox::caretCell() const {
    const Cell cell = document_.cellOf(caret_);
    // Only a wrap boundary ends the row above exactly where the caret is: a line start has
    // its break characters in between.
    if (caretAtRowEnd_ && cell.column == 0 && cell.row > 0 &&
        document_.rowSpan(cell.row - 1).end == caret_) {
        return {cell.row - 1, document_.columns()};
    }
    return cell;
}

qsizetype LogBox::positionAtPoint(QPoint point, bool* atRowEnd) const {
    const qsizetype row = firstVisibleRow() + (point.y() < 0 ? -1 : point.y() / rowHeight_);
    const qreal column = std::round(static_cast<qreal>(point.x() - textMargin) / cellWidth_);
    const auto clampedColumn =
        std::clamp<qsizetype>(static_cast<qsizetype>(column), 0, document_.columns());
    const qsizetype lastRow = document_.rowCount() - 1;
    if (row > lastRow) {
        return length();
    }
    const qsizetype position = document_.positionAt(std::max<qsizetype>(row, 0), clampedColumn);
    if (atRowEnd != nullptr) {
        *atRowEnd = clampedColumn >= document_.columns();
    }
    return position;
}

} // namespace norvak
