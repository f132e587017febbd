#pragma once

// A raw pseudo-terminal for the benchmarks: the program under test opens slavePath() like a
// serial port, the benchmark plays the device on master(). Unlike the simulated device this
// line has no pace: bytes pass as fast as the kernel moves them.

#include <QString>

#include <atomic>
#include <thread>

namespace norvak::bench {

class RawPty {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    RawPty();
    ~RawPty();
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    // Non-blocking.
    [[nodiscard]] int master() const { return master_; }
    [[nodiscard]] QString slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slaveKeeper_ = -1; // keeps the line up while the program closes and reopens the port
    QString slavePath_;
};

// Takes everything the program writes to a RawPty at once, on its own thread, and counts it.
class LineDrain {
public:
    explicit LineDrain(const RawPty& pty);
    ~LineDrain();
    LineDrain(const LineDrain&) = delete;
    LineDrain& operator=(const LineDrain&) = delete;

    [[nodiscard]] qint64 bytes() const { return bytes_.load(); }
    [[nodiscard]] qint64 lineFeeds() const { return lineFeeds_.load(); }

private:
    void run(const std::stop_token& stop, int fd);

    std::atomic<qint64> bytes_{0};
    std::atomic<qint64> lineFeeds_{0};
    std::jthread thread_; // last: joined before the counters go
};

} // namespace norvak::bench
