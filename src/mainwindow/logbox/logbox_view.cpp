#include "mainwindow/logbox/logbox.h"

#include "mainwindow/logbox/log_scroll_bar.h"
#include "mainwindow/logbox/logbox_cells.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace norvak {

using logbox::caretWidth;
using logbox::displayed;
using logbox::isControl;
using logbox::textMargin;
using logbox::toInt;

qsizetype LogBox::visibleRows() const {
    return std::max<qsizetype>(1, viewport()->height() / rowHeight_);
}

qsizetype LogBox::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

bool LogBox::isShowingEnd() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

QSize LogBox::sizeHint() const {
    const int width = static_cast<int>(std::ceil(80 * cellWidth_)) + 2 * textMargin;
    return {width + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
            20 * rowHeight_ + 2 * frameWidth()};
}

// ---- layout -----------------------------------------------------------------------------

void LogBox::updateMetrics() {
    viewport()->setFont(font());
    const QFontMetricsF metrics(font());
    cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    glyphs_.emplace(font());
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    // The baseline leaves the whole descent inside the row: each row is clipped to its band,
    // and an underscore rounded below it would not be seen at all.
    const int descent = static_cast<int>(std::ceil(metrics.descent()));
    ascent_ = std::min(static_cast<int>(std::ceil(metrics.ascent())), rowHeight_ - descent);
    updateColumns();
}

void LogBox::updateColumns() {
    const bool followEnd = isShowingEnd();
    const qsizetype topPosition = document_.rowSpan(firstVisibleRow()).start;
    const qreal usable = viewport()->width() - 2 * textMargin;
    document_.setColumns(static_cast<qsizetype>(std::floor(usable / cellWidth_)));
    scrollBar_->changeTogether([this, followEnd, topPosition] {
        updateScrollRange();
        scrollBar_->setValue(followEnd ? scrollBar_->maximum()
                                       : toInt(document_.cellOf(topPosition).row));
    });
    viewport()->update();
}

void LogBox::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const qsizetype page = visibleRows();
    bar->setRange(0, toInt(document_.rowCount() - page));
    bar->setPageStep(toInt(page));
    bar->setSingleStep(1);
}

void LogBox::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateColumns();
}

void LogBox::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
    }
}

// ---- scrolling and repainting -----------------------------------------------------------

void LogBox::ensureCaretVisible() {
    const qsizetype row = caretCell().row;
    const qsizetype top = firstVisibleRow();
    if (row < top) {
        verticalScrollBar()->setValue(toInt(row));
    } else if (row >= top + visibleRows()) {
        verticalScrollBar()->setValue(toInt(row - visibleRows() + 1));
    }
}

void LogBox::scrollContentsBy(int /*dx*/, int dy) {
    // A few rows: move what is shown and paint only the rows that come into view (a stream
    // at the end scrolls a row or two a frame). Qt moves the regions still due for painting
    // along, and paints everything anew where it cannot move the pixels.
    if (std::abs(dy) < visibleRows()) {
        viewport()->scroll(0, dy * rowHeight_);
    } else {
        viewport()->update();
    }
}

void LogBox::selectionChanged(qsizetype oldStart, qsizetype oldEnd) {
    caretChanged();
    if (oldEnd > oldStart || selLength() > 0) {
        viewport()->update();
        return;
    }
    // Only the caret moved: repaint the rows it left and entered.
    const qsizetype oldRow = document_.cellOf(std::min(oldStart, length())).row;
    const qsizetype newRow = caretCell().row;
    updateRows(oldRow, oldRow);
    updateRows(newRow, newRow);
}

void LogBox::updateRows(qsizetype first, qsizetype last) {
    const qsizetype top = firstVisibleRow();
    first = std::max(first, top);
    last = std::min(last, top + visibleRows());
    if (first > last) {
        return;
    }
    const int y = toInt(first - top) * rowHeight_;
    const int height = toInt(last - first + 1) * rowHeight_;
    viewport()->update(0, y, viewport()->width(), height);
}

void LogBox::updateFrom(Cell firstChanged, qsizetype lastRow) {
    const qsizetype top = firstVisibleRow();
    if (firstChanged.row >= top && firstChanged.row <= top + visibleRows()) {
        // The cell before the change too, should its glyph reach into the changed cell.
        const qsizetype column = std::max<qsizetype>(0, firstChanged.column - 1);
        const int x = column == 0 ? 0 : static_cast<int>(std::floor(xOfColumn(column)));
        const int y = toInt(firstChanged.row - top) * rowHeight_;
        viewport()->update(x, y, viewport()->width() - x, rowHeight_);
    }
    updateRows(firstChanged.row + 1, lastRow);
}

// ---- painting ---------------------------------------------------------------------------

void LogBox::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const qsizetype top = firstVisibleRow();
    const qsizetype lastRow = document_.rowCount() - 1;
    const qsizetype first = top + area.top() / rowHeight_;
    const qsizetype last = std::min(lastRow, top + area.bottom() / rowHeight_);
    const QRegion clip = event->region();
    painter.setClipRegion(clip);
    painter.fillRect(area, viewport()->palette().brush(QPalette::Base));
    const ColumnRange columns = columnsAcross(area);
    for (qsizetype row = first; row <= last; ++row) {
        // Each row stays inside its own band: a glyph reaching above its row would be wiped
        // where only the row above is painted again, and the screen would differ from a
        // full paint.
        const int y = toInt(row - top) * rowHeight_;
        painter.setClipRegion(clip & QRect(0, y, viewport()->width(), rowHeight_));
        drawRow(painter, row, y, columns);
    }
    painter.setClipRegion(clip);
    if (hasFocus() && caretShown_) {
        painter.fillRect(caretRect(), palette().color(QPalette::Text));
    }
}

