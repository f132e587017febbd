#include "link/control/serial_settings.h"

#include "link/control/serial_error.h"
#include "protocol/boot_line.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace norvak {

namespace {

[[noreturn]] void reject(const QString& text, const QString& problem) {
    // The example is the link's own settings.
    const QString example =
        QString::number(protocol::baudRate) + QLatin1StringView(protocol::settingsAfterRate);
    throw SerialError(QStringLiteral("The line settings \"%1\" are not valid: %2. Write them as "
                                     "rate,parity,data bits,stop bits, e.g. %3.")
                          .arg(text, problem, example));
}

bool isDecimal(const QString& field) {
    return !field.isEmpty() &&
           std::all_of(field.cbegin(), field.cend(), [](QChar c) { return c.isDigit(); });
}

qint32 parseRate(const QString& text, const QString& field) {
    // QChar::isDigit also accepts non-ASCII digits; toLongLong then rejects them.
    bool ok = false;
    const qlonglong rate = isDecimal(field) ? field.toLongLong(&ok) : 0;
    if (!ok || rate <= 0 || rate > std::numeric_limits<qint32>::max()) {
        reject(text, QStringLiteral("the rate \"%1\" must be a positive whole number").arg(field));
    }
    return static_cast<qint32>(rate);
}

QSerialPort::Parity parseParity(const QString& text, const QString& field) {
    if (field.size() == 1) {
        switch (field.front().toLower().unicode()) {
        case u'n':
            return QSerialPort::NoParity;
        case u'e':
            return QSerialPort::EvenParity;
        case u'o':
            return QSerialPort::OddParity;
        case u'm':
            return QSerialPort::MarkParity;
        case u's':
            return QSerialPort::SpaceParity;
        default:
            break;
        }
    }
    reject(text, QStringLiteral("the parity \"%1\" must be one of n, e, o, m, s").arg(field));
}

QSerialPort::DataBits parseDataBits(const QString& text, const QString& field) {
    if (field == u"5") {
        return QSerialPort::Data5;
    }
    if (field == u"6") {
        return QSerialPort::Data6;
    }
    if (field == u"7") {
        return QSerialPort::Data7;
    }
    if (field == u"8") {
        return QSerialPort::Data8;
    }
    reject(text, QStringLiteral("the data bits \"%1\" must be 5, 6, 7 or 8").arg(field));
}

QSerialPort::StopBits parseStopBits(const QString& text, const QString& field) {
    if (field == u"1") {
        return QSerialPort::OneStop;
    }
    if (field == u"1.5") {
        return QSerialPort::OneAndHalfStop;
    }
    if (field == u"2") {
        return QSerialPort::TwoStop;
    }
    reject(text, QStringLiteral("the stop bits \"%1\" must be 1, 1.5 or 2").arg(field));
}

} // namespace

SerialSettings parseSerialSettings(const QString& text) {
    const QStringList fields = text.split(u',');
    if (fields.size() != 4) {
        reject(text, QStringLiteral("four fields separated by commas are needed, found %1")
                         .arg(fields.size()));
    }
    return SerialSettings{parseRate(text, fields[0]), parseParity(text, fields[1]),
                          parseDataBits(text, fields[2]), parseStopBits(text, fields[3])};
}

} // namespace norvak
