#include "tests/support/pty_pair.h"

#include <QDeadlineTimer>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace norvak::test {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("pty: ") + what + ": " + std::strerror(errno));
}

void makeRaw(int fd) {
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        fail("tcgetattr");
    }
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        fail("tcsetattr");
    }
}

// Waits until `fd` is ready for `events` or the deadline passes; true when ready.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd pfd{fd, events, 0};
    for (;;) {
        const auto remaining = deadline.remainingTime();
        const int rc = ::poll(&pfd, 1, remaining < 0 ? -1 : static_cast<int>(remaining));
        if (rc >= 0) {
            return rc > 0;
        }
        if (errno != EINTR) {
            fail("poll");
        }
    }
}

} // namespace

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    try {
        std::array<char, 128> name{};
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name.data(), name.size()) != 0) {
            fail("unlockpt");
        }
        slavePath_ = QString::fromLocal8Bit(name.data());
        slaveKeeper_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slaveKeeper_ < 0) {
            fail("open slave");
        }
        makeRaw(slaveKeeper_);
        makeRaw(master_);
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
            fail("fcntl");
        }
    } catch (...) {
        closeMaster();
        throw;
    }
}

PtyPair::~PtyPair() {
    closeMaster();
}

int PtyPair::masterFd() const {
    return master_;
}

QString PtyPair::slavePath() const {
    return slavePath_;
}

QByteArray PtyPair::read(std::chrono::milliseconds timeout, qsizetype atLeast) {
    QByteArray got;
    if (master_ < 0) {
        return got;
    }
    const QDeadlineTimer deadline(timeout);
    std::array<char, 4096> chunk{};
    while (got.size() < atLeast) {
        const auto n = ::read(master_, chunk.data(), chunk.size());
        if (n > 0) {
            got.append(chunk.data(), n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN: nothing yet. EIO: no slave is open at the moment; wait and retry.
        if (n == 0 || (errno != EAGAIN && errno != EIO)) {
            break;
        }
        if (deadline.hasExpired()) {
            break;
        }
        if (errno == EIO) {
            ::usleep(1000); // poll() reports a hang-up at once while no slave is open
        } else {
            waitFor(master_, POLLIN, deadline);
        }
    }
    return got;
}

void PtyPair::write(QByteArrayView bytes) {
    if (master_ < 0) {
        throw std::runtime_error("pty: write after closeMaster");
    }
    const QDeadlineTimer deadline(std::chrono::seconds(10));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const auto n =
            ::write(master_, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(master_, POLLOUT, deadline)) {
                throw std::runtime_error("pty: the program does not read its input");
            }
        } else if (!(n < 0 && errno == EINTR)) {
            fail("write");
        }
    }
}

void PtyPair::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
    }
}

struct termios PtyPair::slaveTermios() const {
    struct termios tio {};
    // The master shares the slave's termios; either fd reads them.
    const int fd = slaveKeeper_ >= 0 ? slaveKeeper_ : master_;
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) {
        throw std::runtime_error("pty: no side left open to read the line settings");
    }
    return tio;
}

} // namespace norvak::test
