#include "bench/support/recording_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norvak::bench {

Millis byteTime(unsigned baudRate) {
    return Millis(10'000.0 / baudRate);
}

std::optional<StreamSpan> streamSpan(const SimRecording& recording, std::size_t from) {
    const std::string& received = recording.received;
    if (from >= received.size() || recording.receivedAt.size() != received.size()) {
        return std::nullopt;
    }
    const std::size_t last = received.rfind('\n');
    if (last == std::string::npos || last < from) {
        return std::nullopt;
    }
    StreamSpan span;
    span.firstIndex = from;
    span.lastIndex = last;
    span.lineFeeds = static_cast<std::size_t>(
        std::count(received.begin() + static_cast<std::ptrdiff_t>(from),
                   received.begin() + static_cast<std::ptrdiff_t>(last) + 1, '\n'));
    span.duration = recording.receivedAt[last] - recording.receivedAt[from];
    return span;
}

std::vector<Millis> lineGaps(const SimRecording& recording, std::size_t from) {
    std::vector<Millis> gaps;
    const std::string& received = recording.received;
    if (recording.receivedAt.size() != received.size()) {
        return gaps;
    }
    for (std::size_t i = received.find('\n', from);
         i != std::string::npos && i + 1 < received.size(); i = received.find('\n', i + 1)) {
        gaps.emplace_back(recording.receivedAt[i + 1] - recording.receivedAt[i]);
    }
    return gaps;
}

std::vector<Millis> lineSpans(const SimRecording& recording, std::size_t from) {
    std::vector<Millis> spans;
    const std::string& received = recording.received;
    if (recording.receivedAt.size() != received.size()) {
        return spans;
    }
    for (std::size_t first = from, end = received.find('\n', from); end != std::string::npos;
         first = end + 1, end = received.find('\n', first)) {
        spans.emplace_back(recording.receivedAt[end] - recording.receivedAt[first]);
    }
    return spans;
}

Distribution distribution(std::vector<double> values) {
    if (values.empty()) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan, nan, nan, nan};
    }
    std::sort(values.begin(), values.end());
    const auto rank = [&values](double fraction) {
        const auto index =
            static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
        return values[std::clamp<std::size_t>(index, 1, values.size()) - 1];
    };
    return {values.front(), rank(0.01), rank(0.5), rank(0.99), values.back()};
}

Arrivals countArrivals(const SimRecording& recording, char byte, Seconds window) {
    Arrivals arrivals;
    std::optional<SimClock::time_point> first;
    SimClock::time_point previous;
    const std::size_t n = std::min(recording.received.size(), recording.receivedAt.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (recording.received[i] != byte) {
            continue;
        }
        const SimClock::time_point at = recording.receivedAt[i];
        if (!first) {
            first = at;
        } else if (at - *first >= window) {
            break;
        } else {
            arrivals.longestGap = std::max<Millis>(arrivals.longestGap, at - previous);
        }
        previous = at;
        ++arrivals.count;
    }
    return arrivals;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    // Everything before the middle is no larger: its largest is the lower middle value.
    return (*std::max_element(values.begin(), middle) + *middle) / 2.0;
}

qsizetype countDifferences(QStringView expected, QStringView got) {
    const qsizetype common = std::min(expected.size(), got.size());
    qsizetype differences = std::max(expected.size(), got.size()) - common;
    for (qsizetype i = 0; i < common; ++i) {
        if (expected[i] != got[i]) {
            ++differences;
        }
    }
    return differences;
}

} // namespace norvak::bench
