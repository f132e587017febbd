// Pacing of the file stream, measured at the simulated device: for every speed item, the gap
// the device sees from each line's LF to the next line (minimum, 1st percentile, median, 99th
// percentile, maximum), the time from the first line's first byte to the last line's LF against
// the nominal lines x pause, and that time against ascii-xfr -s -l <pause> sending the same
// file to the same kind of device in the same run; then the shortest gap again with an
// artificial handler that keeps the interface thread busy for 5 ms every few yields.
//
// The device's line is not paced (a byte arrives as it is written), so that a gap is the
// program's pause and not the transmission of the line; the pseudo-terminal adds its own jitter
// of a few tenths of a millisecond to each arrival, and far more on a loaded machine, where the
// device's reading thread waits for a core. The program's own gaps are therefore also taken
// where it hands each piece to the serial control: from the return of a line's LF to the call
// that writes the next line. That figure has no jitter allowance.
//
// The simulated device polls its line without sleeping, for our runs and ascii-xfr's alike, so
// that no byte waits for its thread to be woken; --device-sleeps measures with a device that
// sleeps until bytes arrive.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/firmware_files.h"
#include "bench/support/recording_analysis.h"
#include "tools/simdevice/simdevice.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr auto pauseStep = 20ms;
constexpr double goalRatio = 1.01;
constexpr double ptyJitterMs = 0.3;

struct Measured {
    std::optional<StreamSpan> span;
    std::vector<double> gapsMs;
    std::vector<double> spansMs;
    std::vector<double> hostGapsMs;  // the program's runs only
    std::vector<double> hostSpansMs; // the program's runs only
    std::vector<double> lfDelaysMs;  // the program's runs only
    std::size_t expectedLines = 0;
    ToolkitTimes times; // the program's runs only

    [[nodiscard]] bool complete() const { return span && span->lineFeeds == expectedLines; }
    [[nodiscard]] double seconds() const { return complete() ? span->duration.count() : nan; }
};

Measured measure(const SimRecording& recording, std::size_t from, std::size_t lines) {
    Measured measured;
    measured.expectedLines = lines;
    measured.span = streamSpan(recording, from);
    for (const Millis gap : lineGaps(recording, from)) {
        measured.gapsMs.push_back(gap.count());
    }
    for (const Millis span : lineSpans(recording, from)) {
        measured.spansMs.push_back(span.count());
    }
    // The last LF is followed by nothing of the file; anything after it is no line gap.
    if (measured.gapsMs.size() >= lines) {
        measured.gapsMs.resize(lines - 1);
    }
    return measured;
}

SimDeviceConfig recordingDevice(bool sleeps) {
    SimDeviceConfig config;
    config.paced = false;
    config.busyPoll = !sleeps;
    return config;
}

struct Load {
    int every = 0;
    std::chrono::microseconds busy{0};
};

