#pragma once

// What the log box's own source files share: how a character takes its cell, and the
// geometry around the cells. Not for use outside the log box.
#include <QChar>
#include <QtGlobal>

#include <algorithm>
#include <climits>

namespace norvak::logbox {

constexpr int textMargin = 3; // room for the caret left of column 0
constexpr int caretWidth = 2;

// Bytes the device sends may be control codes; they keep one cell each and are drawn as a
// hollow box so that the columns stay aligned and they differ from any printable character.
constexpr bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

constexpr char16_t displayed(char16_t c) {
    if (isControl(c)) {
        return u' ';
    }
    return c == 0xAD ? u'-' : c; // a soft hyphen would otherwise take no cell
}

inline bool isWordCharacter(char16_t c) {
    const QChar ch(c);
    return ch.isLetterOrNumber() || ch == u'_';
}

inline int toInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace norvak::logbox
