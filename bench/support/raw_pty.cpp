#include "bench/support/raw_pty.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace norvak::bench {

namespace {

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void makeRaw(int fd) {
    termios modes{};
    if (::tcgetattr(fd, &modes) != 0) {
        throwErrno("tcgetattr");
    }
    ::cfmakeraw(&modes);
    if (::tcsetattr(fd, TCSANOW, &modes) != 0) {
        throwErrno("tcsetattr");
    }
}

// Long enough to notice a stop request soon, short enough to cost nothing.
constexpr int stopCheckMs = 50;

} // namespace

RawPty::RawPty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0) {
        throwErrno("posix_openpt");
    }
    try {
        std::array<char, 128> name{};
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name.data(), name.size()) != 0) {
            throwErrno("unlockpt");
        }
        slavePath_ = QString::fromLocal8Bit(name.data());
        slaveKeeper_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slaveKeeper_ < 0) {
            throwErrno("open slave");
        }
        makeRaw(slaveKeeper_);
    } catch (...) {
        ::close(master_);
        throw;
    }
}

RawPty::~RawPty() {
    ::close(slaveKeeper_);
    ::close(master_);
}

LineDrain::LineDrain(const RawPty& pty)
    : thread_([this, fd = pty.master()](const std::stop_token& stop) { run(stop, fd); }) {}

LineDrain::~LineDrain() {
    thread_.request_stop();
}

void LineDrain::run(const std::stop_token& stop, int fd) {
    std::array<char, 1 << 16> buffer{};
    while (!stop.stop_requested()) {
        const auto got = ::read(fd, buffer.data(), buffer.size());
        if (got > 0) {
            const auto end = buffer.begin() + got;
            lineFeeds_ += std::count(buffer.begin(), end, '\n');
            bytes_ += got;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, stopCheckMs);
        if ((ready.revents & POLLHUP) != 0) {
            ::usleep(stopCheckMs * 1000); // no slave open at the moment: poll would not wait
        }
    }
}

} // namespace norvak::bench
