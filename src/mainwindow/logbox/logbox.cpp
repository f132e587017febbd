#include "mainwindow/logbox/logbox.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace norvak {

namespace {

constexpr int textMargin = 3; // room for the caret left of column 0
constexpr int caretWidth = 2;

// Bytes the device sends may be control codes; they keep one cell each and are drawn as a
// hollow box so that the columns stay aligned and they differ from any printable character.
bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

char16_t displayed(char16_t c) {
    if (isControl(c)) {
        return u' ';
    }
    return c == 0xAD ? u'-' : c; // a soft hyphen would otherwise take no cell
}

bool isWordCharacter(char16_t c) {
    const QChar ch(c);
    return ch.isLetterOrNumber() || ch == u'_';
}

int toInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace

LogBox::LogBox(QWidget* parent)
    : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    updateMetrics();
}

QString LogBox::Text() const {
    return document_.text();
}

void LogBox::setText(const QString& text) {
    const bool followEnd = isShowingEnd();
    document_.clear(); // releases the old storage before the new text is copied in
    document_.replace(0, 0, text);
    anchor_ = caret_ = 0;
    caretAtRowEnd_ = false;
    goalColumn_ = -1;
    updateScrollRange();
    if (followEnd) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    viewport()->update();
    caretChanged();
}

void LogBox::setSelStart(qsizetype position) {
    position = std::clamp<qsizetype>(position, 0, length());
    if (anchor_ == position && caret_ == position && !caretAtRowEnd_) {
        return; // the hot path: the window sets the caret to the end before every append
    }
    const qsizetype oldStart = selStart();
    const qsizetype oldEnd = oldStart + selLength();
    anchor_ = caret_ = position;
    caretAtRowEnd_ = false;
    goalColumn_ = -1;
    selectionChanged(oldStart, oldEnd);
}

void LogBox::setSelText(const QString& text) {
    replaceSelection(text);
}

QString LogBox::selectedText() const {
    return document_.mid(selStart(), selLength());
}

void LogBox::setSelection(qsizetype start, qsizetype length) {
    const qsizetype oldStart = selStart();
    const qsizetype oldEnd = oldStart + selLength();
    anchor_ = std::clamp<qsizetype>(start, 0, this->length());
    caret_ = std::clamp<qsizetype>(anchor_ + length, 0, this->length());
    caretAtRowEnd_ = false;
    goalColumn_ = -1;
    selectionChanged(oldStart, oldEnd);
}

qsizetype LogBox::visibleRows() const {
    return std::max<qsizetype>(1, viewport()->height() / rowHeight_);
}

qsizetype LogBox::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

bool LogBox::isShowingEnd() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void LogBox::selectAll() {
    setSelection(0, length());
}

void LogBox::copy() const {
    if (selLength() > 0) {
        QGuiApplication::clipboard()->setText(selectedText());
    }
}

void LogBox::cut() {
    if (selLength() > 0) {
        copy();
        typeText({});
    }
}

void LogBox::paste() {
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!pasted.isEmpty()) {
        typeText(pasted);
    }
}

QSize LogBox::sizeHint() const {
    const int width = static_cast<int>(std::ceil(80 * cellWidth_)) + 2 * textMargin;
    return {width + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
            20 * rowHeight_ + 2 * frameWidth()};
}

QVariant LogBox::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return caretRect();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return 0;
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
        return QString();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- editing ----------------------------------------------------------------------------

