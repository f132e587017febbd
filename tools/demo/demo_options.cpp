#include "tools/demo/demo_options.h"

#include "tools/demo/demo_device.h"

#include <QCommandLineParser>

#include <array>
#include <utility>

namespace norvak::demo {

namespace {

constexpr int maxTimeoutSeconds = 24 * 60 * 60;

const std::array<std::pair<const char*, DeviceFault>, 4> faultNames = {{
    {"none", DeviceFault::None},
    {"silent", DeviceFault::Silent},
    {"dots-stop", DeviceFault::DotsStop},
    {"hang-up", DeviceFault::HangUp},
}};

std::optional<DeviceFault> parseFault(const QString& text) {
    for (const auto& [name, fault] : faultNames) {
        if (text == QLatin1StringView(name)) {
            return fault;
        }
    }
    return std::nullopt;
}

std::optional<int> parseWholeNumber(const QString& text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption unattended{QStringLiteral("unattended"),
                                  QStringLiteral("Offscreen: connect, choose the firmware, start, "
                                                 "print the captions and exit with the result "
                                                 "(automatic without a display).")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("Port number that reaches the simulated device "
                                           "(default 4, the port box's start value)."),
                            QStringLiteral("n"), QStringLiteral("4")};
    QCommandLineOption firmware{QStringLiteral("firmware"),
                                QStringLiteral("S-record file for the unattended run (default: "
                                               "sample-crlf.srec in the firmware folder)."),
                                QStringLiteral("file")};
    QCommandLineOption firmwareFolder{QStringLiteral("firmware-folder"),
                                      QStringLiteral("Folder of the sample firmware."),
                                      QStringLiteral("dir")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("Seconds an unattended run may take (default 120)."),
                               QStringLiteral("s"), QStringLiteral("120")};
    QCommandLineOption fault{QStringLiteral("device-fault"),
                             QStringLiteral("Fault of the simulated device: none, silent, "
                                            "dots-stop or hang-up."),
                             QStringLiteral("fault"), QStringLiteral("none")};
    QCommandLineOption inProcess{
        QStringLiteral("in-process"),
        QStringLiteral("Run the simulated device inside the demo, behind the window's serial "
                       "control, instead of behind a pseudo-terminal (always so on Windows).")};
    QCommandLineOption atStart{QStringLiteral("screenshot-at-start"),
                               QStringLiteral("Save the window, connected and with the firmware "
                                              "chosen, just before START to this PNG file."),
                               QStringLiteral("png")};
    QCommandLineOption duringRun{QStringLiteral("screenshot-during-run"),
                                 QStringLiteral("Save the window in the middle of the run to this "
                                                "PNG file."),
                                 QStringLiteral("png")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};

    Parser() {
        parser.setApplicationDescription(
            QStringLiteral("The Norvak Flash Programmer with a simulated device behind a port "
                           "number, for trying it without hardware."));
        parser.addOptions({unattended, port, firmware, firmwareFolder, timeout, fault, inProcess,
                           atStart, duringRun, help});
    }
};

} // namespace

ParsedOptions parseDemoOptions(const QStringList& arguments, bool displayAvailable) {
    Parser p;
    ParsedOptions result;
    if (!p.parser.parse(arguments)) {
        result.error = p.parser.errorText();
        return result;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        result.error =
            QStringLiteral("Unexpected argument: %1").arg(p.parser.positionalArguments().first());
        return result;
    }
    if (p.parser.isSet(p.help)) {
        result.helpRequested = true;
        return result;
    }

    DemoOptions options;
    options.unattended = p.parser.isSet(p.unattended) || !displayAvailable;
    const auto port = parseWholeNumber(p.parser.value(p.port), 1, 255);
    if (!port) {
        result.error = QStringLiteral("--port: \"%1\" is not a port number from 1 to 255.")
                           .arg(p.parser.value(p.port));
        return result;
    }
    options.port = *port;
    const auto seconds = parseWholeNumber(p.parser.value(p.timeout), 1, maxTimeoutSeconds);
    if (!seconds) {
        result.error = QStringLiteral("--timeout: \"%1\" is not a number of seconds from 1 to %2.")
                           .arg(p.parser.value(p.timeout))
                           .arg(maxTimeoutSeconds);
        return result;
    }
    options.timeout = std::chrono::seconds(*seconds);
    const auto fault = parseFault(p.parser.value(p.fault));
    if (!fault) {
        result.error =
            QStringLiteral("--device-fault: \"%1\" is none of none, silent, dots-stop, hang-up.")
                .arg(p.parser.value(p.fault));
        return result;
    }
    options.fault = *fault;
    options.inProcess = p.parser.isSet(p.inProcess) || !pseudoTerminalDeviceBuilt;
    options.firmware = p.parser.value(p.firmware);
    options.firmwareFolder = p.parser.value(p.firmwareFolder);
    options.screenshotAtStart = p.parser.value(p.atStart);
    options.screenshotDuringRun = p.parser.value(p.duringRun);
    result.options = options;
    return result;
}

QString demoUsage() {
    Parser p;
    // The parser names the program only once an application object exists.
    return p.parser.helpText().replace(QStringLiteral("<executable_name>"),
                                       QStringLiteral("norvak-flash-demo")) +
           QStringLiteral("\nExit status: 0 programmed, 1 the run failed, 2 bad options or "
                          "setup, 3 no result in time.\n");
}

} // namespace norvak::demo
