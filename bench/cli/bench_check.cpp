// `norvak-flash-cli check` on a generated 1 GiB S-record file (S3 records of 16 bytes, CR LF,
// as objcopy writes them) that sits in the page cache: the throughput of the whole program,
// the median of three runs, and its peak resident size above that of the same program
// checking a 1 KiB file (idle). Each run is a child process of its own, measured by wait4;
// the throughput per second of its CPU time is printed beside it. The file lives in a temporary
// folder that is removed at the end.

#include "bench/support/bench_report.h"
#include "bench/support/firmware_files.h"
#include "bench/support/recording_analysis.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

using namespace norvak;
using namespace norvak::bench;

namespace {

constexpr double mebibyte = 1024.0 * 1024.0;
constexpr int runs = 3;

struct ChildRun {
    int exitStatus = -1;
    Seconds time{};
    Seconds cpu{};                // user and system
    double peakResidentBytes = 0; // ru_maxrss
};

// Runs the check in a child with stdout and stderr on /dev/null.
std::optional<ChildRun> runCheck(const QString& path) {
    const std::string program = NORVAK_CLI;
    const std::string file = path.toStdString();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("check"),
                            const_cast<char*>(file.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return std::nullopt;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return std::nullopt;
    }
    ChildRun run;
    run.time = std::chrono::steady_clock::now() - begin;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakResidentBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    run.cpu = Seconds(seconds(usage.ru_utime) + seconds(usage.ru_stime));
    return run;
}

void warmUp(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    std::vector<char> block(1 << 20);
    while (file.read(block.data(), static_cast<qint64>(block.size())) > 0) {
    }
}

} // namespace

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const qint64 mib = options.quick ? 256 : 1024;

    const QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.srec"));
    const QString big = dir.filePath(QStringLiteral("big.srec"));
    writeSrecBytes(small, 1024, {.lineEnd = "\r\n"});
    const WrittenFile written = writeSrecBytes(big, mib << 20, {.lineEnd = "\r\n"});
    warmUp(big);

    printHeader();
    const auto idle = runCheck(small);
    std::vector<double> rates;
    std::vector<double> cpuRates;
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        const auto run = runCheck(big);
        if (!run || run->exitStatus != 0) {
            printNote("check did not run cleanly: exit status " +
                      std::to_string(run ? run->exitStatus : -1));
            continue;
        }
        rates.push_back(static_cast<double>(written.bytes) / 1e6 / run->time.count());
        cpuRates.push_back(static_cast<double>(written.bytes) / 1e6 / run->cpu.count());
        peak = std::max(peak, run->peakResidentBytes);
    }
    const std::string size = std::to_string(mib) + " MiB";
    printFigure("check, " + size + " of S-records in the page cache, median of 3 runs",
                rates.empty() ? std::nan("") : median(rates), "MB/s", atLeast(300));
    printFigure("check, " + size + ": peak memory above checking 1 KiB",
                idle && !rates.empty() ? (peak - idle->peakResidentBytes) / mebibyte : std::nan(""),
                "MiB", atMost(16));
    // What one core does when it has the core to itself: the shared machine's load does not
    // move this figure much.
    printInfo("check, " + size + ": per second of CPU time, median",
              cpuRates.empty() ? std::nan("") : median(cpuRates), "MB/s");
    printInfo("check, " + size + ": lines", static_cast<double>(written.lines), "lines");
    printInfo("check of 1 KiB: peak resident",
              idle ? idle->peakResidentBytes / mebibyte : std::nan(""), "MiB");
    return 0;
}
