// Reaction times of a programming run, 20 runs: the "f" after the device's ">" (Timersendf,
// 333 ms) and the first line after its "_" (TimerSendFile, 1000 ms), in excess of those
// intervals. The device is played here on a raw pseudo-terminal, timed at the moment it
// writes and reads: the simulated device schedules its answers on a 1 ms poll granularity,
// which would blur the figure by up to a millisecond.
//
// Byte transmit time: a pseudo-terminal moves bytes at once. On a 57600-baud line the host
// can read ">" once its last bit is in, which is the moment it is written here; the "f" is
// complete at the device one byte time (10 bits = 0.174 ms) after the host wrote it, so one
// byte time is added to each delay. The figures thus include the transmission of the byte
// that ends the delay.

#include "bench/support/bench_report.h"
#include "bench/support/bench_rig.h"
#include "bench/support/boot_script.h"
#include "bench/support/firmware_files.h"
#include "bench/support/raw_pty.h"
#include "bench/support/recording_analysis.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

using namespace norvak;
using namespace norvak::bench;
using namespace std::chrono_literals;
using Clock = BootScript::Clock;

namespace {

constexpr auto readyRequestInterval = 333ms;
constexpr auto sendFileInterval = 1000ms;

struct RunTimes {
    Clock::time_point promptSent;   // ">" written: the host can read it from here on
    Clock::time_point readyRequest; // "f" read
    Clock::time_point readySent;    // "_" written
    Clock::time_point firstLine;    // the first byte of the first line read
};

// Power-on delays vary, so that ">" falls at different phases of the 5 ms wake-up timer.
std::chrono::milliseconds powerOnDelay(std::size_t run) {
    return 150ms + std::chrono::milliseconds((run * 37) % 100);
}

// Runs the boot script on the pty's master, on its own thread.
class ScriptedDevice {
public:
    explicit ScriptedDevice(const RawPty& pty)
        : thread_([this, fd = pty.master()](const std::stop_token& stop) { run(stop, fd); }) {}
    ~ScriptedDevice() { thread_.request_stop(); }
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    [[nodiscard]] std::vector<RunTimes> runs() const {
        const std::scoped_lock lock(mutex_);
        return runs_;
    }

private:
    void run(const std::stop_token& stop, int fd) {
        std::array<char, 4096> buffer{};
        while (!stop.stop_requested()) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) {
                continue;
            }
            const auto got = ::read(fd, buffer.data(), buffer.size());
            const Clock::time_point at = Clock::now();
            for (ssize_t i = 0; i < got; ++i) {
                take(fd, buffer[static_cast<std::size_t>(i)], at);
            }
        }
    }

    void take(int fd, char byte, Clock::time_point at) {
        const ScriptStep step = script_.take(byte, at);
        if (!step.answer.empty()) {
            writeAll(fd, step.answer);
        }
        const Clock::time_point written = Clock::now();
        switch (step.event) {
        case ScriptEvent::Prompt:
            current_.promptSent = written;
            break;
        case ScriptEvent::ReadyRequest:
            current_.readyRequest = at;
            current_.readySent = written;
            break;
        case ScriptEvent::FirstLineByte:
            current_.firstLine = at;
            break;
        case ScriptEvent::Programmed: {
            const std::scoped_lock lock(mutex_);
            runs_.push_back(current_);
            script_.setPowerOnDelay(powerOnDelay(runs_.size()));
            break;
        }
        case ScriptEvent::None:
            break;
        }
    }

    static void writeAll(int fd, const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd writable{fd, POLLOUT, 0};
                ::poll(&writable, 1, 10);
            }
        }
    }

    BootScript script_{powerOnDelay(0)};
    RunTimes current_;
    mutable std::mutex mutex_;
    std::vector<RunTimes> runs_;
    std::jthread thread_; // last: stopped first
};

double worst(const std::vector<double>& values) {
    return values.empty() ? median(values) : *std::max_element(values.begin(), values.end());
}

double excessMs(Clock::time_point from, Clock::time_point to, std::chrono::milliseconds nominal) {
    return (Millis(to - from) + byteTime(57600) - Millis(nominal)).count();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const std::size_t runs = options.quick ? 5 : 20;

    const QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fw.srec"));
    writeSrecLines(file, 3);

    const RawPty pty;
    const ScriptedDevice device(pty);
    ProgrammerRig rig(pty.slavePath());
    rig.setSpeedItem(0);
    rig.connectPort();
    rig.chooseFile(file);
    frmProg& window = rig.window();
    for (std::size_t run = 0; run < runs; ++run) {
        rig.start();
        const bool ended = runEventsUntil(
            [&] {
                return device.runs().size() > run &&
                       window.shared().flashState == FlashState::Idle && !window.isStreaming();
            },
            10s);
        if (!ended) {
            printNote("run " + std::to_string(run + 1) +
                      " did not end: " + window.windowTitle().toStdString());
            break;
        }
    }

    std::vector<double> readyRequest;
    std::vector<double> firstLine;
    for (const RunTimes& times : device.runs()) {
        readyRequest.push_back(
            excessMs(times.promptSent, times.readyRequest, readyRequestInterval));
        firstLine.push_back(excessMs(times.readySent, times.firstLine, sendFileInterval));
    }
    printHeader();
    const std::string count = std::to_string(readyRequest.size()) + " runs";
    printFigure("Reaction, \"f\" after \">\" beyond 333 ms, median of " + count,
                median(readyRequest), "ms", atMost(3));
    printInfo("Reaction, \"f\" after \">\" beyond 333 ms, worst", worst(readyRequest), "ms");
    printFigure("Reaction, first line after \"_\" beyond 1000 ms, median of " + count,
                median(firstLine), "ms", atMost(3));
    printInfo("Reaction, first line after \"_\" beyond 1000 ms, worst", worst(firstLine), "ms");
    return 0;
}
