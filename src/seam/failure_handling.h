#pragma once

// The three ways an operation deals with the failures of its steps. Each failure carries a
// description meant for the operator.
//  - Reporting: one failure path, armed at the start, hands the description to a report (the
//    link's open and close show it in the status caption).
//  - Dropping: one failure path, armed at the start, drops the failure silently (the packet
//    sender, the receive dispatcher).
//  - Ignoring each step: a failing step is passed over and the next one runs (closing).
// An operation that tells its failures apart (the file streamer) says so in one `try` with a
// `catch` for each instead of nesting these. What an operation does not catch reaches the
// handler's boundary to the event loop, which never lets it end the program.

#include <exception>
#include <utility>

namespace norvak {

// Runs `steps`; a `Failure` among them ends them and its description goes to `report`.
// True when every step ran.
template <typename Failure, typename Steps, typename Report>
bool reportingFailure(Steps&& steps, Report&& report) {
    try {
        std::forward<Steps>(steps)();
        return true;
    } catch (const Failure& failure) {
        std::forward<Report>(report)(failure.description());
        return false;
    }
}

// Runs `steps`; a `Failure` among them ends them and is dropped. True when every step ran.
template <typename Failure = std::exception, typename Steps> bool droppingFailure(Steps&& steps) {
    try {
        std::forward<Steps>(steps)();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// Runs one step of an operation that goes on past each failing step.
template <typename Failure = std::exception, typename Step> void ignoringFailure(Step&& step) {
    try {
        std::forward<Step>(step)();
    } catch (const Failure&) {
        // The next step runs whatever this one did.
    }
}

} // namespace norvak
