#pragma once

// The log box: an editable, fixed-pitch text box that stays fast while the device streams
// hundreds of thousands of characters onto one line. Appending a character costs O(1)
// amortised and painting touches only the visible rows.
//
// The text model API and editing live in logbox.cpp, caret motions in logbox_caret.cpp,
// painting and scrolling in logbox_view.cpp, keyboard and mouse input in logbox_input.cpp.
#include "mainwindow/logbox/cell_glyphs.h"
#include "mainwindow/logbox/text_document.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>

#include <optional>
#include <span>

namespace norvak {

class LogScrollBar;

class LogBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogBox(QWidget* parent = nullptr);

    // Exactly what was received and typed, CR, LF and NUL included. O(n).
    [[nodiscard]] QString Text() const;
    // Replaces the whole text; the caret goes to 0. A view showing the end keeps showing it.
    void setText(const QString& text);
    [[nodiscard]] qsizetype length() const { return document_.size(); }

    // Empty selection at position (clamped to [0, length()]). Does not scroll, so the
    // operator's view stays put while the window appends at the end.
    void setSelStart(qsizetype position);
    [[nodiscard]] qsizetype selStart() const { return std::min(anchor_, caret_); }
    [[nodiscard]] qsizetype selLength() const { return std::max(anchor_, caret_) - selStart(); }
    // Replaces the selection with text and leaves an empty selection after it. When the view
    // showed the last row before, it scrolls to keep showing it.
    void setSelText(const QString& text);
    [[nodiscard]] QString selectedText() const;
    // Selects [start, start + length); a negative length puts the caret before the anchor.
    void setSelection(qsizetype start, qsizetype length);
    // Where the caret is (the moving end of the selection).
    [[nodiscard]] qsizetype caretPosition() const { return caret_; }

    [[nodiscard]] const TextDocument& document() const { return document_; }
    [[nodiscard]] qsizetype visibleRows() const;
    [[nodiscard]] qsizetype firstVisibleRow() const;
    [[nodiscard]] bool isShowingEnd() const;

    void selectAll();
    void copy() const;
    void cut();
    void paste();

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    // Painting, scrolling and the caret blink: logbox_view.cpp.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

    // Keyboard, input method and mouse: logbox_input.cpp.
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Motion {
        NextChar,
        PreviousChar,
        NextWord,
        PreviousWord,
        NextRow,
        PreviousRow,
        RowStart,
        RowEnd,
        NextPage,
        PreviousPage,
        DocumentStart,
        DocumentEnd
    };
    struct MotionKey;    // a key table row: the key moving the caret, the key selecting
    struct ColumnRange { // columns [from, to) of one row
        qsizetype from = 0;
        qsizetype to = 0;
    };

    // Editing the text: logbox.cpp.
    void replaceSelection(QStringView text);
    // The scroll range after an edit that left `oldRows` rows before it; a view that showed
    // the end keeps showing it.
    void scrollAfterEdit(qsizetype oldRows, bool followEnd);
    void typeText(QStringView text);

    // Caret motions and hit testing: logbox_caret.cpp.
    void moveCaret(qsizetype position, bool extend, bool atRowEnd = false);
    void applyMotion(Motion motion, bool extend);
    [[nodiscard]] qsizetype targetOf(Motion motion) const;
    [[nodiscard]] qsizetype rowTargetOf(Motion motion) const;
    [[nodiscard]] qsizetype nextCharacter(qsizetype pos) const;
    [[nodiscard]] qsizetype previousCharacter(qsizetype pos) const;
    [[nodiscard]] qsizetype nextWord(qsizetype pos) const;
    [[nodiscard]] qsizetype previousWord(qsizetype pos) const;
    [[nodiscard]] Cell caretCell() const;
    [[nodiscard]] qsizetype positionAtPoint(QPoint point, bool* atRowEnd = nullptr) const;

    // Key handling: logbox_input.cpp.
    [[nodiscard]] bool handleEditKey(const QKeyEvent* event);
    [[nodiscard]] bool handleClipboardKey(const QKeyEvent* event);
    [[nodiscard]] static std::optional<Motion> deletionReach(const QKeyEvent* event);
    void deleteSelectionOr(Motion reach);
    [[nodiscard]] bool handleMotionKey(const QKeyEvent* event);
    [[nodiscard]] static std::span<const MotionKey> motionKeys();

    // Layout, repainting and drawing: logbox_view.cpp.
    void updateMetrics();
    void updateColumns();
    void updateScrollRange();
    void ensureCaretVisible();
    void caretChanged();
    void selectionChanged(qsizetype oldStart, qsizetype oldEnd);
    void updateRows(qsizetype first, qsizetype last);
    // From a changed cell to the end of its row, and the rows after it up to `lastRow`.
    void updateFrom(Cell firstChanged, qsizetype lastRow);
    [[nodiscard]] QRect caretRect() const;
    [[nodiscard]] qreal xOfColumn(qsizetype column) const;
    // The columns a paint of `area` has to draw.
    [[nodiscard]] ColumnRange columnsAcross(const QRect& area) const;
    [[nodiscard]] ColumnRange selectedColumns(const RowSpan& span) const;
    void drawRow(QPainter& painter, qsizetype row, int y, ColumnRange columns) const;
    void drawSelection(QPainter& painter, const RowSpan& span, ColumnRange selected, int y) const;
    void drawControlBoxes(QPainter& painter, QStringView cells, ColumnRange columns,
                          int baseline) const;
    void drawRowText(QPainter& painter, const QString& shown, ColumnRange columns,
                     ColumnRange selected, int baseline) const;

    LogScrollBar* scrollBar_; // the vertical one, owned by the scroll area
    TextDocument document_;
    qsizetype anchor_ = 0;
    qsizetype caret_ = 0;
    // A caret on a wrap boundary is shown at the end of the upper row (after End or a click
    // right of the text) instead of at the start of the lower one.
    bool caretAtRowEnd_ = false;
    qsizetype goalColumn_ = -1; // kept while moving up and down
    bool dragging_ = false;

    std::optional<CellGlyphs> glyphs_; // of the current font
    qreal cellWidth_ = 8;
    int rowHeight_ = 16;
    int ascent_ = 12;

    QBasicTimer blinkTimer_;
    bool caretShown_ = true;
    bool caretMovedSinceBlink_ = false;
};

} // namespace norvak
