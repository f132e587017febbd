#include "bench/support/awake_cores.h"

#include <algorithm>
#include <system_error>

#include <pthread.h>
#include <sched.h>

namespace norvak::bench {

namespace {

void runAtIdlePriority(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        // Nothing to do but keep the core out of its halt.
    }
}

} // namespace

AwakeCores::AwakeCores() {
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
        std::jthread spinner(runAtIdlePriority);
        // Set from here, before the spinner can take a core from anyone for long: a spinner
        // left at the normal class would compete with the threads it is meant to serve.
        const sched_param lowest{0};
        if (const int error = pthread_setschedparam(spinner.native_handle(), SCHED_IDLE, &lowest);
            error != 0) {
            throw std::system_error(error, std::generic_category(), "SCHED_IDLE");
        }
        spinners_.push_back(std::move(spinner));
    }
}

AwakeCores::~AwakeCores() = default; // the jthreads stop and join

std::vector<std::thread::native_handle_type> AwakeCores::spinners() {
    std::vector<std::thread::native_handle_type> handles;
    for (std::jthread& spinner : spinners_) {
        handles.push_back(spinner.native_handle());
    }
    return handles;
}

} // namespace norvak::bench
