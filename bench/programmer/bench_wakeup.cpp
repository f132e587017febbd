// The wake-up sender: START PROGRAMMING with a device that is never powered on, so that the
// program sends "i" for the whole countdown; the "i" that arrive at the simulated device
// (57600 baud) within 10 s of the first one are counted.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/firmware_files.h"
#include "bench/support/recording_analysis.h"
#include "tools/simdevice/simdevice.h"

#include <QApplication>
#include <QTemporaryDir>

#include <string>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const auto window = options.quick ? 3s : 10s;

    const QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fw.srec"));
    writeSrecLines(file, 10);

    SimDevice device; // never powered on: the boot program never answers
    ProgrammerRig rig(QString::fromStdString(device.slavePath()));
    rig.connectPort();
    rig.chooseFile(file);
    rig.start();
    const auto spanned = [window](const SimRecording& r) {
        return !r.receivedAt.empty() && r.receivedAt.back() - r.receivedAt.front() >= window;
    };
    if (!runEventsUntil([&] { return device.waitFor(spanned, 0ms); }, window + 10s, 100ms)) {
        printNote("the wake-up characters did not span the whole window");
    }
    const SimRecording recording = device.recording();
    const Arrivals arrivals = countArrivals(recording, 'i', window);
    const double seconds = Seconds(window).count();

    printHeader();
    const std::string name = "Wake-up sender, device never on: \"i\" arriving over " +
                             std::to_string(window.count()) + " s";
    printFigure(name + ", per second", static_cast<double>(arrivals.count) / seconds, "1/s",
                atLeast(195));
    printInfo(name + ", longest gap", arrivals.longestGap.count(), "ms");
    return 0;
}
