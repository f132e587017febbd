#include "tools/cli/shown_text.h"

namespace norvak::cli {

namespace {

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

QString escapedCode(char32_t c) {
    return QStringLiteral("\\x%1").arg(static_cast<uint>(c), 2, 16, QLatin1Char('0'));
}

// The length of the well-formed UTF-8 character at the start of `bytes`, 0 if there is none.
qsizetype utf8CharacterLength(QByteArrayView bytes) {
    const auto byte = [&bytes](qsizetype i) {
        return static_cast<unsigned char>(bytes[i]);
    };
    const unsigned char lead = byte(0);
    qsizetype length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    char32_t code = lead & (0x7F >> length);
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

} // namespace

QString withControlsEscaped(QStringView text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c.unicode())) {
            shown += escapedCode(c.unicode());
        } else {
            shown += c;
        }
    }
    return shown;
}

QString shownName(QByteArrayView bytes) {
    QString shown;
    while (!bytes.isEmpty()) {
        const qsizetype length = utf8CharacterLength(bytes);
        if (length == 0) {
            shown += escapedCode(static_cast<unsigned char>(bytes.front()));
            bytes = bytes.sliced(1);
            continue;
        }
        shown += withControlsEscaped(QString::fromUtf8(bytes.first(length)));
        bytes = bytes.sliced(length);
    }
    return shown;
}

} // namespace norvak::cli
