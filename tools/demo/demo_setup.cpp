#include "tools/demo/demo_setup.h"

#include "tools/unattended/port_route.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

#include <chrono>

namespace norvak::demo {

using namespace std::chrono_literals;

PortCandidates withSimulatedPort(int simulatedPort, const QString& devicePath,
                                 PortCandidates others) {
    return unattended::withDeviceAt(simulatedPort, devicePath, std::move(others));
}

QStringList firmwareFolderCandidates(const QString& applicationDir) {
    const QDir dir(applicationDir);
    return {QDir::cleanPath(dir.filePath(QStringLiteral("../share/norvak-flash/firmware"))),
            QDir::cleanPath(dir.filePath(QStringLiteral("firmware")))};
}

QString findFirmwareFolder(const QStringList& candidates) {
    for (const QString& folder : candidates) {
        if (QFileInfo(QDir(folder).filePath(sampleFirmwareName)).isFile()) {
            return folder;
        }
    }
    return {};
}

SimDeviceConfig demoDeviceConfig(DeviceFault fault) {
    SimDeviceConfig config;
    config.paced = true;
    // The operator has a moment to see the wake-ups go out before the device restarts.
    config.autoPowerCycleAfter = 400ms;
    config.programmingTime = 2ms;
    switch (fault) {
    case DeviceFault::None:
        break;
    case DeviceFault::Silent:
        config.silent = true;
        break;
    case DeviceFault::DotsStop:
        config.dotsStopAfterLine = 5;
        break;
    case DeviceFault::HangUp:
        config.hangUpAfterLine = 10;
        break;
    }
    return config;
}

QString banner(int port, const QString& devicePath, const QString& firmwareFolder) {
    return QStringLiteral("Norvak Flash Programmer demo\n"
                          "  Simulated device: port %1 (%2)\n"
                          "  Sample firmware:  %3\n")
        .arg(port)
        .arg(devicePath, firmwareFolder);
}

std::unique_ptr<QWidget> makeDeviceStatusWindow(int port, const QString& devicePath,
                                                const QString& firmwareFolder) {
    auto window = std::make_unique<QLabel>();
    window->setWindowTitle(QStringLiteral("Simulated device on port %1").arg(port));
    window->setTextInteractionFlags(Qt::TextSelectableByMouse);
    window->setMargin(12);
    window->setText(QStringLiteral("The simulated device answers on port %1 (%2).\n\n"
                                   "Sample firmware: %3\n\n"
                                   "Connect, browse to a sample file, press START PROGRAMMING:\n"
                                   "the device restarts into its boot program by itself.")
                        .arg(port)
                        .arg(devicePath, firmwareFolder));
    return window;
}

} // namespace norvak::demo
