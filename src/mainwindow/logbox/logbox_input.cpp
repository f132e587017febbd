#include "mainwindow/logbox/logbox.h"

#include "mainwindow/logbox/logbox_cells.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>
#include <array>

namespace norvak {

using logbox::isControl;
using logbox::isWordCharacter;

// ---- keyboard ---------------------------------------------------------------------------

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

bool LogBox::handleEditKey(const QKeyEvent* event) {
    if (handleClipboardKey(event)) {
        return true;
    }
    if (const std::optional<Motion> reach = deletionReach(event)) {
        deleteSelectionOr(*reach);
        return true;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typeText(u"\r\n");
        return true;
    }
    return false;
}

bool LogBox::handleClipboardKey(const QKeyEvent* event) {
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else {
        return false;
    }
    return true;
}

// How far a deleting key reaches from the caret when nothing is selected.
std::optional<LogBox::Motion> LogBox::deletionReach(const QKeyEvent* event) {
    if (event->matches(QKeySequence::DeleteStartOfWord)) {
        return Motion::PreviousWord;
    }
    if (event->matches(QKeySequence::DeleteEndOfWord)) {
        return Motion::NextWord;
    }
    if (event->key() == Qt::Key_Backspace) {
        return Motion::PreviousChar;
    }
    if (event->key() == Qt::Key_Delete) {
        return Motion::NextChar;
    }
    return std::nullopt;
}

void LogBox::deleteSelectionOr(Motion reach) {
    if (selLength() == 0) {
        anchor_ = targetOf(reach);
    }
    typeText({});
}

struct LogBox::MotionKey {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Motion motion;
};

std::span<const LogBox::MotionKey> LogBox::motionKeys() {
    static constexpr std::array keys{
        MotionKey{QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Motion::NextChar},
        MotionKey{QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar,
                  Motion::PreviousChar},
        MotionKey{QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Motion::NextWord},
        MotionKey{QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord,
                  Motion::PreviousWord},
        MotionKey{QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Motion::NextRow},
        MotionKey{QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine,
                  Motion::PreviousRow},
        MotionKey{QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine,
                  Motion::RowStart},
        MotionKey{QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Motion::RowEnd},
        MotionKey{QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Motion::NextPage},
        MotionKey{QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage,
                  Motion::PreviousPage},
        MotionKey{QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
                  Motion::DocumentStart},
        MotionKey{QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
                  Motion::DocumentEnd},
    };
    return keys;
}

bool LogBox::handleMotionKey(const QKeyEvent* event) {
    for (const MotionKey& key : motionKeys()) {
        const bool move = event->matches(key.move);
        if (move || event->matches(key.select)) {
            applyMotion(key.motion, !move);
            return true;
        }
    }
    return false;
}

// ---- input method -----------------------------------------------------------------------

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

void LogBox::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) {
        typeText(event->commitString());
    }
    event->accept();
}

// ---- mouse ------------------------------------------------------------------------------

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

} // namespace norvak
