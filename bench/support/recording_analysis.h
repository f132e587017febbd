#pragma once

// Figures read off what the device recorded: when bytes arrived, how many and how regularly.

#include "tools/simdevice/simdevice.h"

#include <QStringView>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace norvak::bench {

using Seconds = std::chrono::duration<double>;
using Millis = std::chrono::duration<double, std::milli>;

// One byte time on a line of `baudRate` with 10 bits per byte.
[[nodiscard]] Millis byteTime(unsigned baudRate);

struct StreamSpan {
    std::size_t firstIndex = 0; // first byte of the first line
    std::size_t lastIndex = 0;  // the LF ending the last line
    std::size_t lineFeeds = 0;  // lines, counted by their LF
    Seconds duration{};         // arrival of the first byte to arrival of the last
};

// The lines that arrived from index `from` of the recording on: from their first byte to
// the last LF. Nothing when no LF arrived from there on.
[[nodiscard]] std::optional<StreamSpan> streamSpan(const SimRecording& recording, std::size_t from);

// From each LF to the next byte after it, for the LFs from index `from` on that are followed by
// another byte: the pause the device saw between two lines. Needs a line without pacing, where
// a byte arrives as it is written.
[[nodiscard]] std::vector<Millis> lineGaps(const SimRecording& recording, std::size_t from);

// From the first byte of each line to its LF, for the lines from index `from` on: how long a
// line took to arrive whole. Needs a line without pacing.
[[nodiscard]] std::vector<Millis> lineSpans(const SimRecording& recording, std::size_t from);

struct Distribution {
    double min = 0, p1 = 0, median = 0, p99 = 0, max = 0;
};
// Nearest-rank percentiles; NaN everywhere if empty.
[[nodiscard]] Distribution distribution(std::vector<double> values);

struct Arrivals {
    std::size_t count = 0; // arrivals within the window, the first one included
    Millis longestGap{};   // longest pause between two of them
};

// Arrivals of `byte` within `window` after the first one (none: count 0).
[[nodiscard]] Arrivals countArrivals(const SimRecording& recording, char byte, Seconds window);

// The middle value (the mean of the two middle values for an even count); NaN if empty.
[[nodiscard]] double median(std::vector<double> values);

// Positions where `got` differs from `expected`, counting each missing or extra character.
[[nodiscard]] qsizetype countDifferences(QStringView expected, QStringView got);

} // namespace norvak::bench
