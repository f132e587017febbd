#include "mainwindow/logbox/cell_glyphs.h"

#include <QGlyphRun>
#include <QPainter>

namespace norvak {

CellGlyphs::CellGlyphs(const QFont& font)
    : rawFont_(QRawFont::fromFont(font)) {
    if (!rawFont_.isValid()) {
        return; // every cell is drawn as text
    }
    for (char16_t c = u'!'; c < glyphs_.size(); ++c) {
        // Whatever the font does not have itself, or makes of more than one glyph, stays
        // with the text drawing and its fallback fonts.
        const QChar ch(c);
        if (rawFont_.supportsCharacter(ch)) {
            const QList<quint32> indexes = rawFont_.glyphIndexesForString(QString(ch));
            glyphs_[c] = indexes.size() == 1 ? indexes.front() : noGlyph;
        }
    }
}

qsizetype CellGlyphs::endOfTextRun(QStringView cells, qsizetype from) const {
    qsizetype end = from + 1;
    while (end < cells.size() && cells[end] != u' ' && glyphOf(cells[end].unicode()) == noGlyph) {
        ++end;
    }
    return end;
}

void CellGlyphs::draw(QPainter& painter, QStringView cells, qsizetype firstColumn, const Grid& grid,
                      const TextDrawer& drawAsText) const {
    QList<quint32> indexes;
    QList<QPointF> positions;
    const auto at = [&](qsizetype i) {
        return QPointF(grid.left + static_cast<qreal>(firstColumn + i) * grid.cellWidth,
                       grid.baseline);
    };
    qsizetype i = 0;
    while (i < cells.size()) {
        const char16_t c = cells[i].unicode();
        if (c == u' ') {
            ++i;
        } else if (const quint32 glyph = glyphOf(c); glyph != noGlyph) {
            indexes.append(glyph);
            positions.append(at(i));
            ++i;
        } else {
            const qsizetype end = endOfTextRun(cells, i);
            drawAsText(at(i), cells.sliced(i, end - i));
            i = end;
        }
    }
    drawGlyphs(painter, indexes, positions);
}

void CellGlyphs::drawGlyphs(QPainter& painter, const QList<quint32>& indexes,
                            const QList<QPointF>& positions) const {
    if (indexes.isEmpty()) {
        return;
    }
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

} // namespace norvak