void LogBox::replaceSelection(QStringView text) {
    const bool followEnd = isShowingEnd();
    const qsizetype start = selStart();
    const qsizetype oldRows = document_.rowCount();
    const qsizetype firstChangedRow = document_.cellOf(start).row;

    document_.replace(start, selLength(), text);
    anchor_ = caret_ = start + text.size();
    caretAtRowEnd_ = false;
    goalColumn_ = -1;

    if (document_.rowCount() != oldRows) {
        updateScrollRange();
    }
    if (followEnd && !isShowingEnd()) {
        // The rows above move up on the screen as they are; the rows from the edit on are
        // painted anew at their new place.
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    updateRows(firstChangedRow, firstVisibleRow() + visibleRows());
    caretChanged();
}

void LogBox::typeText(QStringView text) {
    replaceSelection(text);
    ensureCaretVisible();
}

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

// ---- caret and selection ----------------------------------------------------------------

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

qsizetype LogBox::targetOf(Motion motion) const {
    const Cell cell = caretCell();
    const qsizetype column = goalColumn_ >= 0 ? goalColumn_ : cell.column;
    const qsizetype lastRow = document_.rowCount() - 1;
    switch (motion) {
    case Motion::NextChar:
        return nextCharacter(caret_);
    case Motion::PreviousChar:
        return previousCharacter(caret_);
    case Motion::NextWord:
        return nextWord(caret_);
    case Motion::PreviousWord:
        return previousWord(caret_);
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
    case Motion::DocumentStart:
        return 0;
    case Motion::DocumentEnd:
        return length();
    }
    return caret_;
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

void LogBox::ensureCaretVisible() {
    const qsizetype row = caretCell().row;
    const qsizetype top = firstVisibleRow();
    if (row < top) {
        verticalScrollBar()->setValue(toInt(row));
    } else if (row >= top + visibleRows()) {
        verticalScrollBar()->setValue(toInt(row - visibleRows() + 1));
    }
}

void LogBox::caretChanged() {
    caretShown_ = true;
    caretMovedSinceBlink_ = true;
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

// ---- layout -----------------------------------------------------------------------------

void LogBox::updateMetrics() {
    viewport()->setFont(font());
    const QFontMetricsF metrics(font());
    cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    updateColumns();
}

void LogBox::updateColumns() {
    const bool followEnd = isShowingEnd();
    const qsizetype topPosition = document_.rowSpan(firstVisibleRow()).start;
    const qreal usable = viewport()->width() - 2 * textMargin;
    document_.setColumns(static_cast<qsizetype>(std::floor(usable / cellWidth_)));
    updateScrollRange();
    if (followEnd) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        verticalScrollBar()->setValue(toInt(document_.cellOf(topPosition).row));
    }
    viewport()->update();
}

void LogBox::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const qsizetype page = visibleRows();
    bar->setRange(0, toInt(document_.rowCount() - page));
    bar->setPageStep(toInt(page));
    bar->setSingleStep(1);
}

// ---- events -----------------------------------------------------------------------------

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

void LogBox::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const qsizetype top = firstVisibleRow();
    const qsizetype lastRow = document_.rowCount() - 1;
    const qsizetype first = top + area.top() / rowHeight_;
    const qsizetype last = std::min(lastRow, top + area.bottom() / rowHeight_);
    const QRegion clip = event->region();
    for (qsizetype row = first; row <= last; ++row) {
        // Each row stays inside its own band: a glyph reaching above its row would be wiped
        // where only the row above is painted again, and the screen would differ from a
        // full paint.
        const int y = toInt(row - top) * rowHeight_;
        painter.setClipRegion(clip & QRect(0, y, viewport()->width(), rowHeight_));
        drawRow(painter, row, y);
    }
    painter.setClipRegion(clip);
    if (hasFocus() && caretShown_) {
        painter.fillRect(caretRect(), palette().color(QPalette::Text));
    }
}

void LogBox::drawRow(QPainter& painter, qsizetype row, int y) const {
    const RowSpan span = document_.rowSpan(row);
    const qsizetype count = span.end - span.start;
    QString shown(count, Qt::Uninitialized);
    auto* cells = reinterpret_cast<char16_t*>(shown.data());
    document_.copy(span.start, count, cells);
    const qsizetype selectionEnd = selStart() + selLength();
    const qsizetype selectedFrom = std::clamp(selStart(), span.start, span.end) - span.start;
    const qsizetype selectedTo = std::clamp(selectionEnd, span.start, span.end) - span.start;
    const auto xOf = [this](qsizetype column) {
        return textMargin + static_cast<qreal>(column) * cellWidth_;
    };
    const QPalette& colors = palette();

    // The selection background, with half a cell more for a selected line break.
    const bool breakSelected = span.endsLine && span.line + 1 < document_.lineCount() &&
                               selStart() <= span.end && selectionEnd > span.end;
    const qreal selectedRight = xOf(selectedTo) + (breakSelected ? cellWidth_ / 2 : 0);
    if (selectedRight > xOf(selectedFrom)) {
        painter.fillRect(
            QRectF(xOf(selectedFrom), y, selectedRight - xOf(selectedFrom), rowHeight_),
            colors.brush(QPalette::Highlight));
    }

    const int baseline = y + ascent_;
    QColor boxColor = colors.color(QPalette::Text);
    boxColor.setAlphaF(0.55f);
    painter.setPen(QPen(boxColor, 1));
    painter.setBrush(Qt::NoBrush);
    const qreal boxHeight = std::max<qreal>(3, ascent_ * 0.7);
    for (qsizetype i = 0; i < count; ++i) {
        if (isControl(cells[i])) {
            painter.drawRect(QRectF(xOf(i) + cellWidth_ * 0.15, baseline - boxHeight,
                                    cellWidth_ * 0.7 - 1, boxHeight - 1));
        }
        cells[i] = displayed(cells[i]);
    }

    const auto drawPart = [&](qsizetype from, qsizetype to, QPalette::ColorRole role) {
        if (to > from) {
            painter.setPen(colors.color(role));
            painter.drawText(QPointF(xOf(from), baseline), shown.mid(from, to - from));
        }
    };
    drawPart(0, selectedFrom, QPalette::Text);
    drawPart(selectedFrom, selectedTo, QPalette::HighlightedText);
    drawPart(selectedTo, count, QPalette::Text);
}

