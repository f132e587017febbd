#pragma once

// Keeps the machine's cores from halting while a timing figure is taken. On a virtual machine a
// halted core takes milliseconds to wake: a write to the pseudo-terminal that wakes the simulated
// device's thread on such a core can hold the writer that long, whoever the writer is (the
// program or ascii-xfr; docs/benchmarks.md has the figures). One thread per core spins at the
// lowest scheduling class (SCHED_IDLE), which every other thread displaces: the cores stay awake
// and the writer no longer stalls. It is bench_pty_write's evidence of that. bench_pacing lets its
// device poll instead: with the spinners, the device's thread was now and then woken milliseconds
// late.

#include <thread>
#include <vector>

namespace norvak::bench {

class AwakeCores {
public:
    AwakeCores();
    ~AwakeCores();
    AwakeCores(const AwakeCores&) = delete;
    AwakeCores& operator=(const AwakeCores&) = delete;

    // The spinners, for a check of their scheduling class.
    [[nodiscard]] std::vector<std::thread::native_handle_type> spinners();

private:
    std::vector<std::jthread> spinners_;
};

} // namespace norvak::bench
