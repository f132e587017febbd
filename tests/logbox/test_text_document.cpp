// The log box text model: gap buffer edits, hard-line breaking and wrapped row counting.
#include "mainwindow/logbox/gap_buffer.h"
#include "mainwindow/logbox/text_document.h"

#include <QRandomGenerator>
#include <QTest>

#include <vector>

using norvak::Cell;
using norvak::GapBuffer;
using norvak::TextDocument;

namespace {

// Line starts and content lengths computed from scratch, the slow obvious way.
struct Lines {
    std::vector<qsizetype> starts{0};
    std::vector<qsizetype> lengths;
};

Lines referenceLines(const QString& text) {
    Lines lines;
    qsizetype contentStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            continue;
        }
        lines.lengths.push_back(i - contentStart);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
        }
        contentStart = i + 1;
        lines.starts.push_back(contentStart);
    }
    lines.lengths.push_back(text.size() - contentStart);
    return lines;
}

void compareWithReference(const TextDocument& doc, const QString& text) {
    QCOMPARE(doc.size(), text.size());
    QCOMPARE(doc.text(), text);
    const Lines expected = referenceLines(text);
    QCOMPARE(doc.lineCount(), static_cast<qsizetype>(expected.starts.size()));
    qsizetype row = 0;
    for (qsizetype line = 0; line < doc.lineCount(); ++line) {
        const auto i = static_cast<std::size_t>(line);
        QCOMPARE(doc.lineStart(line), expected.starts[i]);
        QCOMPARE(doc.lineLength(line), expected.lengths[i]);
        QCOMPARE(doc.firstRowOf(line), row);
        row += TextDocument::rowsForLength(expected.lengths[i], doc.columns());
    }
    QCOMPARE(doc.rowCount(), row);
}

QString randomText(QRandomGenerator& random, qsizetype maxLength) {
    static const QString alphabet = QStringLiteral("ab\r\n\r\n.x");
    const auto length = static_cast<qsizetype>(random.bounded(static_cast<int>(maxLength) + 1));
    QString text;
    for (qsizetype i = 0; i < length; ++i) {
        text += alphabet[random.bounded(static_cast<int>(alphabet.size()))];
    }
    return text;
}

} // namespace

class TestTextDocument : public QObject {
    Q_OBJECT
private slots:
    void gapBufferMatchesStringUnderRandomEdits();
    void gapBufferKeepsEveryCodeUnit();
    void lineBreaks_data();
    void lineBreaks();
    void crThenLfMergesIntoOneBreak();
    void incrementalIndexMatchesRebuild();
    void rowsFollowFromLineLength();
    void longLineWrapsArithmetically();
    void columnChangeRecountsRows();
    void cellsOfWrappedLine();
    void positionAtClampsAndRoundTrips();
    void clearReleasesEverything();
};

void TestTextDocument::gapBufferMatchesStringUnderRandomEdits() {
    QRandomGenerator random(1234);
    GapBuffer buffer;
    QString reference;
    for (int step = 0; step < 3000; ++step) {
        const auto size = static_cast<int>(reference.size());
        const qsizetype pos = random.bounded(size + 1);
        const qsizetype count = random.bounded(std::min(size - static_cast<int>(pos), 5) + 1);
        const QString inserted = randomText(random, 7);
        buffer.replace(pos, count, inserted);
        reference.replace(pos, count, inserted);
        QCOMPARE(buffer.size(), reference.size());
    }
    QCOMPARE(buffer.toString(), reference);
    for (qsizetype i = 0; i < reference.size(); ++i) {
        QCOMPARE(buffer.at(i), reference[i].unicode());
    }
    QCOMPARE(buffer.mid(3, 10), reference.mid(3, 10));
}

void TestTextDocument::gapBufferKeepsEveryCodeUnit() {
    GapBuffer buffer;
    QString expected;
    // Prepend and append alternately so the gap moves across the whole text while it grows.
    for (int value = 0; value < 0x10000; value += 7) {
        const QChar c(static_cast<char16_t>(value));
        if (value % 2 == 0) {
            buffer.insert(buffer.size(), QStringView(&c, 1));
            expected.append(c);
        } else {
            buffer.insert(0, QStringView(&c, 1));
            expected.prepend(c);
        }
    }
    QCOMPARE(buffer.toString(), expected);
    buffer.erase(10, expected.size() - 20);
    QCOMPARE(buffer.toString(), expected.left(10) + expected.right(10));
}

