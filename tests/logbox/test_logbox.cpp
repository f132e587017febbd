// The log box widget, offscreen: the window's four writes, caret and selection semantics,
// editing from the keyboard and mouse, the clipboard and following the end.
#include "mainwindow/logbox/logbox.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <memory>

using norvak::LogBox;

namespace {

// What the window does for every received byte.
void receive(LogBox& box, QStringView bytes) {
    for (const QChar c : bytes) {
        box.setSelStart(box.length());
        box.setSelText(QString(c));
    }
}

QString latin1Range() {
    QString all;
    for (int byte = 0; byte < 256; ++byte) {
        all += QChar(static_cast<char16_t>(byte));
    }
    return all;
}

} // namespace

class TestLogBox : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void appendKeepsEveryByte();
    void appendedLineBreaksSplitRows();
    void windowTextRewrites();
    void setSelStartIsClamped();
    void setSelTextReplacesSelection();
    void setSelectionBothDirections();
    void typingInTheMiddleThenReceivingAppendsAtTheEnd();
    void backspaceAndDeleteTreatCrLfAsOne();
    void wordKeysMoveAndDeleteByWords();
    void shiftSelectionCopiesExactlyTheSelection();
    void cutAndPaste();
    void navigationKeys();
    void upAndDownKeepTheColumn();
    void endOfWrappedRowStaysOnThatRow();
    void doubleClickSelectsWord();
    void controlCharactersAndSelectionAreDrawn();
    void textLooksAsTheFontLaysItOut();
    void mouseClickAndDrag();
    void wrapsAtViewportWidth();
    void followsTheEndUnlessScrolledUp();
    void scrolledRowsShowWhatAFreshPaintShows();
    void editsOfAShortTextShowWhatAFreshPaintShows();
    void resizeKeepsFollowing();
    void takesKeyboardFocus();
    void scrollBarRepaintsOnlyWhenItsPictureChanges();

private:
    [[nodiscard]] QPoint pointOfCell(qsizetype row, qsizetype column) const;
    // Whether the window on the screen shows `part` as painting it afresh would.
    [[nodiscard]] bool screenShowsAFreshPaintOf(QWidget& part) const;
    std::unique_ptr<LogBox> box_;
};

void TestLogBox::init() {
    box_ = std::make_unique<LogBox>();
    box_->resize(400, 200);
    box_->show();
    QVERIFY(QTest::qWaitForWindowExposed(box_.get()));
    QApplication::setActiveWindow(box_.get());
    box_->setFocus();
}

void TestLogBox::cleanup() {
    box_.reset();
}

QPoint TestLogBox::pointOfCell(qsizetype row, qsizetype column) const {
    const QFontMetricsF metrics(box_->font());
    const qreal cell = metrics.horizontalAdvance(QLatin1Char('M'));
    const int rowHeight = static_cast<int>(std::ceil(metrics.lineSpacing()));
    const auto visibleRow = row - box_->firstVisibleRow();
    return {3 + static_cast<int>(static_cast<qreal>(column) * cell + cell / 4),
            static_cast<int>(visibleRow) * rowHeight + rowHeight / 2};
}

