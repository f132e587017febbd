// Memory while streaming: the program sends a 1 GB S-record file, and a 1 GB file without a
// line end, to a pseudo-terminal that a thread here drains as fast as the kernel allows, with
// no pause between lines (a typed speed, ListIndex -1). Each file is streamed in a child
// process of its own, so that nothing else lifts its peak. The figure is the peak resident
// size during the stream (VmHWM, reset when the program stands idle) minus the resident size
// of the idle program: window shown, port open, file chosen.
//
// The handshake is left out: without the device's dots the watchdog would end the run after
// three seconds, and a dot per line would fill the log box instead. The run is started as
// the "_" starts it: state Sending and TimerSendFile on.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/firmware_files.h"
#include "bench/support/process_stats.h"
#include "bench/support/raw_pty.h"
#include "bench/support/recording_analysis.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

constexpr double mebibyte = 1024.0 * 1024.0;
constexpr double goalAboveIdle = 16.0; // MiB

// Samples VmRSS on its own thread: a fallback for a kernel that does not reset VmHWM.
class ResidentSampler {
public:
    ResidentSampler()
        : thread_([this](const std::stop_token& stop) {
            while (!stop.stop_requested()) {
                const double now = statusBytes("VmRSS").value_or(0.0);
                double seen = peak_.load();
                while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(2ms);
            }
        }) {}
    [[nodiscard]] double peak() const { return peak_.load(); }

private:
    std::atomic<double> peak_{0.0};
    std::jthread thread_;
};

// The child: streams `path` and prints its rows. `expected` is what must reach the line.
int streamChild(const std::string& name, const QString& path, qint64 expected) {
    const RawPty pty;
    const LineDrain drain(pty);
    ProgrammerRig rig(pty.slavePath());
    rig.setSpeedItem(-1);
    rig.connectPort();
    rig.chooseFile(path);
    frmProg& window = rig.window();
    runEventsFor(500ms);

    const double idle = statusBytes("VmRSS").value_or(0.0);
    const bool peakReset = resetPeakResident();
    std::optional<ResidentSampler> sampler;
    if (!peakReset) {
        sampler.emplace();
    }
    const auto begin = std::chrono::steady_clock::now();
    window.shared().flashState = FlashState::Sending;
    window.timer(TimerRole::FileSender).setEnabled(true);
    const bool done = runEventsUntil(
        [&] { return drain.bytes() >= expected && !window.isStreaming(); }, 30min, 200ms);
    const Seconds took = std::chrono::steady_clock::now() - begin - 1s; // TimerSendFile's wait
    const double peak = sampler ? sampler->peak() : statusBytes("VmHWM").value_or(0.0);
    if (!done || drain.bytes() != expected) {
        printNote(name + ": " + std::to_string(drain.bytes()) + " of " + std::to_string(expected) +
                  " bytes reached the line");
    }
    if (!peakReset) {
        printNote("VmHWM could not be reset: the peak is sampled every 2 ms instead");
    }
    printFigure(name + ": peak resident above the idle program", (peak - idle) / mebibyte, "MiB",
                atMost(goalAboveIdle));
    printInfo(name + ": idle program resident", idle / mebibyte, "MiB");
    printInfo(name + ": sent to the line", static_cast<double>(drain.bytes()) / 1e6 / took.count(),
              "MB/s");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc == 5 && std::string_view(argv[1]) == "--child") {
        const QApplication app(argc, argv);
        return streamChild(argv[2], QString::fromLocal8Bit(argv[3]),
                           QByteArray(argv[4]).toLongLong());
    }
    const QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const qint64 mib = options.quick ? 128 : 1024;
    const qint64 size = mib << 20;
    const std::string megabytes = std::to_string(mib) + " MiB";

    const QTemporaryDir dir;
    struct Case {
        std::string name;
        QString path;
        WrittenFile file;
    };
    const QString records = dir.filePath(QStringLiteral("records.srec"));
    const QString unbroken = dir.filePath(QStringLiteral("unbroken.srec"));
    const Case cases[] = {
        {"Memory, streaming " + megabytes + " of S-records", records,
         writeSrecBytes(records, size, {.lineEnd = "\r\n"})},
        {"Memory, streaming " + megabytes + " without a line end", unbroken,
         writeUnbrokenFile(unbroken, size)},
    };
    printHeader();
    for (const Case& c : cases) {
        // Each line goes out as its text and one LF.
        const qint64 expected = c.file.bytes - c.file.lineEndBytes + c.file.lines;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QString::fromStdString(c.name), c.path,
                     QString::number(expected)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            printNote(c.name + ": the streaming process failed");
        }
    }
    return 0;
}