bool LogBox::handleEditKey(const QKeyEvent* event) {
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        if (selLength() == 0) {
            anchor_ = previousWord(caret_);
        }
        typeText({});
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        if (selLength() == 0) {
            anchor_ = nextWord(caret_);
        }
        typeText({});
    } else if (event->key() == Qt::Key_Backspace) {
        if (selLength() == 0) {
            anchor_ = previousCharacter(caret_);
        }
        typeText({});
    } else if (event->key() == Qt::Key_Delete) {
        if (selLength() == 0) {
            anchor_ = nextCharacter(caret_);
        }
        typeText({});
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typeText(u"\r\n");
    } else {
        return false;
    }
    return true;
}

bool LogBox::handleMotionKey(const QKeyEvent* event) {
    struct Binding {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    };
    static constexpr std::array bindings{
        Binding{QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Motion::NextChar},
        Binding{QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar,
                Motion::PreviousChar},
        Binding{QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Motion::NextWord},
        Binding{QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord,
                Motion::PreviousWord},
        Binding{QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Motion::NextRow},
        Binding{QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine,
                Motion::PreviousRow},
        Binding{QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Motion::RowStart},
        Binding{QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Motion::RowEnd},
        Binding{QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Motion::NextPage},
        Binding{QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage,
                Motion::PreviousPage},
        Binding{QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
                Motion::DocumentStart},
        Binding{QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
                Motion::DocumentEnd},
    };
    for (const Binding& binding : bindings) {
        const bool move = event->matches(binding.move);
        if (move || event->matches(binding.select)) {
            applyMotion(binding.motion, !move);
            return true;
        }
    }
    return false;
}

void LogBox::keyPressEvent(QKeyEvent* event) {
    if (handleMotionKey(event) || handleEditKey(event)) {
        event->accept();
        return;
    }
    const QString text = event->text();
    const bool printable = !text.isEmpty() && std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return isControl(c.unicode());
    });
    if (printable) {
        typeText(text);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogBox::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) {
        typeText(event->commitString());
    }
    event->accept();
}

void LogBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    bool atRowEnd = false;
    const qsizetype position = positionAtPoint(event->position().toPoint(), &atRowEnd);
    moveCaret(position, event->modifiers().testFlag(Qt::ShiftModifier), atRowEnd);
    goalColumn_ = -1;
    dragging_ = true;
}

void LogBox::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !event->buttons().testFlag(Qt::LeftButton)) {
        return;
    }
    bool atRowEnd = false;
    const QPoint point = event->position().toPoint();
    moveCaret(positionAtPoint(point, &atRowEnd), true, atRowEnd);
}

void LogBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
}

void LogBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const qsizetype position = positionAtPoint(event->position().toPoint());
    qsizetype start = position;
    qsizetype end = position;
    while (start > 0 && isWordCharacter(document_.at(start - 1))) {
        --start;
    }
    while (end < length() && isWordCharacter(document_.at(end))) {
        ++end;
    }
    setSelection(start, end - start);
}

void LogBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const bool hasSelection = selLength() > 0;
    menu.addAction(tr("Cu&t"), this, &LogBox::cut)->setEnabled(hasSelection);
    menu.addAction(tr("&Copy"), this, &LogBox::copy)->setEnabled(hasSelection);
    menu.addAction(tr("&Paste"), this, &LogBox::paste)
        ->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    menu.addAction(tr("Select &All"), this, &LogBox::selectAll)->setEnabled(length() > 0);
    menu.exec(event->globalPos());
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