void TestTextDocument::lineBreaks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<qsizetype>>("starts");
    QTest::addColumn<QList<qsizetype>>("lengths");
    using L = QList<qsizetype>;
    QTest::newRow("empty") << QString() << L{0} << L{0};
    QTest::newRow("no break") << QStringLiteral("abc") << L{0} << L{3};
    QTest::newRow("LF") << QStringLiteral("ab\ncd") << L{0, 3} << L{2, 2};
    QTest::newRow("CR") << QStringLiteral("ab\rcd") << L{0, 3} << L{2, 2};
    QTest::newRow("CR LF") << QStringLiteral("ab\r\ncd") << L{0, 4} << L{2, 2};
    QTest::newRow("LF CR is two breaks") << QStringLiteral("a\n\rb") << L{0, 2, 3} << L{1, 0, 1};
    QTest::newRow("CR CR LF") << QStringLiteral("a\r\r\nb") << L{0, 2, 4} << L{1, 0, 1};
    QTest::newRow("trailing CR") << QStringLiteral("abc\r") << L{0, 4} << L{3, 0};
    QTest::newRow("trailing CR LF") << QStringLiteral("abc\r\n") << L{0, 5} << L{3, 0};
    QTest::newRow("only breaks") << QStringLiteral("\n\n\r") << L{0, 1, 2, 3} << L{0, 0, 0, 0};
    QTest::newRow("NUL is not a break")
        << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << L{0} << L{3};
}

void TestTextDocument::lineBreaks() {
    QFETCH(QString, text);
    QFETCH(QList<qsizetype>, starts);
    QFETCH(QList<qsizetype>, lengths);
    // Built in one go and one character at a time, the index must be the same.
    TextDocument whole;
    whole.replace(0, 0, text);
    TextDocument streamed;
    for (const QChar c : text) {
        streamed.replace(streamed.size(), 0, QStringView(&c, 1));
    }
    for (const TextDocument* doc : {&whole, &streamed}) {
        QCOMPARE(doc->lineCount(), starts.size());
        for (qsizetype line = 0; line < doc->lineCount(); ++line) {
            QCOMPARE(doc->lineStart(line), starts[line]);
            QCOMPARE(doc->lineLength(line), lengths[line]);
        }
    }
}

void TestTextDocument::crThenLfMergesIntoOneBreak() {
    TextDocument doc;
    doc.setColumns(10);
    doc.replace(0, 0, u"abc\r");
    QCOMPARE(doc.lineCount(), 2);
    QCOMPARE(doc.rowCount(), 2);
    doc.replace(doc.size(), 0, u"\n");
    QCOMPARE(doc.lineCount(), 2);
    QCOMPARE(doc.lineStart(1), 5);
    QCOMPARE(doc.lineLength(0), 3);
    // Removing the CR leaves a lone LF, still one break.
    doc.replace(3, 1, u"");
    compareWithReference(doc, QStringLiteral("abc\n"));
    // Typing between the CR and the LF splits the pair into two breaks.
    doc.replace(3, 0, u"\rx");
    compareWithReference(doc, QStringLiteral("abc\rx\n"));
}

void TestTextDocument::incrementalIndexMatchesRebuild() {
    QRandomGenerator random(42);
    TextDocument doc;
    doc.setColumns(3);
    QString reference;
    for (int step = 0; step < 2000; ++step) {
        const auto size = static_cast<int>(reference.size());
        const qsizetype pos = step % 3 == 0 ? size : random.bounded(size + 1);
        const qsizetype count = random.bounded(std::min(size - static_cast<int>(pos), 4) + 1);
        const QString inserted = randomText(random, 5);
        doc.replace(pos, count, inserted);
        reference.replace(pos, count, inserted);
        if (step % 50 == 0) {
            doc.setColumns(1 + step % 7);
        }
        if (step % 10 == 0) {
            compareWithReference(doc, reference);
        }
    }
    compareWithReference(doc, reference);
}

void TestTextDocument::rowsFollowFromLineLength() {
    QCOMPARE(TextDocument::rowsForLength(0, 80), 1);
    QCOMPARE(TextDocument::rowsForLength(1, 80), 1);
    QCOMPARE(TextDocument::rowsForLength(80, 80), 1);
    QCOMPARE(TextDocument::rowsForLength(81, 80), 2);
    QCOMPARE(TextDocument::rowsForLength(5, 1), 5);

    TextDocument doc;
    doc.setColumns(4);
    // "abcdefghi" (3 rows), "" (1), "xy" (1) via LF, CR LF and CR.
    doc.replace(0, 0, u"abcdefghi\n\r\nxy\r");
    QCOMPARE(doc.lineCount(), 4);
    QCOMPARE(doc.firstRowOf(0), 0);
    QCOMPARE(doc.firstRowOf(1), 3);
    QCOMPARE(doc.firstRowOf(2), 4);
    QCOMPARE(doc.firstRowOf(3), 5);
    QCOMPARE(doc.rowCount(), 6);
    QCOMPARE(doc.lineOfRow(2), 0);
    QCOMPARE(doc.lineOfRow(3), 1);
    QCOMPARE(doc.lineOfRow(5), 3);
}

