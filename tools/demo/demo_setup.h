#pragma once

// What the demo puts around the flash programmer's window: the simulated device, the port
// number that reaches it, and where the sample firmware lies.

#include "link/control/port_mapping.h"
#include "tools/demo/demo_options.h"
#include "tools/simdevice/sim_types.h"

#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

namespace norvak::demo {

inline const QString sampleFirmwareName = QStringLiteral("sample-crlf.srec");

// Port `simulatedPort` opens `devicePath`; every other number maps as `others` maps it.
[[nodiscard]] PortCandidates withSimulatedPort(int simulatedPort, const QString& devicePath,
                                               PortCandidates others = defaultPortCandidates());

// Where the sample firmware may lie, most likely first: installed beside the program
// (<prefix>/bin -> <prefix>/share/norvak-flash/firmware), then next to it in the build tree.
[[nodiscard]] QStringList firmwareFolderCandidates(const QString& applicationDir);

// The first folder that holds the sample firmware, or an empty text.
[[nodiscard]] QString findFirmwareFolder(const QStringList& candidates);

// A device with a boot program that starts shortly after the first wake-up, at line pace.
[[nodiscard]] SimDeviceConfig demoDeviceConfig(DeviceFault fault);

// A small window of its own that tells which port reaches the simulated device and where
// the sample firmware lies; the flash programmer's window stays as it is.
[[nodiscard]] std::unique_ptr<QWidget> makeDeviceStatusWindow(int port, const QString& devicePath,
                                                              const QString& firmwareFolder);

// The lines the demo prints when it starts.
[[nodiscard]] QString banner(int port, const QString& devicePath, const QString& firmwareFolder);

} // namespace norvak::demo
