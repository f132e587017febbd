// The two texts the operator's side hands to the serial layer: the line settings
// ("57600,n,8,1") and the port box. Neither parser may crash; each must accept exactly what a
// plain reference accepts, with the same values, and what it accepts must read back the same.
//
// Input: [what and how the bytes become text][text bytes...]

#include "link/control/serial_control.h"
#include "link/control/serial_settings.h"
#include "link/serial_link.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

namespace {

using norvak::SerialError;
using norvak::SerialSettings;

[[noreturn]] void fail(const char* what, const QString& text) {
    std::fprintf(stderr, "%s: \"%s\"\n", what, qPrintable(text));
    __builtin_trap();
}

QString textFrom(std::uint8_t how, const std::uint8_t* data, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    switch (how % 3) {
    case 0:
        return QString::fromUtf8(chars, length);
    case 1:
        return QString::fromLatin1(chars, length);
    default: { // any UTF-16 code units, lone surrogates included
        QString units(length / 2, Qt::Uninitialized);
        std::memcpy(units.data(), data, static_cast<std::size_t>(units.size()) * 2);
        return units;
    }
    }
}

bool isAsciiDigits(const QString& field) {
    if (field.isEmpty()) {
        return false;
    }
    for (const QChar c : field) {
        if (c.unicode() < u'0' || c.unicode() > u'9') {
            return false;
        }
    }
    return true;
}

// A run of ASCII digits as a number, or nothing past `limit`.
std::optional<std::int64_t> decimal(QStringView digits, std::int64_t limit) {
    std::int64_t value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return value;
}

std::optional<SerialSettings> referenceSettings(const QString& text) {
    const QStringList fields = text.split(u',');
    if (fields.size() != 4 || !isAsciiDigits(fields[0])) {
        return std::nullopt;
    }
    SerialSettings settings;
    const auto rate = decimal(fields[0], std::numeric_limits<qint32>::max());
    if (!rate || *rate == 0) {
        return std::nullopt;
    }
    settings.baudRate = static_cast<qint32>(*rate);
    static const QString parities = QStringLiteral("neoms");
    static const QSerialPort::Parity parityValues[] = {
        QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity,
        QSerialPort::MarkParity, QSerialPort::SpaceParity};
    if (fields[1].size() != 1) {
        return std::nullopt;
    }
    char16_t letter = fields[1][0].unicode();
    if (letter >= u'A' && letter <= u'Z') {
        letter = static_cast<char16_t>(letter - u'A' + u'a');
    }
    const qsizetype parity = parities.indexOf(QChar(letter));
    if (parity < 0) {
        return std::nullopt;
    }
    settings.parity = parityValues[parity];
    const QString& data = fields[2];
    if (data.size() != 1 || data[0] < u'5' || data[0] > u'8') {
        return std::nullopt;
    }
    settings.dataBits = static_cast<QSerialPort::DataBits>(data[0].unicode() - u'0');
    if (fields[3] == u"1") {
        settings.stopBits = QSerialPort::OneStop;
    } else if (fields[3] == u"1.5") {
        settings.stopBits = QSerialPort::OneAndHalfStop;
    } else if (fields[3] == u"2") {
        settings.stopBits = QSerialPort::TwoStop;
    } else {
        return std::nullopt;
    }
    return settings;
}

QString canonical(const SerialSettings& settings) {
    const char* const parity = settings.parity == QSerialPort::NoParity     ? "n"
                               : settings.parity == QSerialPort::EvenParity ? "e"
                               : settings.parity == QSerialPort::OddParity  ? "o"
                               : settings.parity == QSerialPort::MarkParity ? "m"
                                                                            : "s";
    const char* const stop = settings.stopBits == QSerialPort::OneStop          ? "1"
                             : settings.stopBits == QSerialPort::OneAndHalfStop ? "1.5"
                                                                                : "2";
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baudRate)
        .arg(QLatin1StringView(parity))
        .arg(static_cast<int>(settings.dataBits))
        .arg(QLatin1StringView(stop));
}

void checkSettings(const QString& text) {
    std::optional<SerialSettings> parsed;
    try {
        parsed = norvak::parseSerialSettings(text);
    } catch (const SerialError& e) {
        if (e.description().isEmpty()) {
            fail("settings refused without a reason", text);
        }
    }
    const std::optional<SerialSettings> expected = referenceSettings(text);
    if (parsed.has_value() != expected.has_value()) {
        fail(parsed ? "settings accepted that the rule refuses"
                    : "settings refused that the rule "
                      "accepts",
             text);
    }
    if (!parsed) {
        return;
    }
    if (!(*parsed == *expected)) {
        fail("settings read differently", text);
    }
    if (!(norvak::parseSerialSettings(canonical(*parsed)) == *parsed)) {
        fail("settings do not read back the same", text);
    }
}

std::optional<std::int32_t> referencePort(const QString& text) {
    // Blanks around it, a decimal number in ASCII (sign, fraction, exponent), rounded to the
    // nearest whole number with halves to even, a 32-bit value.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].isSpace()) {
        ++first;
    }
    while (last > first && text[last - 1].isSpace()) {
        --last;
    }
    const QString number = text.mid(first, last - first);
    static const QRegularExpression form(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!form.match(number).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok) {
        return std::nullopt;
    }
    const double whole = std::nearbyint(value); // the default rounding: to nearest, ties to even
    if (whole < std::numeric_limits<std::int32_t>::min() ||
        whole > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(whole);
}

void checkPort(const QString& text) {
    std::optional<std::int32_t> parsed;
    try {
        parsed = norvak::parsePortText(text);
    } catch (const SerialError& e) {
        if (!e.description().contains(text)) {
            fail("a port text refused without naming it", text);
        }
    }
    const std::optional<std::int32_t> expected = referencePort(text);
    if (parsed != expected) {
        fail(parsed ? "port text read differently or wrongly accepted"
                    : "port text refused that "
                      "the rule accepts",
             text);
    }
    if (parsed && norvak::parsePortText(QString::number(*parsed)) != *parsed) {
        fail("port number does not read back the same", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const QString text = textFrom(data[0], data + 1, size - 1);
    if (data[0] % 2 == 0) {
        checkSettings(text);
    } else {
        checkPort(text);
    }
    return 0;
}
