// norvak-flash-demo: the Norvak Flash Programmer's own window with a simulated device behind
// one port number. Interactive with a display; without one (or with --unattended) it runs
// offscreen, clicks through one programming run and exits with its result. The device runs
// behind a pseudo-terminal, or with --in-process (always on Windows) in the demo's own process
// behind the window's serial control.

#include "tools/demo/demo_device.h"
#include "tools/demo/demo_options.h"
#include "tools/demo/demo_run.h"
#include "tools/demo/demo_setup.h"
#include "tools/demo/demo_toolkit.h"

#include "devicenotify/usb_notification.h"
#include "mainwindow/frmprog.h"
#include "mainwindow/termination_signals.h"

#include <QApplication>
#include <QDir>
#include <QPoint>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <system_error>

namespace {

using namespace norvak;
using namespace norvak::demo;
using namespace std::chrono_literals;

constexpr int setupFailed = 2;
// The device keeps all its traffic until asked; the demo has no use for it.
constexpr auto recordingTrimInterval = 60s;

bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QString chooseFirmwareFolder(const DemoOptions& options) {
    if (!options.firmwareFolder.isEmpty()) {
        return QDir(options.firmwareFolder).absolutePath();
    }
    return findFirmwareFolder(firmwareFolderCandidates(QCoreApplication::applicationDirPath()));
}

RunSettings runSettings(const DemoOptions& options, const QString& firmwareFolder) {
    RunSettings settings;
    settings.port = options.port;
    settings.firmware =
        QDir(firmwareFolder)
            .absoluteFilePath(options.firmware.isEmpty() ? sampleFirmwareName : options.firmware);
    settings.timeout = options.timeout;
    settings.screenshotAtStart = options.screenshotAtStart;
    settings.screenshotDuringRun = options.screenshotDuringRun;
    return settings;
}

int runDemo(QApplication& app, const DemoOptions& options, QTextStream& out, QTextStream& err) {
    const QString firmwareFolder = chooseFirmwareFolder(options);
    if (firmwareFolder.isEmpty()) {
        err << "The sample firmware was not found in: "
            << firmwareFolderCandidates(QCoreApplication::applicationDirPath()).join(", ")
            << "\nName its folder with --firmware-folder." << Qt::endl;
        if (options.drivesRun() && options.firmware.isEmpty()) {
            return setupFailed;
        }
    }

    std::unique_ptr<DemoDevice> device;
    try {
        device = options.inProcess ? makeInProcessDevice(demoDeviceConfig(options.fault))
                                   : makePseudoTerminalDevice(demoDeviceConfig(options.fault));
    } catch (const std::system_error& e) {
        err << "The simulated device could not start: " << e.what() << "\nTry --in-process."
            << Qt::endl;
        return setupFailed;
    }
    const QString devicePath = device->location();
    out << banner(options.port, devicePath, firmwareFolder) << Qt::flush;

    DemoToolkit toolkit(firmwareFolder);
    frmProg window(toolkit, device->makeSerialControl(toolkit, options.port),
                   devicenotify::nativeUsbPlatform());
    QObject::connect(&window, &frmProg::closed, &app, &QCoreApplication::quit);
    // SIGTERM, SIGHUP, SIGINT: the window closes as its close button closes it.
    const TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
    window.show();

    QTimer recordingTrim;
    QObject::connect(&recordingTrim, &QTimer::timeout, &recordingTrim,
                     [&device] { device->dropRecording(); });
    recordingTrim.start(recordingTrimInterval);

    if (!options.drivesRun()) {
        const auto status = makeDeviceStatusWindow(options.port, devicePath, firmwareFolder);
        status->move(window.frameGeometry().topRight() + QPoint(16, 0));
        status->show();
        return termination.exitStatus(QApplication::exec());
    }

    int exitCode = 1;
    DemoRun run(window, toolkit, runSettings(options, firmwareFolder), out);
    QObject::connect(&run, &DemoRun::finished, &window, [&exitCode, &window](int code) {
        exitCode = code;
        window.close();
    });
    run.start();
    QApplication::exec();
    return termination.exitStatus(exitCode);
}

} // namespace

int main(int argc, char* argv[]) {
    TerminationSignals::block();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const ParsedOptions parsed = parseDemoOptions(arguments, displayAvailable());
    if (parsed.helpRequested) {
        out << demoUsage() << Qt::flush;
        return 0;
    }
    if (!parsed.options) {
        err << parsed.error << "\nTry --help." << Qt::endl;
        return setupFailed;
    }
    const DemoOptions& options = *parsed.options;
    // Unattended runs need no display; a platform the caller chose still wins.
    if (options.unattended && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("norvak-flash-demo"));
    return runDemo(app, options, out, err);
}
