#include "tools/cli/usb_adapter.h"

#include <algorithm>
#include <iterator>

namespace norvak::cli {

namespace {

constexpr qsizetype idDigits = 4;

constexpr QLatin1StringView
    formHint("Give VID:PID or VID:PID:SERIAL as 'norvak-flash-cli ports' shows them, e.g. --usb "
             "10c4:ea60 or --usb 10c4:ea60:0001.");

bool isAsciiHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

// Four hex digits, read as a USB id; none for anything else.
std::optional<quint16> hexId(QStringView text) {
    if (text.size() != idDigits || !std::all_of(text.begin(), text.end(), isAsciiHexDigit)) {
        return std::nullopt;
    }
    bool ok = false;
    const quint16 value = text.toUShort(&ok, 16);
    return ok ? std::optional<quint16>(value) : std::nullopt;
}

QString hex4(quint16 value) {
    return QString::number(value, 16).rightJustified(idDigits, QLatin1Char('0'));
}

ParsedUsbId refused(const QString& why) {
    return {std::nullopt, QStringLiteral("--usb: %1 %2").arg(why, formHint)};
}

// A USB adapter as a candidate:
// "/dev/ttyUSB0  10c4:ea60  serial 0001  CP2102 USB to UART Bridge Controller (Silicon Labs)"
QString candidateLine(const PortEntry& port) {
    const UsbId adapter = usbIdOf(port).value_or(UsbId{});
    QStringList parts{port.path, usbIdText({adapter.vendorId, adapter.productId, {}})};
    parts << (port.serialNumber.isEmpty() ? QStringLiteral("no serial number")
                                          : QStringLiteral("serial ") + port.serialNumber);
    QString about = port.description;
    if (!port.manufacturer.isEmpty()) {
        about +=
            about.isEmpty() ? port.manufacturer : QStringLiteral(" (%1)").arg(port.manufacturer);
    }
    if (!about.isEmpty()) {
        parts << about;
    }
    return parts.join(QStringLiteral("  "));
}

QStringList candidateLines(const std::vector<PortEntry>& ports) {
    QStringList lines;
    for (const PortEntry& port : ports) {
        lines << candidateLine(port);
    }
    return lines;
}

AdapterChoice noneMatches(const UsbId& id, const std::vector<PortEntry>& ports) {
    std::vector<PortEntry> adapters;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(adapters),
                 [](const PortEntry& port) { return usbIdOf(port).has_value(); });
    AdapterChoice choice;
    choice.refusal = QStringLiteral("no adapter matches --usb %1").arg(usbIdText(id));
    choice.candidatesHeading = QStringLiteral("USB serial adapters here:");
    choice.candidates = candidateLines(adapters);
    choice.advice =
        adapters.empty()
            ? QStringLiteral("the system knows no USB serial adapter: plug it in, then "
                             "'norvak-flash-cli ports' shows what to give to --usb. A port "
                             "without USB ids (a built-in UART, a pseudo-terminal) is reached "
                             "with --port or --device.")
            : QStringLiteral("give one of the USB serial adapters above as 'norvak-flash-cli "
                             "ports' shows it in its --usb column.");
    return choice;
}

// The serial numbers that single out one of `matching`.
QStringList distinctSerials(const std::vector<PortEntry>& matching) {
    QStringList serials;
    for (const PortEntry& port : matching) {
        const auto same = [&port](const PortEntry& other) {
            return other.serialNumber == port.serialNumber;
        };
        if (!port.serialNumber.isEmpty() &&
            std::count_if(matching.begin(), matching.end(), same) == 1) {
            serials << port.serialNumber;
        }
    }
    return serials;
}

AdapterChoice severalMatch(const UsbId& id, const std::vector<PortEntry>& matching) {
    AdapterChoice choice;
    choice.refusal = QStringLiteral("%1 adapters match --usb %2, not one")
                         .arg(matching.size())
                         .arg(usbIdText(id));
    choice.candidatesHeading = QStringLiteral("adapters that match:");
    choice.candidates = candidateLines(matching);
    const QStringList serials = distinctSerials(matching);
    if (id.serialNumber.isEmpty() && !serials.isEmpty()) {
        const UsbId example{id.vendorId, id.productId, serials.first()};
        choice.advice = QStringLiteral("add the serial number to choose one, e.g. --usb %1.")
                            .arg(usbIdText(example));
    } else {
        choice.advice = QStringLiteral(
            "their serial numbers do not tell them apart: give the port with --device instead "
            "(on Linux a /dev/serial/by-path/ link stays with the USB socket).");
    }
    return choice;
}

} // namespace

ParsedUsbId parseUsbId(const QString& text) {
    const qsizetype firstColon = text.indexOf(QLatin1Char(':'));
    if (firstColon < 0) {
        return refused(QStringLiteral("\"%1\" has no product id after a ':'.").arg(text));
    }
    const qsizetype secondColon = text.indexOf(QLatin1Char(':'), firstColon + 1);
    const QStringView vendorText = QStringView(text).left(firstColon);
    const QStringView productText =
        secondColon < 0 ? QStringView(text).mid(firstColon + 1)
                        : QStringView(text).mid(firstColon + 1, secondColon - firstColon - 1);
    const auto vendorId = hexId(vendorText);
    if (!vendorId) {
        return refused(QStringLiteral("the vendor id \"%1\" is not 4 hex digits.").arg(vendorText));
    }
    const auto productId = hexId(productText);
    if (!productId) {
        return refused(
            QStringLiteral("the product id \"%1\" is not 4 hex digits.").arg(productText));
    }
    UsbId id{*vendorId, *productId, {}};
    if (secondColon >= 0) {
        id.serialNumber = text.mid(secondColon + 1);
        if (id.serialNumber.isEmpty()) {
            return refused(QStringLiteral("the serial number after \"%1\" is empty.")
                               .arg(text.left(secondColon + 1)));
        }
    }
    return {id, {}};
}

QString usbIdText(const UsbId& id) {
    const QString ids = QStringLiteral("%1:%2").arg(hex4(id.vendorId), hex4(id.productId));
    return id.serialNumber.isEmpty() ? ids : ids + QLatin1Char(':') + id.serialNumber;
}

std::optional<UsbId> usbIdOf(const PortEntry& port) {
    if (!port.vendorId || !port.productId) {
        return std::nullopt;
    }
    return UsbId{*port.vendorId, *port.productId, port.serialNumber};
}

bool adapterMatches(const UsbId& id, const PortEntry& port) {
    const auto adapter = usbIdOf(port);
    return adapter && adapter->vendorId == id.vendorId && adapter->productId == id.productId &&
           (id.serialNumber.isEmpty() || adapter->serialNumber == id.serialNumber);
}

AdapterChoice chooseAdapter(const UsbId& id, const std::vector<PortEntry>& ports) {
    std::vector<PortEntry> matching;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(matching),
                 [&id](const PortEntry& port) { return adapterMatches(id, port); });
    if (matching.empty()) {
        return noneMatches(id, ports);
    }
    if (matching.size() > 1) {
        return severalMatch(id, matching);
    }
    AdapterChoice choice;
    choice.port = matching.front();
    return choice;
}

} // namespace norvak::cli