void TestTextDocument::longLineWrapsArithmetically() {
    TextDocument doc;
    doc.setColumns(80);
    doc.replace(0, 0, u"start\r\n");
    const QString dots(1000, u'.');
    for (int i = 0; i < 1000; ++i) {
        doc.replace(doc.size(), 0, dots);
    }
    QCOMPARE(doc.lineCount(), 2);
    QCOMPARE(doc.lineLength(1), 1'000'000);
    QCOMPARE(doc.rowCount(), 1 + 1'000'000 / 80);
    doc.replace(doc.size(), 0, u".");
    QCOMPARE(doc.rowCount(), 1 + 1'000'000 / 80 + 1);
    const norvak::RowSpan last = doc.rowSpan(doc.rowCount() - 1);
    QCOMPARE(last.start, doc.size() - 1);
    QCOMPARE(last.end, doc.size());
    QVERIFY(last.endsLine);
    const norvak::RowSpan middle = doc.rowSpan(100);
    QCOMPARE(middle.start, 7 + 99 * 80);
    QCOMPARE(middle.end - middle.start, 80);
    QVERIFY(!middle.endsLine);
}

void TestTextDocument::columnChangeRecountsRows() {
    TextDocument doc;
    doc.replace(0, 0, QString(100, u'x') + u'\n' + QString(10, u'y'));
    doc.setColumns(10);
    QCOMPARE(doc.rowCount(), 11);
    doc.setColumns(30);
    QCOMPARE(doc.rowCount(), 5);
    QCOMPARE(doc.firstRowOf(1), 4);
    doc.setColumns(0); // never fewer than one column
    QCOMPARE(doc.columns(), 1);
    QCOMPARE(doc.rowCount(), 110);
}

void TestTextDocument::cellsOfWrappedLine() {
    TextDocument doc;
    doc.setColumns(4);
    doc.replace(0, 0, u"abcdefgh\r\nij");
    QCOMPARE(doc.cellOf(0), (Cell{0, 0}));
    QCOMPARE(doc.cellOf(3), (Cell{0, 3}));
    QCOMPARE(doc.cellOf(4), (Cell{1, 0}));
    // The end of a line that fills its last row exactly stays on that row.
    QCOMPARE(doc.cellOf(8), (Cell{1, 4}));
    // Inside the CR LF pair the caret shows at the line end too.
    QCOMPARE(doc.cellOf(9), (Cell{1, 4}));
    QCOMPARE(doc.cellOf(10), (Cell{2, 0}));
    QCOMPARE(doc.cellOf(12), (Cell{2, 2}));
    QCOMPARE(doc.cellOf(99), (Cell{2, 2}));
}

void TestTextDocument::positionAtClampsAndRoundTrips() {
    TextDocument doc;
    doc.setColumns(5);
    doc.replace(0, 0, u"0123456789ab\nc\r\rdefghij");
    for (qsizetype pos = 0; pos <= doc.size(); ++pos) {
        const Cell cell = doc.cellOf(pos);
        const qsizetype back = doc.positionAt(cell.row, cell.column);
        QVERIFY2(back == pos || cell.column == doc.columns(), qPrintable(QString::number(pos)));
    }
    QCOMPARE(doc.positionAt(0, 99), 5);  // right of a wrapped row: the next row's start
    QCOMPARE(doc.positionAt(2, 99), 12); // right of a line's last row: its end
    QCOMPARE(doc.positionAt(-3, 2), 2);
    QCOMPARE(doc.positionAt(1000, 1), doc.size() - 1); // "ij" is the last row
}

void TestTextDocument::clearReleasesEverything() {
    TextDocument doc;
    doc.replace(0, 0, u"a\nb\nc");
    doc.clear();
    QCOMPARE(doc.size(), 0);
    QCOMPARE(doc.lineCount(), 1);
    QCOMPARE(doc.rowCount(), 1);
    doc.replace(0, 0, u"x\r");
    compareWithReference(doc, QStringLiteral("x\r"));
}

QTEST_APPLESS_MAIN(TestTextDocument)
#include "test_text_document.moc"
