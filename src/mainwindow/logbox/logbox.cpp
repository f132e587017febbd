#include "mainwindow/logbox/logbox.h"

#include "mainwindow/logbox/log_scroll_bar.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScrollBar>

#include <algorithm>

namespace norvak {

LogBox::LogBox(QWidget* parent)
    : QAbstractScrollArea(parent)
    , scrollBar_(new LogScrollBar(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setVerticalScrollBar(scrollBar_);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // The paint event fills its own background: no second painter for Qt's fill.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
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
    scrollBar_->changeTogether([this, followEnd] {
        updateScrollRange();
        if (followEnd) {
            scrollBar_->setValue(scrollBar_->maximum());
        }
    });
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

// ---- editing ----------------------------------------------------------------------------

void LogBox::replaceSelection(QStringView text) {
    const bool followEnd = isShowingEnd();
    const qsizetype start = selStart();
    const qsizetype oldRows = document_.rowCount();
    const Cell firstChanged = document_.cellOf(start);

    document_.replace(start, selLength(), text);
    anchor_ = caret_ = start + text.size();
    caretAtRowEnd_ = false;
    goalColumn_ = -1;

    scrollAfterEdit(oldRows, followEnd);
    // Rows past the end, before and after the edit, stay empty: a character appended to a
    // short text repaints its own row, not the empty box below it.
    updateFrom(firstChanged, std::max(oldRows, document_.rowCount()) - 1);
    caretChanged();
}

void LogBox::scrollAfterEdit(qsizetype oldRows, bool followEnd) {
    scrollBar_->changeTogether([this, followEnd, oldRows] {
        if (document_.rowCount() != oldRows) {
            updateScrollRange();
        }
        if (followEnd && !isShowingEnd()) {
            // The rows above move up on the screen as they are; the rows from the edit on
            // are painted anew at their new place.
            scrollBar_->setValue(scrollBar_->maximum());
        }
    });
}

void LogBox::typeText(QStringView text) {
    replaceSelection(text);
    ensureCaretVisible();
}

} // namespace norvak
