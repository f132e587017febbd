#include "tools/cli/port_list.h"

#include "link/control/line_watch.h"
#include "tools/cli/usb_adapter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace norvak::cli {

namespace {

QString hex4(quint16 value) {
    return QString::number(value, 16).rightJustified(4, QLatin1Char('0'));
}

QString orDash(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-") : text;
}

} // namespace

std::optional<int> portNumberFor(const QString& path, const PortCandidates& candidates,
                                 const std::function<bool(const QString&)>& exists) {
    static const QRegularExpression trailingDigits(QStringLiteral("(\\d+)$"));
    const QRegularExpressionMatch match = trailingDigits.match(path);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const int digits = match.captured(1).toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    // Linux numbers devices from 0 (port n is index n-1), Windows from 1 (COMn is port n).
    for (const int number : {digits + 1, digits}) {
        if (number < 1) {
            continue;
        }
        const QStringList tried = candidates(number);
        const auto first = std::find_if(tried.begin(), tried.end(), exists);
        if (first != tried.end() && *first == path) {
            return number;
        }
    }
    return std::nullopt;
}

std::vector<PortEntry> systemPorts() {
    const PortCandidates candidates = defaultPortCandidates();
    std::vector<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortEntry entry;
        // The name the serial control opens and --device takes: the device file, or COMn where
        // ports are no files (Qt's system location there is \\.\COMn, which no port number
        // maps to).
#ifdef Q_OS_WIN
        entry.path = info.portName();
#else
        entry.path = info.systemLocation();
#endif
        entry.number = portNumberFor(entry.path, candidates, line_watch::deviceExists);
        entry.description = info.description();
        entry.manufacturer = info.manufacturer();
        if (info.hasVendorIdentifier()) {
            entry.vendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            entry.productId = info.productIdentifier();
        }
        entry.serialNumber = info.serialNumber();
        ports.push_back(entry);
    }
    std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& a, const PortEntry& b) {
        if (a.number.has_value() != b.number.has_value()) {
            return a.number.has_value();
        }
        return a.number && a.number != b.number ? *a.number < *b.number : a.path < b.path;
    });
    return ports;
}

QString portsText(const std::vector<PortEntry>& ports) {
    if (ports.empty()) {
        return QStringLiteral("No serial ports found. Plug in the adapter and look again.\n");
    }
    QString text;
    for (const PortEntry& port : ports) {
        const QString usb =
            port.vendorId && port.productId
                ? QStringLiteral("%1:%2").arg(hex4(*port.vendorId), hex4(*port.productId))
                : QStringLiteral("-");
        const auto adapter = usbIdOf(port);
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
                    .arg(port.number ? QString::number(*port.number) : QStringLiteral("-"),
                         port.path, orDash(port.description), orDash(port.manufacturer), usb,
                         orDash(port.serialNumber),
                         adapter ? usbIdText(*adapter) : QStringLiteral("-"));
    }
    return QStringLiteral("port\tdevice\tdescription\tmanufacturer\tusb\tserial\t--usb\n") + text;
}

QByteArray portsJson(const std::vector<PortEntry>& ports) {
    QJsonArray array;
    for (const PortEntry& port : ports) {
        QJsonObject object;
        object[QStringLiteral("port")] = port.number ? QJsonValue(*port.number) : QJsonValue();
        object[QStringLiteral("device")] = port.path;
        object[QStringLiteral("description")] = port.description;
        object[QStringLiteral("manufacturer")] = port.manufacturer;
        object[QStringLiteral("vendorId")] =
            port.vendorId ? QJsonValue(hex4(*port.vendorId)) : QJsonValue();
        object[QStringLiteral("productId")] =
            port.productId ? QJsonValue(hex4(*port.productId)) : QJsonValue();
        object[QStringLiteral("serialNumber")] = port.serialNumber;
        const auto adapter = usbIdOf(port);
        object[QStringLiteral("usb")] = adapter ? QJsonValue(usbIdText(*adapter)) : QJsonValue();
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace norvak::cli
