// Pacing of the file stream, measured at the simulated device (57600 baud, a "." per line):
// from the arrival of the first byte of the first line to the arrival of the last line's LF,
// against the nominal lines x pause, at the fastest and the slowest speed item; and against
// ascii-xfr -s -l 20 sending the same file to the same kind of device.

#include "bench_report.h"
#include "bench_rig.h"
#include "firmware_files.h"
#include "recording_analysis.h"
#include "simdevice.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr auto pauseStep = 20ms;
constexpr double goalRatio = 1.01;

struct Measured {
    std::optional<StreamSpan> span;
    std::size_t expectedLines = 0;
    ToolkitTimes times; // the program's runs only

    [[nodiscard]] bool complete() const { return span && span->lineFeeds == expectedLines; }
    [[nodiscard]] double seconds() const { return complete() ? span->duration.count() : nan; }
};

// A whole programming run at speed item `item`, from START to the device's last dot.
Measured programmerRun(const QString& file, std::size_t lines, int item) {
    SimDeviceConfig config;
    config.autoPowerCycleAfter = 300ms;
    SimDevice device(config);
    ProgrammerRig rig(QString::fromStdString(device.slavePath()));
    rig.setSpeedItem(item);
    rig.connectPort();
    rig.chooseFile(file);
    rig.start();
    const auto nominal = pauseStep * (item + 1) * static_cast<long>(lines);
    frmProg& window = rig.window();
    // The check is cheap on purpose: it runs between the lines being measured.
    const bool ended = runEventsUntil(
        [&window] {
            return window.members.flashState == FlashState::Idle && !window.streamer().isRunning();
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(nominal * 2) + 30s, 500ms);
    if (!ended)
        printNote("the run did not end in time: " + window.windowTitle().toStdString());
    const SimRecording recording = device.recording();
    if (recording.programmedFiles.empty())
        printNote("the device did not report the file programmed: " +
                  window.windowTitle().toStdString());
    const std::size_t ready = recording.received.find('f');
    Measured measured;
    measured.expectedLines = lines;
    measured.times = rig.toolkit().times;
    if (ready != std::string::npos)
        measured.span = streamSpan(recording, ready + 1);
    return measured;
}

// ascii-xfr sends the file on its stdout, redirected by the shell to the device's tty.
Measured asciiXfrRun(const QString& program, const QString& file, std::size_t lines) {
    SimDevice device; // never powered on: it only records
    QProcess xfr;
    xfr.setProgram(QStringLiteral("/bin/sh"));
    xfr.setArguments({QStringLiteral("-c"), QStringLiteral("exec \"$0\" -s -l 20 \"$1\" > \"$2\""),
                      program, file, QString::fromStdString(device.slavePath())});
    xfr.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xfr.start();
    const auto timeout = pauseStep * static_cast<long>(lines) * 2 + 30s;
    if (!xfr.waitForFinished(static_cast<int>(timeout.count())) ||
        xfr.exitStatus() != QProcess::NormalExit || xfr.exitCode() != 0) {
        printNote("ascii-xfr failed: " + xfr.errorString().toStdString());
        xfr.kill();
        xfr.waitForFinished();
    }
    // What ascii-xfr wrote last is still on its way through the paced line.
    device.waitFor(
        [lines](const SimRecording& r) {
            return static_cast<std::size_t>(
                       std::count(r.received.begin(), r.received.end(), '\n')) >= lines;
        },
        10s);
    Measured measured;
    measured.span = streamSpan(device.recording(), 0);
    measured.expectedLines = lines;
    return measured;
}

void reportRun(const std::string& name, const Measured& run, std::size_t lines, int item) {
    const double nominal =
        std::chrono::duration<double>(pauseStep * (item + 1)).count() * static_cast<double>(lines);
    if (!run.complete())
        printNote(name + ": " + (run.span ? std::to_string(run.span->lineFeeds) : "no") + " of " +
                  std::to_string(lines) + " lines arrived");
    printFigure(name + ": time at the device / nominal", run.seconds() / nominal, "x",
                atMost(goalRatio));
    printInfo(name + ": time at the device", run.seconds(), "s");
    printInfo(name + ": beyond the pause, per line",
              (run.seconds() - nominal) / static_cast<double>(lines) * 1000.0, "ms");
    if (run.times.sleeps == 0)
        return;
    const auto perLine = [lines](std::chrono::nanoseconds total) {
        return std::chrono::duration<double, std::milli>(total).count() /
               static_cast<double>(lines);
    };
    printInfo(name + ": late wake-ups from sleep, per line",
              perLine(run.times.late), "ms");
    printInfo(name + ": yields to the event loop, per line", perLine(run.times.yielding), "ms");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const std::size_t fastLines = options.quick ? 500 : 5000;
    const std::size_t slowLines = options.quick ? 200 : 1000;

    const QTemporaryDir dir;
    const QString fastFile = dir.filePath(QStringLiteral("fast.srec"));
    const QString slowFile = dir.filePath(QStringLiteral("slow.srec"));
    writeSrecLines(fastFile, static_cast<qint64>(fastLines));
    writeSrecLines(slowFile, static_cast<qint64>(slowLines));

    printHeader();
    const std::string fastName =
        "Pacing, " + std::to_string(fastLines) + " lines at item 0 (20 ms)";
    const std::string slowName =
        "Pacing, " + std::to_string(slowLines) + " lines at item 4 (100 ms)";

    const QString xfrProgram = QStandardPaths::findExecutable(QStringLiteral("ascii-xfr"));
    Measured xfr;
    if (xfrProgram.isEmpty())
        printNote("ascii-xfr not found (Debian package minicom): no comparison");
    else
        xfr = asciiXfrRun(xfrProgram, fastFile, fastLines);

    const Measured fast = programmerRun(fastFile, fastLines, 0);
    reportRun(fastName, fast, fastLines, 0);
    printFigure(fastName + ": our time / ascii-xfr's", fast.seconds() / xfr.seconds(), "x",
                atMost(1.0));
    printInfo("ascii-xfr -s -l 20, " + std::to_string(fastLines) + " lines: time at the device",
              xfr.seconds(), "s");

    const Measured slow = programmerRun(slowFile, slowLines, 4);
    reportRun(slowName, slow, slowLines, 4);
    return 0;
}
