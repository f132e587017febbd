#include "tools/simdevice/simdevice.h"

#include "tools/simdevice/boot_program.h"
#include "tools/simdevice/line_clock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <random>
#include <stdexcept>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace norvak {
namespace {

using namespace std::chrono_literals;
using TimePoint = SimClock::time_point;
using detail::BootProgram;
using detail::LineClock;

constexpr std::size_t ioChunk = 4096;
constexpr auto hangUpGrace = 500ms; // at most this long for the host to read the last answer
constexpr auto hangUpSettle = 20ms; // the pseudo-terminal hands bytes on asynchronously
constexpr std::chrono::milliseconds longestWait{1000};

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept
        : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

void makeNonBlocking(int fd) {
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        throwErrno("fcntl");
    }
}

// A raw line until the host sets its own modes: no echo, no CR/LF mapping, no XON/XOFF.
void makeRaw(int fd) {
    termios modes{};
    if (::tcgetattr(fd, &modes) != 0) {
        throwErrno("tcgetattr");
    }
    ::cfmakeraw(&modes);
    ::cfsetspeed(&modes, B57600);
    if (::tcsetattr(fd, TCSANOW, &modes) != 0) {
        throwErrno("tcsetattr");
    }
}

void placeLink(const std::string& link, const std::string& target) {
    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::system_error(std::make_error_code(std::errc::file_exists), link);
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        throwErrno("symlink");
    }
}

void removeLinkTo(const std::string& link, const std::string& target) {
    std::array<char, 256> current{};
    const auto length = ::readlink(link.c_str(), current.data(), current.size());
    if (length > 0 &&
        std::string_view(current.data(), static_cast<std::size_t>(length)) == target) {
        ::unlink(link.c_str());
    }
}

std::optional<TimePoint> earliest(std::initializer_list<std::optional<TimePoint>> times) {
    std::optional<TimePoint> first;
    for (const auto& t : times) {
        if (t && (!first || *t < *first)) {
            first = t;
        }
    }
    return first;
}

struct TxByte {
    char value;
    bool dot;
};

} // namespace

// The hardware around the firmware: the pseudo-terminal, the pace of the line in each
// direction, line noise, and the thread that drives it all. One mutex guards everything;
// the thread holds it except while it waits in poll().
struct SimDevice::Impl final : detail::DevicePort {
    explicit Impl(SimDeviceConfig cfg);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Runs fn under the lock, with the device brought up to date first.
    template <typename Fn> void command(Fn&& fn) {
        {
            const std::scoped_lock lock(mutex);
            const TimePoint now = SimClock::now();
            step(now);
            fn(now);
            transmit(now);
        }
        changed.notify_all();
        wake();
    }

    void run(const std::stop_token& stop);
    void wake() const noexcept;
    void waitForEvents(std::unique_lock<std::mutex>& lock, TimePoint now);

    // Everything below runs with mutex held.
    void step(TimePoint now);
    void receive(TimePoint now);
    void transmit(TimePoint now);
    void hangUpOnceRead(TimePoint now);
    void runTimers(TimePoint until);
    void emitNoise(TimePoint at);
    void scheduleNoise(TimePoint after);
    void emitTextFlood(TimePoint at);
    char nextFloodCharacter();
    void queue(std::string_view bytes, TimePoint at, bool dot = false);
    void closeLine();
    void openLine();
    // Once the time of a power cycle that removed the port has passed: a new line.
    void bringPortBack(TimePoint now);

    // DevicePort
    void send(std::string_view bytes, TimePoint at, bool dot) override { queue(bytes, at, dot); }
    void dropUnsent() override;
    void hangUpWhenSent() override { hangUpPending = true; }
    char randomByte() override { return static_cast<char>(byteValues(rng)); }
    bool removeLineFor(std::chrono::milliseconds gone) override;

    const SimDeviceConfig config;
    UniqueFd master;
    UniqueFd slave; // kept open so the device survives the host closing and reopening the port
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    std::string slavePath;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    SimRecording rec;
    BootProgram program{config, rec, *this};

    LineClock rxClock;
    LineClock txClock;
    bool rxPending = false; // the pseudo-terminal holds bytes not yet taken
    bool txBlocked = false; // the host is not reading and the pseudo-terminal is full
    std::deque<TxByte> txQueue;

    bool hangUpPending = false;
    std::optional<TimePoint> lastAnswerSent;
    std::optional<TimePoint> hangUpCheckAt;

    std::mt19937 rng;
    std::uniform_int_distribution<int> byteValues{0, 255};
    std::optional<TimePoint> nextNoiseAt;
    std::size_t noiseLeft = 0;

