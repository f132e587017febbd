#pragma once

#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QStringView>

#include <array>
#include <functional>

class QPainter;

namespace norvak {

// Draws a row of cells of the log box's fixed-pitch font without laying the text out each
// time: a paint after every received character would otherwise shape its text anew, which
// costs more than the rest of the paint together. Characters of Latin-1 that the font has go
// straight to their glyphs, one per cell; all others are drawn as text, so the font's
// fallback still finds them.
class CellGlyphs {
public:
    explicit CellGlyphs(const QFont& font);

    struct Grid {
        qreal left = 0;      // x of column 0
        qreal cellWidth = 1; // x of column c: left + c * cellWidth
        qreal baseline = 0;
    };
    // Draws `cells`, the first of them in column `firstColumn` of `grid`. Blanks draw nothing.
    // `drawAsText` gets each run of cells the table has no glyph for, with the position of
    // the first of them.
    using TextDrawer = std::function<void(QPointF at, QStringView text)>;
    void draw(QPainter& painter, QStringView cells, qsizetype firstColumn, const Grid& grid,
              const TextDrawer& drawAsText) const;

private:
    static constexpr quint32 noGlyph = 0;
    // Where the run of cells without a glyph that begins at `from` ends (a blank ends it).
    [[nodiscard]] qsizetype endOfTextRun(QStringView cells, qsizetype from) const;
    // One run for all glyphs of a row part: one call into the paint engine.
    void drawGlyphs(QPainter& painter, const QList<quint32>& indexes,
                    const QList<QPointF>& positions) const;
    [[nodiscard]] quint32 glyphOf(char16_t c) const {
        return c < glyphs_.size() ? glyphs_[c] : noGlyph;
    }

    QRawFont rawFont_;
    std::array<quint32, 256> glyphs_{};
};

} // namespace norvak