// A whole programming run at speed item `item`, from START to the device's last dot.
Measured programmerRun(const QString& file, std::size_t lines, int item, bool deviceSleeps,
                       Load load = {}) {
    SimDeviceConfig config = recordingDevice(deviceSleeps);
    config.autoPowerCycleAfter = 300ms;
    SimDevice device(config);
    ProgrammerRig rig(QString::fromStdString(device.slavePath()));
    rig.setSpeedItem(item);
    rig.connectPort();
    rig.chooseFile(file);
    rig.toolkit().loadEvery = load.every;
    rig.toolkit().loadFor = load.busy;
    rig.start();
    const auto nominal = pauseStep * (item + 1) * static_cast<long>(lines);
    frmProg& window = rig.window();
    // The check is cheap on purpose: it runs between the lines being measured.
    const bool ended = runEventsUntil(
        [&window] {
            return window.shared().flashState == FlashState::Idle && !window.isStreaming();
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(nominal * 2) + 30s, 500ms);
    if (!ended) {
        printNote("the run did not end in time: " + window.windowTitle().toStdString());
    }
    const SimRecording recording = device.recording();
    if (recording.programmedFiles.empty()) {
        printNote("the device did not report the file programmed: " +
                  window.windowTitle().toStdString());
    }
    const std::size_t ready = recording.received.find('f');
    if (ready == std::string::npos) {
        return {};
    }
    Measured measured = measure(recording, ready + 1, lines);
    measured.times = rig.toolkit().times;
    // The wake-up characters before the file are single Output calls too; only gaps that
    // follow a line's LF count.
    measured.hostGapsMs = hostLineGaps(rig.outputCalls());
    measured.hostSpansMs = hostLineSpans(rig.outputCalls());
    measured.lfDelaysMs = lineFeedDelays(rig.outputCalls(), recording, ready + 1);
    return measured;
}

// ascii-xfr sends the file on its stdout, redirected by the shell to the device's tty.
Measured asciiXfrRun(const QString& program, const QString& file, std::size_t lines, int pauseMs,
                     bool deviceSleeps) {
    SimDevice device(recordingDevice(deviceSleeps)); // never powered on: it only records
    QProcess xfr;
    xfr.setProgram(QStringLiteral("/bin/sh"));
    xfr.setArguments({QStringLiteral("-c"),
                      QStringLiteral("exec \"$0\" -s -l \"$1\" \"$2\" > \"$3\""), program,
                      QString::number(pauseMs), file, QString::fromStdString(device.slavePath())});
    xfr.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xfr.start();
    const auto timeout = std::chrono::milliseconds(pauseMs) * static_cast<long>(lines) * 2 + 30s;
    if (!xfr.waitForFinished(static_cast<int>(timeout.count())) ||
        xfr.exitStatus() != QProcess::NormalExit || xfr.exitCode() != 0) {
        printNote("ascii-xfr failed: " + xfr.errorString().toStdString());
        xfr.kill();
        xfr.waitForFinished();
    }
    device.waitFor(
        [lines](const SimRecording& r) {
            return static_cast<std::size_t>(
                       std::count(r.received.begin(), r.received.end(), '\n')) >= lines;
        },
        10s);
    return measure(device.recording(), 0, lines);
}

std::string itemName(int item) {
    return "item " + std::to_string(item) + " (" + std::to_string((item + 1) * 20) + " ms)";
}

double mean(const std::vector<double>& values) {
    return values.empty() ? nan
                          : std::accumulate(values.begin(), values.end(), 0.0) /
                                static_cast<double>(values.size());
}

// Where the program hands each piece to the serial control, without the line's jitter.
void reportProgramGaps(const std::string& name, const Measured& run, double pause) {
    const Distribution program = distribution(run.hostGapsMs);
    printFigure(name + ": shortest gap in the program, LF written to next line", program.min, "ms",
                atLeast(pause));
    // What the program itself adds to the pause.
    printInfo(name + ": gap in the program, median", program.median, "ms");
    printInfo(name + ": gap in the program, mean", mean(run.hostGapsMs), "ms");
    printInfo(name + ": line in the program, first write to its LF written, mean",
              mean(run.hostSpansMs), "ms");
}

// What shortens a gap at the device below the program's: the LF read late.
void reportLineFeedDelays(const std::string& name, const Measured& run) {
    const Distribution delays = distribution(run.lfDelaysMs);
    const std::string figure = name + ": LF at the device after its write returned, ";
    printInfo(figure + "median", delays.median, "ms");
    printInfo(figure + "99th percentile", delays.p99, "ms");
    printInfo(figure + "longest", delays.max, "ms");
}

void reportDeviceGaps(const std::string& name, const Measured& run, double pause) {
    const Distribution gaps = distribution(run.gapsMs);
    printFigure(name + ": shortest gap at the device", gaps.min, "ms",
                atLeast(pause - ptyJitterMs));
    printInfo(name + ": gap, 1st percentile", gaps.p1, "ms");
    printInfo(name + ": gap, median", gaps.median, "ms");
    printInfo(name + ": gap, 99th percentile", gaps.p99, "ms");
    printInfo(name + ": gap, longest", gaps.max, "ms");
    // How rare the short gaps are: a handful of late reads, or a pause the device did not get.
    const auto shortGaps = std::count_if(run.gapsMs.begin(), run.gapsMs.end(),
                                         [&](double gap) { return gap < pause - ptyJitterMs; });
    printInfo(name + ": gaps shorter than the pause less the jitter, of " +
                  std::to_string(run.gapsMs.size()),
              static_cast<double>(shortGaps), "gaps");
}

void reportGaps(const std::string& name, const Measured& run, int item) {
    const double pause = std::chrono::duration<double, std::milli>(pauseStep * (item + 1)).count();
    if (!run.hostGapsMs.empty()) {
        reportProgramGaps(name, run, pause);
    }
    printInfo(name + ": line at the device, first byte to its LF, mean", mean(run.spansMs), "ms");
    if (!run.lfDelaysMs.empty()) {
        reportLineFeedDelays(name, run);
    }
    reportDeviceGaps(name, run, pause);
}

void reportRun(const std::string& name, const Measured& run, std::size_t lines, int item) {
    const double nominal =
        std::chrono::duration<double>(pauseStep * (item + 1)).count() * static_cast<double>(lines);
    if (!run.complete()) {
        printNote(name + ": " + (run.span ? std::to_string(run.span->lineFeeds) : "no") + " of " +
                  std::to_string(lines) + " lines arrived");
    }
    reportGaps(name, run, item);
    printFigure(name + ": time at the device / nominal", run.seconds() / nominal, "x",
                atMost(goalRatio));
    printInfo(name + ": beyond the pause, per line",
              (run.seconds() - nominal) / static_cast<double>(lines) * 1000.0, "ms");
    if (run.times.sleeps == 0) {
        return;
    }
    const auto perLine = [lines](std::chrono::nanoseconds total) {
        return std::chrono::duration<double, std::milli>(total).count() /
               static_cast<double>(lines);
    };
    printInfo(name + ": late wake-ups from sleep, per line", perLine(run.times.late), "ms");
    printInfo(name + ": yields to the event loop, per line", perLine(run.times.yielding), "ms");
    printInfo(name + ": of that, handlers' time, per line", perLine(run.times.handlers), "ms");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
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
    printNote(options.deviceSleeps ? "the simulated device sleeps until bytes arrive"
                                   : "the simulated device polls its line without sleeping");
    const QString xfrProgram = QStandardPaths::findExecutable(QStringLiteral("ascii-xfr"));
    if (xfrProgram.isEmpty()) {
        printNote("ascii-xfr not found (Debian package minicom): no comparison");
    }

    for (int item = 0; item < 5; ++item) {
        const std::size_t lines = item == 0 ? fastLines : slowLines;
        const QString& file = item == 0 ? fastFile : slowFile;
        const std::string name = "Pacing, " + std::to_string(lines) + " lines at " + itemName(item);
        const Measured ours = programmerRun(file, lines, item, options.deviceSleeps);
        reportRun(name, ours, lines, item);
        if (xfrProgram.isEmpty()) {
            continue;
        }
        const Measured xfr =
            asciiXfrRun(xfrProgram, file, lines, (item + 1) * 20, options.deviceSleeps);
        printFigure(name + ": our time / ascii-xfr's", ours.seconds() / xfr.seconds(), "x",
                    atMost(1.0));
        printInfo("ascii-xfr -s -l " + std::to_string((item + 1) * 20) + ", " +
                      std::to_string(lines) + " lines: time at the device",
                  xfr.seconds(), "s");
        reportGaps("ascii-xfr, " + itemName(item), xfr, item);
    }

    // A handler that holds the thread for 5 ms every seventh yield: wherever it falls, the
    // device still gets at least the chosen pause.
    const Load load{7, 5ms};
    for (const int item : {0, 2}) {
        const std::string name = "Pacing under a 5 ms handler every 7th yield, " +
                                 std::to_string(slowLines) + " lines at " + itemName(item);
        const Measured loaded =
            programmerRun(slowFile, slowLines, item, options.deviceSleeps, load);
        if (!loaded.complete()) {
            printNote(name + ": the run did not complete");
        }
        reportGaps(name, loaded, item);
    }
    return 0;
}