    struct TextFlood {
        double bytesPerSecond = 0;
        std::size_t count = 0;
        std::size_t emitted = 0;
        TimePoint started;
        std::size_t lineLeft = 0; // printable characters before the next CR LF
        bool lfNext = false;      // the CR has gone out, the LF follows
    };
    std::optional<TextFlood> textFlood;
    std::optional<TimePoint> nextTextFloodAt;

    // When the port removed by a power cycle comes back.
    std::optional<TimePoint> portBackAt;

    std::jthread thread; // last: stopped and joined before the rest goes
};

SimDevice::Impl::Impl(SimDeviceConfig cfg)
    : config(std::move(cfg))
    , rxClock(config.baudRate, config.paced)
    , txClock(config.baudRate, config.paced)
    , rng(config.seed) {
    if (config.baudRate == 0) {
        throw std::invalid_argument("baud rate must not be zero");
    }
    openLine();

    std::array<int, 2> pipeFds{};
    if (::pipe(pipeFds.data()) != 0) {
        throwErrno("pipe");
    }
    wakeRead.reset(pipeFds[0]);
    wakeWrite.reset(pipeFds[1]);
    makeNonBlocking(pipeFds[0]);
    makeNonBlocking(pipeFds[1]);

    if (config.noise && config.noise->bytesPerSecond > 0) {
        noiseLeft = config.noise->count == 0 ? std::numeric_limits<std::size_t>::max()
                                             : config.noise->count;
        scheduleNoise(SimClock::now());
    }
    thread = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

SimDevice::Impl::~Impl() {
    thread.request_stop();
    wake();
    if (thread.joinable()) {
        thread.join();
    }
    if (!config.linkPath.empty()) {
        removeLinkTo(config.linkPath, slavePath);
    }
}

void SimDevice::Impl::openLine() {
    int masterFd = -1;
    int slaveFd = -1;
    if (::openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) != 0) {
        throwErrno("openpty");
    }
    master.reset(masterFd);
    slave.reset(slaveFd);
    makeNonBlocking(masterFd);
    makeNonBlocking(slaveFd);
    makeRaw(slaveFd);
    std::array<char, 128> name{};
    if (const int error = ::ttyname_r(slaveFd, name.data(), name.size()); error != 0) {
        throw std::system_error(error, std::generic_category(), "ttyname_r");
    }
    slavePath = name.data();
    if (!config.linkPath.empty()) {
        placeLink(config.linkPath, slavePath);
    }
}

bool SimDevice::Impl::removeLineFor(std::chrono::milliseconds gone) {
    closeLine();
    if (!config.linkPath.empty()) {
        removeLinkTo(config.linkPath, slavePath);
    }
    portBackAt = SimClock::now() + gone;
    return true;
}

void SimDevice::Impl::bringPortBack(TimePoint now) {
    if (!portBackAt || now < *portBackAt) {
        return;
    }
    portBackAt.reset();
    try {
        openLine();
    } catch (const std::system_error&) {
        return; // no pseudo-terminal to be had: the port stays away, as a dead adapter's
    }
    program.poweredOnWithNewLine();
}

void SimDevice::Impl::wake() const noexcept {
    const char token = 0;
    [[maybe_unused]] const auto written = ::write(wakeWrite.get(), &token, 1);
}

void SimDevice::Impl::run(const std::stop_token& stop) {
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
        const TimePoint now = SimClock::now();
        step(now);
        changed.notify_all();
        waitForEvents(lock, now);
    }
}

void SimDevice::Impl::waitForEvents(std::unique_lock<std::mutex>& lock, TimePoint now) {
    const auto deadline =
        earliest({rxPending ? std::optional(rxClock.next()) : std::nullopt,
                  !txQueue.empty() && !txBlocked ? std::optional(txClock.next()) : std::nullopt,
                  program.nextTimer(), nextNoiseAt, nextTextFloodAt, hangUpCheckAt, portBackAt});
    int timeout = -1;
    if (config.busyPoll) {
        timeout = 0;
    } else if (deadline) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
        timeout =
            static_cast<int>(std::clamp(wait, std::chrono::milliseconds{0}, longestWait).count());
    }
    // Pending input is taken by the clock, not by poll, which would report it at once.
    const auto masterEvents =
        static_cast<short>((rxPending ? 0 : POLLIN) | (txBlocked ? POLLOUT : 0));
    std::array<pollfd, 2> fds{
        {{wakeRead.get(), POLLIN, 0}, {masterEvents != 0 ? master.get() : -1, masterEvents, 0}}};

    lock.unlock();
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    lock.lock();
    if (ready <= 0) {
        return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        std::array<char, 64> sink{};
        while (::read(wakeRead.get(), sink.data(), sink.size()) > 0) {
        }
    }
    if (!master.valid() || fds[1].fd < 0) {
        return;
    }
    const TimePoint seen = SimClock::now();
    if ((fds[1].revents & POLLIN) != 0 && !rxPending) {
        rxPending = true;
        rxClock.start(seen);
    }
    if ((fds[1].revents & POLLOUT) != 0 && txBlocked) {
        txBlocked = false;
        txClock.start(seen);
    }
    if ((fds[1].revents & (POLLERR | POLLNVAL)) != 0) {
        closeLine();
    }
}

