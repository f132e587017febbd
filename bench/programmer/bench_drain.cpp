// Draining: how fast the receive path (serial control, receive dispatcher, log box) takes
// bytes, with no display. A thread writes lines of printable text with CR LF into a raw
// pseudo-terminal as fast as the kernel takes them; the connected, idle window, never shown
// and so never painted, drains them on the real event loop. The figures: bytes per second
// of wall time from the first write until the log box holds the last byte, and per second
// of the interface thread's CPU time (CLOCK_THREAD_CPUTIME_ID), which is the one core the
// path runs on. Every byte must stand in the log box, in order.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/process_stats.h"
#include "bench/support/raw_pty.h"
#include "bench/support/recording_analysis.h"

#include "mainwindow/logbox/logbox.h"

#include <QApplication>

#include <poll.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;

namespace {

// Lines of 10 to 100 printable characters (none of the protocol's ">", "_", ".", "P"), each
// followed by CR LF.
QByteArray textLines(qsizetype size) {
    static constexpr std::string_view alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOQRSTUVWXYZ0123456789 ,:;=+-*/()[]#%";
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(10, 100);
    QByteArray text;
    text.reserve(size);
    while (text.size() < size) {
        for (int i = length(random); i > 0; --i) {
            text += alphabet[letter(random)];
        }
        text += "\r\n";
    }
    text.truncate(size);
    return text;
}

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const auto n = ::write(fd, bytes.constData() + written,
                               static_cast<std::size_t>(bytes.size() - written));
        if (n > 0) {
            written += n;
            continue;
        }
        pollfd out{fd, POLLOUT, 0};
        ::poll(&out, 1, 100);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const qsizetype total = (options.quick ? 16 : 64) * 1000 * 1000;
    const QByteArray text = textLines(total);

    RawPty pty;
    ProgrammerRig rig(pty.slavePath(), false);
    rig.connectPort();
    runEventsFor(100ms);
    LogBox& log = WindowControls::of(rig.window()).logBox;

    const auto wallBefore = std::chrono::steady_clock::now();
    const auto threadBefore = threadCpuTime();
    const long yieldsBefore = rig.toolkit().times.yields;
    std::jthread device([&pty, &text] { writeAll(pty.master(), text); });
    const bool complete =
        runEventsUntil([&log, total] { return log.length() >= total; }, 600s, 1ms);
    const Seconds wall = std::chrono::steady_clock::now() - wallBefore;
    const Seconds thread = threadCpuTime() - threadBefore;
    device.join();
    if (!complete) {
        printNote("the log box did not get every character in time");
    }

    const qsizetype differences = countDifferences(QString::fromLatin1(text), log.Text());
    const double megabytes = static_cast<double>(total) / 1e6;
    const std::string name =
        "Draining " + std::to_string(total / 1000 / 1000) + " MB of text, no display";
    printHeader();
    printFigure(name + ": per second of the interface thread's CPU", megabytes / thread.count(),
                "MB/s", atLeast(10));
    printInfo(name + ": per second of wall time", megabytes / wall.count(), "MB/s");
    // The receive handler yields once per event.
    printInfo(name + ": receive events per second",
              static_cast<double>(rig.toolkit().times.yields - yieldsBefore) / wall.count(), "1/s");
    printFigure(name + ": characters missing or wrong in the log box",
                static_cast<double>(differences), "chars", atMost(0));
    return 0;
}
