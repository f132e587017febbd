#pragma once

// One figure per row, in the columns every benchmark shares: figure, value, unit, goal, met.
// scripts/bench.sh reads a row from the right (the figure's name may contain blanks).
// Benchmarks print figures and never fail: their exit code says only whether they ran.

#include <string>
#include <string_view>

namespace norvak::bench {

struct Goal {
    enum class Bound { AtMost, AtLeast };
    Bound bound = Bound::AtMost;
    double limit = 0.0;

    // A value that could not be measured (NaN) meets no goal.
    [[nodiscard]] bool metBy(double value) const;
    // "<=1.01", ">=195": one token, so that the row stays readable from the right.
    [[nodiscard]] std::string text() const;
};

[[nodiscard]] constexpr Goal atMost(double limit) {
    return {Goal::Bound::AtMost, limit};
}
[[nodiscard]] constexpr Goal atLeast(double limit) {
    return {Goal::Bound::AtLeast, limit};
}

void printHeader();
void printFigure(std::string_view figure, double value, std::string_view unit, const Goal& goal);
// A figure without a goal, printed for context.
void printInfo(std::string_view figure, double value, std::string_view unit);
// A line the table ignores: what ran, and why a figure is missing.
void printNote(std::string_view text);

// How the simulated device of bench_pacing reads its line.
enum class DeviceReading {
    Polls,                // without ever sleeping, at normal priority (the default)
    PollsAtIdlePriority,  // without sleeping, giving its core to any other thread at once
    SleepsUntilBytesCome, // as a thread usually waits
};

// The command line every benchmark takes: --quick for a shorter run; for bench_pacing
// --device-idle or --device-sleeps choose how the simulated device reads.
struct Options {
    bool quick = false;
    DeviceReading deviceReading = DeviceReading::Polls;
};
[[nodiscard]] Options parseOptions(int argc, char** argv);

} // namespace norvak::bench
