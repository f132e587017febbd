#pragma once

// `program`: the flash programmer's own window, offscreen, driven through one run by the
// shared run driver, with what it shows reported as it happens.

#include "tools/cli/cli_options.h"
#include "tools/cli/run_reporter.h"
#include "tools/unattended/run_verdict.h"

#include <QString>

#include <cstdio>

namespace norvak::cli {

// What the run did on the line and in the window beside its verdict.
struct RunFacts {
    // The serial control found the line gone under the open port: the adapter was unplugged,
    // or the line hung up.
    bool deviceWentAway = false;
    // "Port 1 (/dev/ttyUSB0)": the port as the window reached it.
    QString portLabel{};
    // The streamer's progress when the run ended: 100 once the file's last line went out.
    double progressPercent = 0.0;
    // Line feeds the window wrote: the lines of the file that went out.
    qint64 linesSent = 0;
};

// How the verdict on the window's run becomes the program's outcome.
[[nodiscard]] RunEnd runEnd(const unattended::RunVerdict& verdict, const RunFacts& facts);

// Runs `program` to its end and returns the exit status. Call blockTerminationSignals()
// first, before any thread has started; `argc` and `argv` go to QApplication.
[[nodiscard]] int runProgram(const CliOptions& options, int& argc, char** argv, std::FILE* out,
                             std::FILE* err);

} // namespace norvak::cli