qreal LogBox::xOfColumn(qsizetype column) const {
    return textMargin + static_cast<qreal>(column) * cellWidth_;
}

LogBox::ColumnRange LogBox::columnsAcross(const QRect& area) const {
    // Two cells more on each side: a glyph wider than its cell (a fallback font's) may
    // reach into the area from a neighbour. The clip keeps everything else as it was.
    constexpr qsizetype reach = 2;
    const auto columnAt = [this](int x) {
        return static_cast<qsizetype>(std::floor((x - textMargin) / cellWidth_));
    };
    return {std::max<qsizetype>(0, columnAt(area.left()) - reach),
            std::max<qsizetype>(0, columnAt(area.right() + 1) + 1 + reach)};
}

LogBox::ColumnRange LogBox::selectedColumns(const RowSpan& span) const {
    const qsizetype selectionEnd = selStart() + selLength();
    return {std::clamp(selStart(), span.start, span.end) - span.start,
            std::clamp(selectionEnd, span.start, span.end) - span.start};
}

void LogBox::drawRow(QPainter& painter, qsizetype row, int y, ColumnRange columns) const {
    const RowSpan span = document_.rowSpan(row);
    const qsizetype count = span.end - span.start;
    QString shown(count, Qt::Uninitialized);
    auto* cells = reinterpret_cast<char16_t*>(shown.data());
    document_.copy(span.start, count, cells);
    columns = {std::min(columns.from, count), std::min(columns.to, count)};
    const ColumnRange selected = selectedColumns(span);
    drawSelection(painter, span, selected, y);
    const int baseline = y + ascent_;
    drawControlBoxes(painter, shown, columns, baseline);
    // The text then shows the control codes as blanks inside their boxes.
    std::transform(cells, cells + count, cells, displayed);
    drawRowText(painter, shown, columns, selected, baseline);
}

// The selection background, with half a cell more for a selected line break.
void LogBox::drawSelection(QPainter& painter, const RowSpan& span, ColumnRange selected,
                           int y) const {
    const qsizetype selectionEnd = selStart() + selLength();
    const bool breakSelected = span.endsLine && span.line + 1 < document_.lineCount() &&
                               selStart() <= span.end && selectionEnd > span.end;
    const qreal left = xOfColumn(selected.from);
    const qreal right = xOfColumn(selected.to) + (breakSelected ? cellWidth_ / 2 : 0);
    if (right > left) {
        painter.fillRect(QRectF(left, y, right - left, rowHeight_),
                         palette().brush(QPalette::Highlight));
    }
}

void LogBox::drawControlBoxes(QPainter& painter, QStringView cells, ColumnRange columns,
                              int baseline) const {
    QColor boxColor = palette().color(QPalette::Text);
    boxColor.setAlphaF(0.55f);
    painter.setPen(QPen(boxColor, 1));
    painter.setBrush(Qt::NoBrush);
    const qreal boxHeight = std::max<qreal>(3, ascent_ * 0.7);
    for (qsizetype i = columns.from; i < columns.to; ++i) {
        if (isControl(cells[i].unicode())) {
            painter.drawRect(QRectF(xOfColumn(i) + cellWidth_ * 0.15, baseline - boxHeight,
                                    cellWidth_ * 0.7 - 1, boxHeight - 1));
        }
    }
}

void LogBox::drawRowText(QPainter& painter, const QString& shown, ColumnRange columns,
                         ColumnRange selected, int baseline) const {
    const CellGlyphs::Grid grid{textMargin, cellWidth_, static_cast<qreal>(baseline)};
    const auto drawAsText = [&painter](QPointF at, QStringView text) {
        painter.drawText(at, text.toString());
    };
    const auto drawPart = [&](qsizetype from, qsizetype to, QPalette::ColorRole role) {
        from = std::max(from, columns.from);
        to = std::min(to, columns.to);
        if (to > from) {
            painter.setPen(palette().color(role));
            glyphs_->draw(painter, QStringView(shown).sliced(from, to - from), from, grid,
                          drawAsText);
        }
    };
    drawPart(0, selected.from, QPalette::Text);
    drawPart(selected.from, selected.to, QPalette::HighlightedText);
    drawPart(selected.to, shown.size(), QPalette::Text);
}

// ---- the caret --------------------------------------------------------------------------

QRect LogBox::caretRect() const {
    const Cell cell = caretCell();
    const int x =
        textMargin + static_cast<int>(std::lround(static_cast<qreal>(cell.column) * cellWidth_));
    const qsizetype visibleRow = cell.row - firstVisibleRow();
    if (visibleRow < 0 || visibleRow > visibleRows()) {
        return {}; // scrolled out of view
    }
    return {x - 1, toInt(visibleRow) * rowHeight_, caretWidth, rowHeight_};
}

void LogBox::caretChanged() {
    caretShown_ = true;
    caretMovedSinceBlink_ = true;
}

void LogBox::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    const int interval = QGuiApplication::styleHints()->cursorFlashTime() / 2;
    if (interval > 0) {
        blinkTimer_.start(interval, this);
    }
    caretShown_ = true;
    viewport()->update(caretRect());
}

void LogBox::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blinkTimer_.stop();
    viewport()->update(caretRect());
}

void LogBox::timerEvent(QTimerEvent* event) {
    if (event->timerId() != blinkTimer_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // A caret that just moved stays lit for a full period, like in any text box.
    caretShown_ = caretMovedSinceBlink_ || !caretShown_;
    caretMovedSinceBlink_ = false;
    viewport()->update(caretRect());
}

} // namespace norvak