bool TestLogBox::screenShowsAFreshPaintOf(QWidget& part) const {
    const QRect area(part.mapTo(box_.get(), QPoint(0, 0)), part.size());
    const QImage shown = box_->screen()
                             ->grabWindow(box_->winId())
                             .toImage()
                             .copy(area)
                             .convertToFormat(QImage::Format_RGB32);
    return shown == part.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void TestLogBox::appendKeepsEveryByte() {
    const QString all = latin1Range();
    receive(*box_, all);
    receive(*box_, all);
    QCOMPARE(box_->length(), 512);
    QCOMPARE(box_->Text(), all + all);
    QCOMPARE(box_->selStart(), 512);
    QCOMPARE(box_->selLength(), 0);
    QCOMPARE(box_->selectedText(), QString());
}

void TestLogBox::appendedLineBreaksSplitRows() {
    receive(*box_, u"a\r\nb\nc\rd\n\re\r");
    QCOMPARE(box_->Text(), QStringLiteral("a\r\nb\nc\rd\n\re\r"));
    // a | b | c | d | (empty) | e | (empty after the final CR)
    QCOMPARE(box_->document().lineCount(), 7);
    QCOMPARE(box_->document().rowCount(), 7);
    receive(*box_, u"\n"); // completes the CR LF: still seven lines
    QCOMPARE(box_->document().lineCount(), 7);
    QCOMPARE(box_->length(), 13);
}

void TestLogBox::windowTextRewrites() {
    receive(*box_, u"middle");
    box_->setText(box_->Text() + QStringLiteral(" end"));
    QCOMPARE(box_->Text(), QStringLiteral("middle end"));
    box_->setText(QStringLiteral("start ") + box_->Text());
    QCOMPARE(box_->Text(), QStringLiteral("start middle end"));
    QCOMPARE(box_->selStart(), 0); // like a text box: a new text puts the caret at 0
    receive(*box_, u"!");
    QCOMPARE(box_->Text(), QStringLiteral("start middle end!"));
    box_->setText(QString());
    QCOMPARE(box_->length(), 0);
    QCOMPARE(box_->Text(), QString());
    QCOMPARE(box_->document().rowCount(), 1);
    QCOMPARE(box_->verticalScrollBar()->maximum(), 0);
    receive(*box_, u"x");
    QCOMPARE(box_->Text(), QStringLiteral("x"));
}

void TestLogBox::setSelStartIsClamped() {
    box_->setText(QStringLiteral("abcdef"));
    box_->setSelStart(-4);
    QCOMPARE(box_->selStart(), 0);
    box_->setSelStart(100);
    QCOMPARE(box_->selStart(), 6);
    box_->setSelStart(3);
    QCOMPARE(box_->selStart(), 3);
    QCOMPARE(box_->selLength(), 0);
}

void TestLogBox::setSelTextReplacesSelection() {
    box_->setText(QStringLiteral("0123456789"));
    box_->setSelection(2, 3);
    QCOMPARE(box_->selectedText(), QStringLiteral("234"));
    box_->setSelText(QStringLiteral("XY"));
    QCOMPARE(box_->Text(), QStringLiteral("01XY56789"));
    QCOMPARE(box_->selStart(), 4);
    QCOMPARE(box_->selLength(), 0);
    box_->setSelection(0, 100); // clamped to the text
    box_->setSelText(QString());
    QCOMPARE(box_->Text(), QString());
}

void TestLogBox::setSelectionBothDirections() {
    box_->setText(QStringLiteral("0123456789"));
    box_->setSelection(7, -3);
    QCOMPARE(box_->selStart(), 4);
    QCOMPARE(box_->selLength(), 3);
    QCOMPARE(box_->caretPosition(), 4);
    QCOMPARE(box_->selectedText(), QStringLiteral("456"));
    // Shift+Right moves the caret end, shrinking the backwards selection.
    QTest::keyClick(box_.get(), Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(box_->selectedText(), QStringLiteral("56"));
}

void TestLogBox::typingInTheMiddleThenReceivingAppendsAtTheEnd() {
    receive(*box_, u"hello world");
    box_->setSelStart(5);
    QTest::keyClicks(box_.get(), QStringLiteral(", dear"));
    QCOMPARE(box_->Text(), QStringLiteral("hello, dear world"));
    QCOMPARE(box_->selStart(), 11);
    receive(*box_, u".");
    QCOMPARE(box_->Text(), QStringLiteral("hello, dear world."));
    QCOMPARE(box_->selStart(), box_->length());
    QTest::keyClick(box_.get(), Qt::Key_Return);
    QCOMPARE(box_->Text(), QStringLiteral("hello, dear world.\r\n"));
}

void TestLogBox::backspaceAndDeleteTreatCrLfAsOne() {
    box_->setText(QStringLiteral("ab\r\ncd"));
    box_->setSelStart(4); // start of "cd"
    QTest::keyClick(box_.get(), Qt::Key_Backspace);
    QCOMPARE(box_->Text(), QStringLiteral("abcd"));
    QTest::keyClick(box_.get(), Qt::Key_Backspace);
    QCOMPARE(box_->Text(), QStringLiteral("acd"));
    QTest::keyClick(box_.get(), Qt::Key_Delete);
    QCOMPARE(box_->Text(), QStringLiteral("ad"));
    box_->setText(QStringLiteral("x\r\ny"));
    box_->setSelStart(1);
    QTest::keyClick(box_.get(), Qt::Key_Delete);
    QCOMPARE(box_->Text(), QStringLiteral("xy"));
    box_->setSelStart(0);
    QTest::keyClick(box_.get(), Qt::Key_Backspace); // nothing before the start
    QCOMPARE(box_->Text(), QStringLiteral("xy"));
    box_->setSelection(0, 2);
    QTest::keyClick(box_.get(), Qt::Key_Delete);
    QCOMPARE(box_->Text(), QString());
}

void TestLogBox::wordKeysMoveAndDeleteByWords() {
    // A word is letters, digits and '_'; a word step also passes the gap after the word.
    box_->setText(QStringLiteral("alpha, beta_2  gamma"));
    QTest::keyClick(box_.get(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(box_->caretPosition(), 7); // start of "beta_2"
    QTest::keyClick(box_.get(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(box_->caretPosition(), 15); // start of "gamma"
    QTest::keyClick(box_.get(), Qt::Key_Left, Qt::ControlModifier);
    QCOMPARE(box_->caretPosition(), 7);
    QTest::keyClick(box_.get(), Qt::Key_Backspace, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("beta_2  gamma"));
    QCOMPARE(box_->caretPosition(), 0);
    QTest::keyClick(box_.get(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("gamma"));
    // With a selection, the word keys delete the selection only.
    box_->setSelection(1, 3);
    QTest::keyClick(box_.get(), Qt::Key_Backspace, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("ga"));
    QCOMPARE(box_->caretPosition(), 1);
}

void TestLogBox::shiftSelectionCopiesExactlyTheSelection() {
    QString received = QStringLiteral("ok");
    received += QChar(0);
    received += QStringLiteral("\r\n");
    received += QChar(0xE9);
    received += QStringLiteral(" rest");
    receive(*box_, received);
    box_->setSelStart(1);
    // k, NUL, the CR LF as one step, and the e-acute.
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(box_.get(), Qt::Key_Right, Qt::ShiftModifier);
    }
    QCOMPARE(box_->selectedText(), received.mid(1, 5));
    QTest::keyClick(box_.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), received.mid(1, 5));

    QTest::keyClick(box_.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(box_->selectedText(), received);
    QTest::keyClick(box_.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), received);
    QCOMPARE(box_->Text(), received); // copying changes nothing
}

void TestLogBox::cutAndPaste() {
    box_->setText(QStringLiteral("one two three"));
    box_->setSelection(4, 4);
    QTest::keyClick(box_.get(), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("one three"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("two "));
    box_->setSelStart(0);
    QTest::keyClick(box_.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("two one three"));
    QCOMPARE(box_->selStart(), 4);
    // Pasting over a selection replaces it.
    box_->setSelection(8, 5);
    QTest::keyClick(box_.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box_->Text(), QStringLiteral("two one two "));
}

void TestLogBox::navigationKeys() {
    box_->setText(QStringLiteral("first\r\nsecond line\nthird"));
    box_->setSelStart(0);
    QTest::keyClick(box_.get(), Qt::Key_End);
    QCOMPARE(box_->caretPosition(), 5);
    QTest::keyClick(box_.get(), Qt::Key_Right); // over the CR LF
    QCOMPARE(box_->caretPosition(), 7);
    QTest::keyClick(box_.get(), Qt::Key_Left);
    QCOMPARE(box_->caretPosition(), 5);
    QTest::keyClick(box_.get(), Qt::Key_Down); // column 5 of "second line"
    QCOMPARE(box_->caretPosition(), 12);
    QTest::keyClick(box_.get(), Qt::Key_Down); // "third" is exactly 5 long
    QCOMPARE(box_->caretPosition(), 24);
    QTest::keyClick(box_.get(), Qt::Key_Up);
    QCOMPARE(box_->caretPosition(), 12);
    QTest::keyClick(box_.get(), Qt::Key_Home);
    QCOMPARE(box_->caretPosition(), 7);
    QTest::keyClick(box_.get(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(box_->caretPosition(), box_->length());
    QTest::keyClick(box_.get(), Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(box_->selStart(), 0);
    QCOMPARE(box_->selLength(), box_->length());
    QTest::keyClick(box_.get(), Qt::Key_Left); // collapses the selection onto its start
    QCOMPARE(box_->caretPosition(), 0);
    QCOMPARE(box_->selLength(), 0);
    QTest::keyClick(box_.get(), Qt::Key_PageDown);
    QCOMPARE(box_->document().cellOf(box_->caretPosition()).row, 2);
    QTest::keyClick(box_.get(), Qt::Key_PageUp);
    QCOMPARE(box_->caretPosition(), 0);
}

void TestLogBox::upAndDownKeepTheColumn() {
    box_->setText(QStringLiteral("long line\nab\nlong line"));
    box_->setSelStart(7);
    QTest::keyClick(box_.get(), Qt::Key_Down);
    QCOMPARE(box_->caretPosition(), 12); // end of "ab"
    QTest::keyClick(box_.get(), Qt::Key_Down);
    QCOMPARE(box_->caretPosition(), 13 + 7);
    QTest::keyClick(box_.get(), Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(box_->selectedText(), QStringLiteral("\nlong li"));
    QTest::keyClick(box_.get(), Qt::Key_Down); // last row: stays
    QTest::keyClick(box_.get(), Qt::Key_Down);
    QCOMPARE(box_->caretPosition(), 13 + 7);
}

void TestLogBox::endOfWrappedRowStaysOnThatRow() {
    const qsizetype columns = box_->document().columns();
    box_->setText(QString(columns * 2 + 5, u'x'));
    box_->setSelStart(0);
    QTest::keyClick(box_.get(), Qt::Key_End);
    QCOMPARE(box_->caretPosition(), columns);
    QTest::keyClick(box_.get(), Qt::Key_Home); // still on the first row
    QCOMPARE(box_->caretPosition(), 0);
    QTest::keyClick(box_.get(), Qt::Key_End);
    QTest::keyClick(box_.get(), Qt::Key_Down); // right edge of the second row
    QCOMPARE(box_->caretPosition(), 2 * columns);
    QTest::keyClick(box_.get(), 'Y');
    QCOMPARE(box_->Text().indexOf(u'Y'), 2 * columns);
    QTest::keyClick(box_.get(), Qt::Key_Home); // typing moved the caret past the boundary
    QCOMPARE(box_->caretPosition(), 2 * columns);
}

void TestLogBox::doubleClickSelectsWord() {
    box_->setText(QStringLiteral("boot program_v2 answers"));
    QTest::mouseDClick(box_->viewport(), Qt::LeftButton, {}, pointOfCell(0, 8));
    QCOMPARE(box_->selectedText(), QStringLiteral("program_v2"));
}

void TestLogBox::controlCharactersAndSelectionAreDrawn() {
    const auto render = [this](const QString& text) {
        box_->setText(text);
        return box_->viewport()->grab().toImage();
    };
    const QImage blank = render(QStringLiteral("a  b"));
    QString withControls = QStringLiteral("a");
    withControls += QChar(0);
    withControls += QChar(0x85);
    withControls += QStringLiteral("b");
    const QImage controls = render(withControls);
    QCOMPARE(box_->length(), 4);
    QVERIFY(controls != blank);               // each control code shows as a placeholder...
    QCOMPARE(box_->document().rowCount(), 1); // ...in one cell, not as a break
    box_->setSelection(0, 2);
    QVERIFY(box_->viewport()->grab().toImage() != controls);
    QCOMPARE(render(QStringLiteral("a  b")), blank);
}

void TestLogBox::textLooksAsTheFontLaysItOut() {
    // The box draws glyphs cell by cell; the text must look as the font's own layout draws
    // it, in a run of the font's glyphs and in a run of characters it has no glyph for, with
    // the whole descent inside the row ("_" is the boot program's answer). Also after the
    // font changes: the glyphs then come from the new font.
    box_->clearFocus();     // no caret in the picture
    box_->resize(800, 200); // one row for each sample, also in the larger font
    const QString samples[] = {QStringLiteral(">_S1130000FFee.!~ {}_ ABC xyz 0123 \u00e4\u00f6"),
                               QStringLiteral("\u4e2d\u6587 \u00c5 ok")};
    QFont larger = box_->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    for (const QFont& font : {box_->font(), larger}) {
        box_->setFont(font);
        const QFontMetricsF metrics(font);
        const qreal baseline = std::ceil(metrics.lineSpacing()) - std::ceil(metrics.descent());
        for (const QString& text : samples) {
            box_->setText(QString());
            QImage expected = box_->viewport()->grab().toImage();
            {
                QPainter painter(&expected);
                painter.setFont(font);
                painter.setPen(box_->palette().color(QPalette::Text));
                painter.drawText(QPointF(3, baseline), text);
            }
            box_->setText(text);
            QCOMPARE(box_->viewport()->grab().toImage(), expected);
        }
    }
}

void TestLogBox::mouseClickAndDrag() {
    box_->setText(QStringLiteral("abcdef\nghijkl\nmnopqr"));
    QTest::mouseClick(box_->viewport(), Qt::LeftButton, {}, pointOfCell(1, 2));
    QCOMPARE(box_->caretPosition(), 9);
    QTest::mousePress(box_->viewport(), Qt::LeftButton, {}, pointOfCell(0, 1));
    QTest::mouseMove(box_->viewport(), pointOfCell(2, 3));
    QTest::mouseRelease(box_->viewport(), Qt::LeftButton, {}, pointOfCell(2, 3));
    QCOMPARE(box_->selectedText(), QStringLiteral("bcdef\nghijkl\nmno"));
    QTest::mouseClick(box_->viewport(), Qt::LeftButton, Qt::ShiftModifier, pointOfCell(0, 4));
    QCOMPARE(box_->selectedText(), QStringLiteral("bcd"));
    // A click below the last row puts the caret at the end.
    QTest::mouseClick(box_->viewport(), Qt::LeftButton, {}, pointOfCell(6, 0));
    QCOMPARE(box_->caretPosition(), box_->length());
}

void TestLogBox::wrapsAtViewportWidth() {
    const qsizetype columns = box_->document().columns();
    QVERIFY(columns > 10);
    const QFontMetricsF metrics(box_->font());
    QVERIFY(static_cast<qreal>(columns) * metrics.horizontalAdvance(QLatin1Char('M')) <=
            box_->viewport()->width());
    receive(*box_, QString(columns * 3 + 1, u'.'));
    QCOMPARE(box_->document().rowCount(), 4);
    receive(*box_, u"\r\n");
    QCOMPARE(box_->document().rowCount(), 5);
    box_->resize(box_->width() / 2, box_->height());
    QVERIFY(box_->document().columns() < columns);
    QCOMPARE(box_->document().rowCount(),
             (columns * 3 + 1 + box_->document().columns() - 1) / box_->document().columns() + 1);
}

void TestLogBox::followsTheEndUnlessScrolledUp() {
    QScrollBar* bar = box_->verticalScrollBar();
    for (int line = 0; line < 100; ++line) {
        receive(*box_, QStringLiteral("line %1\r\n").arg(line));
        QCOMPARE(bar->value(), bar->maximum());
    }
    QVERIFY(bar->maximum() > 0);
    QVERIFY(box_->isShowingEnd());

    bar->setValue(10);
    receive(*box_, u"more\r\nand more\r\n");
    QCOMPARE(bar->value(), 10);
    QVERIFY(!box_->isShowingEnd());
    // The caret at the end is below the view, so it is not drawn inside it.
    const QRect caret = box_->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QVERIFY(!caret.intersects(box_->viewport()->rect()));

    bar->setValue(bar->maximum());
    receive(*box_, QString(500, u'.'));
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(box_->firstVisibleRow() + box_->visibleRows(), box_->document().rowCount());

    // Typing at the caret scrolls the caret into view.
    box_->setSelStart(0);
    QTest::keyClick(box_.get(), 'X');
    QCOMPARE(bar->value(), 0);
    QVERIFY(box_->Text().startsWith(u'X'));
}

void TestLogBox::resizeKeepsFollowing() {
    receive(*box_, QString(5000, u'.'));
    QVERIFY(box_->isShowingEnd());
    box_->resize(box_->width() - 100, box_->height() + 30);
    QVERIFY(box_->isShowingEnd());
    QCOMPARE(box_->firstVisibleRow() + box_->visibleRows(), box_->document().rowCount());
}

void TestLogBox::takesKeyboardFocus() {
    QCOMPARE(box_->focusPolicy(), Qt::StrongFocus);
    QVERIFY(box_->hasFocus());
    QTest::keyClicks(box_.get(), QStringLiteral("typed"));
    QCOMPARE(box_->Text(), QStringLiteral("typed"));
}

// Following the end moves the rows already painted instead of painting them again: the
// screen must then show exactly what painting the whole box anew shows, also when several
// appends (one ending inside a row, one breaking lines) come between two paints.
void TestLogBox::scrolledRowsShowWhatAFreshPaintShows() {
    box_->clearFocus(); // no blinking caret in the pictures
    QScreen* screen = box_->screen();
    const QRect viewport = box_->viewport()->geometry();
    // What the window does with the characters of one receive event: one append.
    const auto appendPiece = [this](const QString& piece) {
        box_->setSelStart(box_->length());
        box_->setSelText(piece);
    };
    for (int i = 0; i < 40; ++i) {
        appendPiece(QStringLiteral("end of a row ") + QString(i % 7, QLatin1Char('x')) +
                    QStringLiteral("\r\nline %1 ").arg(i));
        if (i % 3 == 0) {
            appendPiece(QStringLiteral("more\r\n\r\nand more "));
        }
        QTest::qWait(1); // painted as the window would be
        const QImage shown = screen->grabWindow(box_->winId())
                                 .toImage()
                                 .copy(viewport)
                                 .convertToFormat(QImage::Format_RGB32);
        const QImage fresh = box_->grab(viewport).toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY2(shown == fresh, qPrintable(QStringLiteral("after piece %1").arg(i)));
    }
    QVERIFY(box_->isShowingEnd());
    QVERIFY(box_->firstVisibleRow() > 0);
}

void TestLogBox::editsOfAShortTextShowWhatAFreshPaintShows() {
    box_->clearFocus();
    const auto showsWhatAFreshPaintShows = [this] {
        QTest::qWait(1);
        return screenShowsAFreshPaintOf(*box_->viewport());
    };
    receive(*box_, u"first\r\nsecond\r\nthird");
    QVERIFY(showsWhatAFreshPaintShows());
    // Rows that an edit removes are cleared, wherever the edit was.
    box_->setSelection(5, 9);             // "\r\nsecond\r\n"
    QVERIFY(showsWhatAFreshPaintShows()); // the selection is painted before the edit
    box_->setSelText(QStringLiteral(" "));
    QVERIFY(showsWhatAFreshPaintShows());
    receive(*box_, u"\r\nlast");
    QVERIFY(showsWhatAFreshPaintShows());
    box_->setSelection(0, box_->length());
    QVERIFY(showsWhatAFreshPaintShows());
    box_->setSelText(QStringLiteral("x"));
    QVERIFY(showsWhatAFreshPaintShows());
    // Rows that an insertion in the middle adds push the rest down.
    box_->setSelection(0, 0);
    box_->setSelText(QStringLiteral("a\r\nb\r\nc\r\n"));
    QVERIFY(showsWhatAFreshPaintShows());
    // Only the cells from an edit on are painted anew: inside a row, control codes in their
    // boxes, characters from a fallback font, one at a time.
    box_->setSelection(1, 0);
    box_->setSelText(QStringLiteral("XY"));
    QVERIFY(showsWhatAFreshPaintShows());
    for (const QChar c : u"..\x01.\u6F22\u5B57\u00E4\x7F.") {
        receive(*box_, QStringView(&c, 1));
        QVERIFY(showsWhatAFreshPaintShows());
    }
}

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void TestLogBox::scrollBarRepaintsOnlyWhenItsPictureChanges() {
    box_->clearFocus();
    QScrollBar* bar = box_->verticalScrollBar();
    const auto showsWhatAFreshPaintShows = [this, bar] {
        return screenShowsAFreshPaintOf(*bar);
    };
    PaintCounter counter;
    bar->installEventFilter(&counter);
    // Long enough for the handle to shrink to its smallest and sit at the bottom.
    for (int i = 0; i < 100; ++i) {
        receive(*box_, QStringLiteral("row %1 and row\r\n").arg(i).repeated(10));
        QTest::qWait(1);
    }
    QVERIFY(counter.paints > 0);
    QVERIFY(showsWhatAFreshPaintShows());

    counter.paints = 0;
    for (int i = 0; i < 20; ++i) {
        receive(*box_, QStringLiteral("more rows\r\n").repeated(5));
        QTest::qWait(1);
    }
    QCOMPARE(counter.paints, 0);
    QVERIFY(box_->isShowingEnd());
    QVERIFY(showsWhatAFreshPaintShows());

    // The operator scrolls to the top: the handle moves, and the bar shows it.
    bar->setValue(0);
    QTest::qWait(1);
    QVERIFY(counter.paints > 0);
    QVERIFY(showsWhatAFreshPaintShows());
    // A resize paints the new picture; going back to the end afterwards is a change again.
    box_->resize(400, 260);
    QTest::qWait(1);
    bar->setValue(bar->maximum());
    QTest::qWait(1);
    QVERIFY(showsWhatAFreshPaintShows());
}

QTEST_MAIN(TestLogBox)
#include "test_logbox.moc"
