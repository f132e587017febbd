#include "bench/support/bench_report.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace norvak::bench {

bool Goal::metBy(double value) const {
    if (std::isnan(value)) {
        return false;
    }
    return bound == Bound::AtMost ? value <= limit : value >= limit;
}

std::string Goal::text() const {
    char number[32];
    std::snprintf(number, sizeof number, "%g", limit);
    return (bound == Bound::AtMost ? "<=" : ">=") + std::string(number);
}

namespace {

void printRow(std::string_view figure, double value, std::string_view unit, std::string_view goal,
              std::string_view met) {
    std::printf("%-64.*s %14.3f %-7.*s %10.*s   %.*s\n", static_cast<int>(figure.size()),
                figure.data(), value, static_cast<int>(unit.size()), unit.data(),
                static_cast<int>(goal.size()), goal.data(), static_cast<int>(met.size()),
                met.data());
    std::fflush(stdout);
}

} // namespace

void printHeader() {
    std::printf("%-64s %14s %-7s %10s   %s\n", "figure", "value", "unit", "goal", "met");
    std::fflush(stdout);
}

void printFigure(std::string_view figure, double value, std::string_view unit, const Goal& goal) {
    printRow(figure, value, unit, goal.text(), goal.metBy(value) ? "yes" : "no");
}

void printInfo(std::string_view figure, double value, std::string_view unit) {
    printRow(figure, value, unit, "-", "-");
}

void printNote(std::string_view text) {
    std::printf("# %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option(argv[i]);
        options.quick = options.quick || option == "--quick";
        options.deviceSleeps = options.deviceSleeps || option == "--device-sleeps";
    }
    return options;
}

} // namespace norvak::bench
