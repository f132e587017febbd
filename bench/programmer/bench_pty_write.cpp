// The pseudo-terminal alone, as a floor under the pacing figures: a line and then its LF are
// written, as two writes, every 20 ms to a pseudo-terminal whose other end a thread of this
// process reads as soon as anything arrives and answers each LF with a dot at once, as the
// simulated device does. Nothing of the program takes part. Figures: how long the two writes take
// (median, 99th percentile) and the share of lines whose writes take over 1 ms: on a machine where
// waking the reader can hold up the writer, that time counts in every writer's time at the device,
// ours and ascii-xfr's. Measured three ways in one run: with the cores left to halt between
// lines; with them kept awake (awake_cores.h); and with a reader that polls without sleeping, as
// bench_pacing's simulated device does.

#include "bench/support/awake_cores.h"
#include "bench/support/bench_report.h"
#include "bench/support/raw_pty.h"
#include "bench/support/recording_analysis.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

using namespace norvak::bench;

namespace {

enum class Reader { Sleeps, Polls };

// The device: takes whatever arrives and answers every LF with a dot.
void answerDots(const std::stop_token& stop, int master, Reader reader) {
    std::array<char, 4096> buffer{};
    const int timeoutMs = reader == Reader::Polls ? 0 : 100;
    while (!stop.stop_requested()) {
        pollfd ready{master, POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) <= 0) {
            continue;
        }
        const auto got = ::read(master, buffer.data(), buffer.size());
        for (auto lineFeeds =
                 std::count(buffer.begin(), buffer.begin() + std::max<ssize_t>(got, 0), '\n');
             lineFeeds > 0; --lineFeeds) {
            if (::write(master, ".", 1) != 1) {
                return;
            }
        }
    }
}

timespec later(timespec at, long nanoseconds) {
    at.tv_nsec += nanoseconds;
    while (at.tv_nsec >= 1'000'000'000) {
        at.tv_nsec -= 1'000'000'000;
        ++at.tv_sec;
    }
    return at;
}

// The time each line's two writes took, in microseconds.
std::vector<double> writeLines(int fd, int lines) {
    constexpr std::string_view line = "S3150000000000112233445566778899AABBCCDDEEFF0049";
    std::vector<double> took;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i < lines; ++i) {
        next = later(next, 20'000'000);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        std::array<char, 256> dots{};
        while (::read(fd, dots.data(), dots.size()) > 0) {
        }
        const auto began = std::chrono::steady_clock::now();
        const bool written =
            ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::write(fd, "\n", 1) == 1;
        if (!written) {
            printNote("a write was refused");
            break;
        }
        took.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - began)
                .count());
    }
    return took;
}

void measureWrites(const std::string& how, int lines, Reader reader = Reader::Sleeps) {
    const RawPty pty;
    const std::jthread device(answerDots, pty.master(), reader);
    const int fd =
        ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        printNote("the pseudo-terminal did not open");
        return;
    }
    const std::vector<double> took = writeLines(fd, lines);
    ::close(fd);
    const std::string name =
        "Pseudo-terminal alone, " + how + ", " + std::to_string(took.size()) + " lines 20 ms apart";
    const Distribution d = distribution(took);
    printInfo(name + ": a line and its LF written, median", d.median, "us");
    printInfo(name + ": a line and its LF written, 99th percentile", d.p99, "us");
    const auto slow = std::count_if(took.begin(), took.end(), [](double us) { return us > 1000; });
    printInfo(name + ": lines whose writes took over 1 ms",
              took.empty() ? 0.0
                           : 100.0 * static_cast<double>(slow) / static_cast<double>(took.size()),
              "%");
}

} // namespace

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    const int lines = parseOptions(argc, argv).quick ? 300 : 1500;
    printHeader();
    measureWrites("cores left to halt", lines);
    {
        const AwakeCores awake;
        measureWrites("cores kept awake", lines);
    }
    measureWrites("reader polling", lines, Reader::Polls);
    return 0;
}
