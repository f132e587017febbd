// Receiving: the simulated device sends random bytes at the full rate of its 57600-baud line
// (5,760 characters a second) for 60 s while the program is connected and idle. Every byte
// must stand in the log box, in order; the interface thread's CPU time over the run
// (CLOCK_THREAD_CPUTIME_ID, so the device's own thread is left out) is the figure.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/process_stats.h"
#include "bench/support/recording_analysis.h"
#include "tools/simdevice/simdevice.h"

#include "mainwindow/logbox/logbox.h"

#include <QApplication>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

// The one thread that is not among `before`.
std::optional<long> newThread(const std::vector<long>& before) {
    std::vector<long> added;
    for (const long id : threadIds()) {
        if (std::find(before.begin(), before.end(), id) == before.end()) {
            added.push_back(id);
        }
    }
    return added.size() == 1 ? std::optional(added.front()) : std::nullopt;
}

Seconds deviceCpu(std::optional<long> thread) {
    return thread ? Seconds(threadCpuTime(*thread).value_or(std::chrono::nanoseconds{0}))
                  : Seconds{0};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const auto duration = options.quick ? 10s : 60s;
    constexpr std::size_t lineRate = 5760; // characters a second at 57600 baud, 10 bits each
    const std::size_t total = lineRate * static_cast<std::size_t>(duration.count());

    const std::vector<long> threadsBefore = threadIds();
    SimDevice device; // never powered on: the program stays idle and shows what comes
    const std::optional<long> deviceThread = newThread(threadsBefore);
    ProgrammerRig rig(QString::fromStdString(device.slavePath()));
    rig.connectPort();
    runEventsFor(200ms);
    LogBox& log = WindowControls::of(rig.window()).logBox;

    const auto wallBefore = std::chrono::steady_clock::now();
    const auto threadBefore = threadCpuTime();
    const auto processBefore = processCpuTime();
    const auto deviceBefore = deviceCpu(deviceThread);
    const long yieldsBefore = rig.toolkit().times.yields;
    device.flood(total);
    const bool complete =
        runEventsUntil([&log, total] { return log.length() >= static_cast<qsizetype>(total); },
                       duration + 30s, 100ms);
    const Seconds wall = std::chrono::steady_clock::now() - wallBefore;
    const Seconds thread = threadCpuTime() - threadBefore;
    const Seconds process = processCpuTime() - processBefore;
    const Seconds deviceTime = deviceCpu(deviceThread) - deviceBefore;
    // The receive handler yields once per event.
    const auto events = static_cast<double>(rig.toolkit().times.yields - yieldsBefore);
    if (!complete) {
        printNote("the log box did not get every character in time");
    }

    const QString expected = QString::fromLatin1(device.recording().sent);
    const QString shown = log.Text();
    const qsizetype differences = countDifferences(expected, shown);

    printHeader();
    const std::string name =
        "Receiving 5760 chars/s for " + std::to_string(duration.count()) + " s";
    printFigure(name + ": characters missing or wrong in the log box",
                static_cast<double>(differences), "chars", atMost(0));
    if (!deviceThread) {
        printNote("the device's thread was not found: its CPU time counts for the program");
    }
    printFigure(name + ": program CPU (process minus device), % of one core",
                (process - deviceTime) / wall * 100.0, "%", atMost(5));
    printInfo(name + ": interface thread alone", thread / wall * 100.0, "%");
    printInfo(name + ": simulated device thread", deviceTime / wall * 100.0, "%");
    printInfo(name + ": receive events per second", events / wall.count(), "1/s");
    printInfo(name + ": characters received per second",
              static_cast<double>(shown.size()) / wall.count(), "1/s");
    return 0;
}