void SimDevice::Impl::step(TimePoint now) {
    bringPortBack(now);
    receive(now);
    runTimers(now);
    transmit(now);
}

void SimDevice::Impl::receive(TimePoint now) {
    std::array<char, ioChunk> buffer{};
    while (rxPending && master.valid()) {
        const std::size_t want = std::min(rxClock.due(now), buffer.size());
        if (want == 0) {
            return;
        }
        const auto got = ::read(master.get(), buffer.data(), want);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            rxPending = false; // all taken
            return;
        }
        const auto count = static_cast<std::size_t>(got);
        for (std::size_t i = 0; i < count; ++i) {
            const TimePoint at =
                rxClock.paced() ? rxClock.completionOf(static_cast<std::int64_t>(i)) : now;
            runTimers(at);
            program.take(buffer[i], at);
        }
        rxClock.advance(count);
        if (count < want) {
            rxPending = false;
        }
    }
}

void SimDevice::Impl::transmit(TimePoint now) {
    std::array<char, ioChunk> buffer{};
    while (master.valid() && !txBlocked && !txQueue.empty()) {
        const std::size_t count = std::min({txClock.due(now), txQueue.size(), buffer.size()});
        if (count == 0) {
            break;
        }
        std::transform(txQueue.begin(), txQueue.begin() + static_cast<std::ptrdiff_t>(count),
                       buffer.begin(), [](const TxByte& b) { return b.value; });
        const auto written = ::write(master.get(), buffer.data(), count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            txBlocked = true;
            break;
        }
        const auto sent = static_cast<std::size_t>(written);
        for (std::size_t i = 0; i < sent; ++i) {
            const TimePoint at =
                txClock.paced() ? txClock.completionOf(static_cast<std::int64_t>(i)) : now;
            rec.sent += txQueue.front().value;
            rec.sentAt.push_back(at);
            if (txQueue.front().dot) {
                rec.dots.push_back(at);
            }
            txQueue.pop_front();
        }
        txClock.advance(sent);
    }
    if (hangUpPending && txQueue.empty()) {
        hangUpOnceRead(now);
    }
}

// Closing the master discards what the host has not read yet, but the last answer would
// have reached the host before its adapter went: give it time to read it.
void SimDevice::Impl::hangUpOnceRead(TimePoint now) {
    if (!lastAnswerSent) {
        lastAnswerSent = now;
    }
    int unread = 0;
    const bool settled = now >= *lastAnswerSent + hangUpSettle;
    const bool read = ::ioctl(slave.get(), FIONREAD, &unread) != 0 || unread == 0;
    if ((settled && read) || now >= *lastAnswerSent + hangUpGrace) {
        closeLine();
    } else {
        hangUpCheckAt = now + 1ms;
    }
}

void SimDevice::Impl::runTimers(TimePoint until) {
    // Firmware timers and noise fire in the order they fall due.
    for (;;) {
        const auto programAt = program.nextTimer();
        const auto next = earliest({programAt, nextNoiseAt, nextTextFloodAt});
        if (!next || *next > until) {
            return;
        }
        if (next == programAt) {
            program.runTimer();
        } else if (next == nextNoiseAt) {
            emitNoise(*next);
        } else {
            emitTextFlood(*next);
        }
    }
}

void SimDevice::Impl::scheduleNoise(TimePoint after) {
    if (noiseLeft == 0) {
        nextNoiseAt.reset();
        return;
    }
    std::exponential_distribution<double> gap(config.noise->bytesPerSecond);
    nextNoiseAt = after + std::chrono::duration_cast<SimClock::duration>(
                              std::chrono::duration<double>(gap(rng)));
}

void SimDevice::Impl::emitNoise(TimePoint at) {
    queue(std::string(1, randomByte()), at);
    --noiseLeft;
    scheduleNoise(at);
}

char SimDevice::Impl::nextFloodCharacter() {
    // Printable, without ">", "_", "." and "P".
    static constexpr std::string_view alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOQRSTUVWXYZ0123456789 ,:;=+-*/()[]#%";
    TextFlood& flood = *textFlood;
    if (flood.lfNext) {
        flood.lfNext = false;
        return '\n';
    }
    if (flood.lineLeft == 0) {
        flood.lineLeft = std::uniform_int_distribution<std::size_t>(10, 100)(rng);
        flood.lfNext = true;
        return '\r';
    }
    --flood.lineLeft;
    return alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
}

