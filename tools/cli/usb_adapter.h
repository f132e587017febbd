#pragma once

// A port chosen by its USB adapter rather than by a number or a path, which drift when
// adapters are plugged in another order: `program --usb VID:PID[:SERIAL]`. The choice is made
// over a list of port descriptions, so that it does not need the adapters themselves.

#include "tools/cli/port_list.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace norvak::cli {

struct UsbId {
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serialNumber; // empty: any adapter of this vendor and product

    friend bool operator==(const UsbId&, const UsbId&) = default;
};

struct ParsedUsbId {
    std::optional<UsbId> id; // empty when refused
    QString error;           // why, with what to give instead
};

// VID:PID or VID:PID:SERIAL: four hex digits each, either case, and a serial number that is
// not empty; everything after the second ':' is the serial number, compared exactly.
[[nodiscard]] ParsedUsbId parseUsbId(const QString& text);

// "10c4:ea60:0001", or "10c4:ea60" when there is no serial number: what --usb takes.
[[nodiscard]] QString usbIdText(const UsbId& id);

// The port's adapter as --usb names it; none for a port without USB ids (a built-in UART, a
// pseudo-terminal).
[[nodiscard]] std::optional<UsbId> usbIdOf(const PortEntry& port);

// Whether the port's adapter is the one `id` names.
[[nodiscard]] bool adapterMatches(const UsbId& id, const PortEntry& port);

// The port `id` chooses, or why none is chosen with the ports to choose from.
struct AdapterChoice {
    std::optional<PortEntry> port; // exactly one adapter matched
    QString refusal;               // one line: "no adapter matches --usb ...", ...
    QString candidatesHeading;     // what the candidates are
    QStringList candidates;        // one line per port, for the operator to pick from
    QString advice;                // what to give instead
};

[[nodiscard]] AdapterChoice chooseAdapter(const UsbId& id, const std::vector<PortEntry>& ports);

} // namespace norvak::cli
