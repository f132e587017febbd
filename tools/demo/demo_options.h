#pragma once

// The demo's command line. The flash programmer itself takes no options; only this demo does.

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace norvak::demo {

// Faults the simulated device can show, so that the program's error reports can be tried.
enum class DeviceFault {
    None,
    Silent,   // never answers: the restart countdown runs out
    DotsStop, // stops answering lines: the dot watchdog fires
    HangUp,   // hangs up in the middle of the file: the port is reported lost
};

struct DemoOptions {
    // Offscreen, clicks through a run by itself and exits with its result.
    bool unattended = false;
    int port = 4;           // the port box's start value
    QString firmware;       // empty: the sample firmware
    QString firmwareFolder; // empty: looked up next to the program
    std::chrono::seconds timeout{120};
    DeviceFault fault = DeviceFault::None;
    // The device runs in the demo's own process, behind the window's serial control, instead
    // of behind a pseudo-terminal; always so where the build has no pseudo-terminal device.
    bool inProcess = false;
    QString screenshotAtStart;
    QString screenshotDuringRun;

    // The demo clicks through a run itself when unattended or when it takes screenshots.
    [[nodiscard]] bool drivesRun() const {
        return unattended || !screenshotAtStart.isEmpty() || !screenshotDuringRun.isEmpty();
    }
};

struct ParsedOptions {
    std::optional<DemoOptions> options; // empty on an error or a request for help
    QString error;                      // why the command line was refused
    bool helpRequested = false;
};

// `arguments` includes the program name first. Without a display the demo runs unattended.
[[nodiscard]] ParsedOptions parseDemoOptions(const QStringList& arguments, bool displayAvailable);
[[nodiscard]] QString demoUsage();

} // namespace norvak::demo