void SimDevice::Impl::emitTextFlood(TimePoint at) {
    TextFlood& flood = *textFlood;
    const std::chrono::duration<double> since = at - flood.started;
    const auto due =
        std::min(flood.count, static_cast<std::size_t>(since.count() * flood.bytesPerSecond));
    std::string bytes;
    bytes.reserve(due > flood.emitted ? due - flood.emitted : 0);
    while (flood.emitted < due) {
        bytes += nextFloodCharacter();
        ++flood.emitted;
    }
    queue(bytes, at);
    if (flood.emitted < flood.count) {
        nextTextFloodAt = at + 1ms;
    } else {
        textFlood.reset();
        nextTextFloodAt.reset();
    }
}

void SimDevice::Impl::queue(std::string_view bytes, TimePoint at, bool dot) {
    if (!master.valid()) {
        return;
    }
    if (txQueue.empty() && !txBlocked) {
        txClock.start(at);
    }
    for (const char b : bytes) {
        txQueue.push_back({b, dot});
    }
}

void SimDevice::Impl::dropUnsent() {
    txQueue.clear();
    hangUpPending = false;
    lastAnswerSent.reset();
    hangUpCheckAt.reset();
}

void SimDevice::Impl::closeLine() {
    dropUnsent();
    master.reset();
    slave.reset();
    rxPending = false;
    txBlocked = false;
    nextNoiseAt.reset();
    textFlood.reset();
    nextTextFloodAt.reset();
    program.lineGone();
}

SimDevice::SimDevice(SimDeviceConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

SimDevice::~SimDevice() = default;

std::string SimDevice::slavePath() const {
    const std::scoped_lock lock(impl_->mutex);
    return impl_->slavePath;
}

const SimDeviceConfig& SimDevice::config() const noexcept {
    return impl_->config;
}

void SimDevice::powerCycle() {
    impl_->command([this](TimePoint) { impl_->program.powerCycle(); });
}

void SimDevice::powerCycleRemovingPort(std::chrono::milliseconds gone) {
    impl_->command([this, gone](TimePoint) { static_cast<void>(impl_->removeLineFor(gone)); });
}

bool SimDevice::portAway() const {
    const std::scoped_lock lock(impl_->mutex);
    return impl_->portBackAt.has_value();
}

void SimDevice::hangUp() {
    impl_->command([this](TimePoint) { impl_->closeLine(); });
}

void SimDevice::sendRaw(std::string_view bytes) {
    impl_->command([this, bytes](TimePoint now) { impl_->queue(bytes, now); });
}

void SimDevice::flood(std::size_t count) {
    impl_->command([this, count](TimePoint now) {
        std::string bytes(count, '\0');
        std::generate(bytes.begin(), bytes.end(), [this] { return impl_->randomByte(); });
        impl_->queue(bytes, now);
    });
}

void SimDevice::textFlood(double bytesPerSecond, std::size_t count) {
    impl_->command([this, bytesPerSecond, count](TimePoint now) {
        if (!impl_->master.valid() || bytesPerSecond <= 0 || count == 0) {
            return;
        }
        Impl::TextFlood flood;
        flood.bytesPerSecond = bytesPerSecond;
        flood.count = count;
        flood.started = now;
        flood.lineLeft = std::uniform_int_distribution<std::size_t>(10, 100)(impl_->rng);
        impl_->textFlood = flood;
        impl_->nextTextFloodAt = now + 1ms;
    });
}

SimRecording SimDevice::recording() const {
    const std::scoped_lock lock(impl_->mutex);
    return impl_->rec;
}

SimRecording SimDevice::takeRecording() {
    const std::scoped_lock lock(impl_->mutex);
    SimRecording taken = std::exchange(impl_->rec, SimRecording{});
    impl_->rec.mode = taken.mode;
    return taken;
}

bool SimDevice::waitFor(const std::function<bool(const SimRecording&)>& predicate,
                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return predicate(impl_->rec); });
}

bool SimDevice::waitForProgrammed(std::chrono::milliseconds timeout, std::size_t files) const {
    return waitFor([files](const SimRecording& r) { return r.programmedFiles.size() >= files; },
                   timeout);
}

bool SimDevice::waitForMode(SimMode mode, std::chrono::milliseconds timeout) const {
    return waitFor([mode](const SimRecording& r) { return r.mode == mode; }, timeout);
}

bool SimDevice::waitForReceived(std::size_t bytes, std::chrono::milliseconds timeout) const {
    return waitFor([bytes](const SimRecording& r) { return r.received.size() >= bytes; }, timeout);
}

} // namespace norvak
