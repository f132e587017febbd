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

// The command line every benchmark takes: --quick for a shorter run; --device-sleeps for
// timing figures taken with a simulated device that sleeps until bytes arrive (bench_pacing).
struct Options {
    bool quick = false;
    bool deviceSleeps = false;
};
[[nodiscard]] Options parseOptions(int argc, char** argv);

} // namespace norvak::bench
