#pragma once

// `program`: the flash programmer's own window, offscreen, driven through one run by the
// shared run driver, with what it shows reported as it happens.

#include "cli_options.h"
#include "run_reporter.h"
#include "run_verdict.h"

#include <QString>

#include <cstdio>

namespace norvak::cli {

// How the verdict on the window's run becomes the program's outcome. `portDescription` is the
// description the error caption carried (it names the device path).
[[nodiscard]] RunEnd runEnd(const unattended::RunVerdict& verdict, const QString& portDescription);

// Runs `program` to its end and returns the exit status. Call blockTerminationSignals()
// first, before any thread has started; `argc` and `argv` go to QApplication.
[[nodiscard]] int runProgram(const CliOptions& options, int& argc, char** argv, std::FILE* out,
                             std::FILE* err);

} // namespace norvak::cli
