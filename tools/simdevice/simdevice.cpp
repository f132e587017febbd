#include "simdevice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <random>
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

constexpr std::size_t maxLineLength = 1024; // longer than any S-record (514 characters)
constexpr std::size_t ioChunk = 4096;
constexpr auto hangUpGrace = 500ms; // at most this long for the host to read the last answer
constexpr auto hangUpSettle = 20ms;
constexpr std::int64_t bitsPerByte = 10; // start, 8 data, stop
// A byte lasts byteNanosTimesBaud / baud nanoseconds.
constexpr std::int64_t byteNanosTimesBaud = bitsPerByte * 1'000'000'000;

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

void setFlags(int fd) {
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        throwErrno("fcntl");
    }
}

// Schedule of one direction of the line. Byte k of a burst that started at base is complete
// at base + (k + 1) byte times; times are computed from the count, so no rounding error adds
// up over long runs. Unpaced, every byte is due at once.
class LineClock {
public:
    LineClock(std::uint32_t baudRate, bool paced)
        : baudRate_(baudRate)
        , paced_(paced) {}

    // Starts a burst at t, unless the previous one has not ended by then.
    void start(TimePoint t) noexcept {
        base_ = std::max(t, completionOf(-1));
        count_ = 0;
    }

    [[nodiscard]] TimePoint completionOf(std::int64_t k) const noexcept {
        return base_ + offset(count_ + k + 1);
    }
    [[nodiscard]] TimePoint next() const noexcept {
        return paced_ ? completionOf(0) : TimePoint::min();
    }

    // Bytes complete by now that have not been taken yet.
    [[nodiscard]] std::size_t due(TimePoint now) const noexcept {
        if (!paced_) {
            return std::numeric_limits<std::size_t>::max();
        }
        if (now < base_) {
            return 0;
        }
        // elapsed * baud / byteNanosTimesBaud, split so that hours of traffic cannot overflow
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - base_).count();
        std::int64_t complete = elapsed / byteNanosTimesBaud * baudRate_ +
                                elapsed % byteNanosTimesBaud * baudRate_ / byteNanosTimesBaud;
        if (offset(complete + 1) <= std::chrono::nanoseconds(elapsed)) {
            ++complete; // agree with completionOf(), which rounds down
        }
        return complete > count_ ? static_cast<std::size_t>(complete - count_) : 0;
    }

    void advance(std::size_t n) noexcept { count_ += static_cast<std::int64_t>(n); }
    [[nodiscard]] bool paced() const noexcept { return paced_; }

private:
    [[nodiscard]] SimClock::duration offset(std::int64_t bytes) const noexcept {
        if (!paced_) {
            return SimClock::duration::zero();
        }
        const std::int64_t nanos = bytes / baudRate_ * byteNanosTimesBaud +
                                   bytes % baudRate_ * byteNanosTimesBaud / baudRate_;
        return std::chrono::duration_cast<SimClock::duration>(std::chrono::nanoseconds(nanos));
    }

    std::int64_t baudRate_;
    bool paced_;
    TimePoint base_{};
    std::int64_t count_ = 0;
};

struct TxByte {
    char value;
    bool dot;
};

struct RxByte {
    char value;
    bool afterLoss; // the receiver dropped bytes just before this one
};

struct PendingLine {
    int number = 0;
    bool endRecord = false;
};

std::string errorText(int line) {
    // Neither '.' nor 'P': the host takes those for a dot and the end of the run.
    return "\r\nE: bad line " + std::to_string(line) + "\r\n";
}

} // namespace

struct SimDevice::Impl {
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
    [[nodiscard]] std::optional<TimePoint> nextDeadline() const;

    // Everything below runs with mutex held.
    void step(TimePoint now);
    void receive(TimePoint now);
    void transmit(TimePoint now);
    void advanceTo(TimePoint t);
    void emitNoise(TimePoint t);
    void scheduleNoise(TimePoint after);

    void onByte(char byte, TimePoint t);
    void takeLineByte(char byte, bool afterLoss, TimePoint t);
    void completeLine(TimePoint t);
    void finishLine(TimePoint t);
    void drainBuffer(TimePoint t);
    void answer(std::string_view bytes, TimePoint t, bool dot = false);
    void queue(std::string_view bytes, TimePoint t, bool dot = false);
    void doPowerCycle();
    void startReceiving(TimePoint t);
    void closeLine();
    [[nodiscard]] char randomByte() { return static_cast<char>(byteDist(rng)); }

    const SimDeviceConfig config;
    UniqueFd master;
    UniqueFd slave; // kept open so the device survives the host closing and reopening the port
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    std::string slavePath;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    SimRecording rec;

    LineClock rxClock;
    LineClock txClock;
    bool rxPending = false; // the pseudo-terminal holds bytes not yet taken
    bool txBlocked = false; // the host is not reading and the pseudo-terminal is full
    std::deque<TxByte> txQueue;
    bool hangUpWhenSent = false;
    std::optional<TimePoint> hangUpCheckAt; // waiting for the host to read the last answer
    std::optional<TimePoint> lastAnswerSent;

    std::optional<TimePoint> powerCycleAt;
    std::optional<TimePoint> busyUntil; // programming the pending line
    PendingLine pending;
    std::deque<RxByte> rxBuffer;
    bool overrun = false;
    std::string line;
    bool lineDamaged = false;
    int lineNumber = 0;
    SimProgrammedFile file;

    std::mt19937 rng;
    std::uniform_int_distribution<int> byteDist{0, 255};
    std::optional<TimePoint> nextNoiseAt;
    std::size_t noiseLeft = 0;

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
    int masterFd = -1;
    int slaveFd = -1;
    if (::openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr) != 0) {
        throwErrno("openpty");
    }
    master.reset(masterFd);
    slave.reset(slaveFd);
    setFlags(masterFd);
    setFlags(slaveFd);

    // A raw line until the host sets its own modes: no echo, no CR/LF mapping, no XON/XOFF.
    termios modes{};
    if (::tcgetattr(slaveFd, &modes) != 0) {
        throwErrno("tcgetattr");
    }
    ::cfmakeraw(&modes);
    ::cfsetspeed(&modes, B57600);
    if (::tcsetattr(slaveFd, TCSANOW, &modes) != 0) {
        throwErrno("tcsetattr");
    }
    std::array<char, 128> name{};
    if (const int error = ::ttyname_r(slaveFd, name.data(), name.size()); error != 0) {
        throw std::system_error(error, std::generic_category(), "ttyname_r");
    }
    slavePath = name.data();

    std::array<int, 2> pipeFds{};
    if (::pipe(pipeFds.data()) != 0) {
        throwErrno("pipe");
    }
    wakeRead.reset(pipeFds[0]);
    wakeWrite.reset(pipeFds[1]);
    setFlags(pipeFds[0]);
    setFlags(pipeFds[1]);

    if (!config.linkPath.empty()) {
        struct stat existing {};
        if (::lstat(config.linkPath.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode)) {
                throw std::system_error(std::make_error_code(std::errc::file_exists),
                                        config.linkPath);
            }
            ::unlink(config.linkPath.c_str());
        }
        if (::symlink(slavePath.c_str(), config.linkPath.c_str()) != 0) {
            throwErrno("symlink");
        }
    }

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
        std::array<char, 256> target{};
        const auto length = ::readlink(config.linkPath.c_str(), target.data(), target.size() - 1);
        if (length > 0 &&
            std::string_view(target.data(), static_cast<std::size_t>(length)) == slavePath) {
            ::unlink(config.linkPath.c_str());
        }
    }
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

std::optional<TimePoint> SimDevice::Impl::nextDeadline() const {
    std::optional<TimePoint> next;
    const auto consider = [&next](std::optional<TimePoint> t) {
        if (t && (!next || *t < *next)) {
            next = t;
        }
    };
    if (rxPending) {
        consider(rxClock.next());
    }
    if (!txQueue.empty() && !txBlocked) {
        consider(txClock.next());
    }
    consider(powerCycleAt);
    consider(busyUntil);
    consider(nextNoiseAt);
    consider(hangUpCheckAt);
    return next;
}

void SimDevice::Impl::waitForEvents(std::unique_lock<std::mutex>& lock, TimePoint now) {
    int timeout = -1;
    if (const auto deadline = nextDeadline()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
        timeout =
            static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 1000));
    }
    std::array<pollfd, 2> fds{};
    fds[0] = {wakeRead.get(), POLLIN, 0};
    short masterEvents = 0;
    if (!rxPending) {
        masterEvents |= POLLIN;
    }
    if (txBlocked) {
        masterEvents |= POLLOUT;
    }
    fds[1] = {masterEvents != 0 ? master.get() : -1, masterEvents, 0};

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
    receive(now);
    advanceTo(now);
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
            rxPending = false; // EAGAIN: all taken; EIO: no host has the port open
            return;
        }
        const auto count = static_cast<std::size_t>(got);
        for (std::size_t i = 0; i < count; ++i) {
            const TimePoint at =
                rxClock.paced() ? rxClock.completionOf(static_cast<std::int64_t>(i)) : now;
            onByte(buffer[i], at);
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
            rec.sent += txQueue.front().value;
            if (txQueue.front().dot) {
                rec.dots.push_back(
                    txClock.paced() ? txClock.completionOf(static_cast<std::int64_t>(i)) : now);
            }
            txQueue.pop_front();
        }
        txClock.advance(sent);
    }
    if (hangUpWhenSent && txQueue.empty()) {
        // Closing the master discards what the host has not read yet; give it time to read
        // the last answer first, as the answer would have reached it before the line went.
        // The pseudo-terminal hands bytes on asynchronously, so an empty queue only counts
        // once they have had a moment to arrive.
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
}

void SimDevice::Impl::advanceTo(TimePoint t) {
    for (;;) {
        // Timers fire in the order they fall due.
        const auto due = [t](const std::optional<TimePoint>& at) {
            return at && *at <= t;
        };
        std::optional<TimePoint>* first = nullptr;
        for (auto* timer : {&powerCycleAt, &busyUntil, &nextNoiseAt}) {
            if (due(*timer) && (first == nullptr || **timer < **first)) {
                first = timer;
            }
        }
        if (first == nullptr) {
            return;
        }
        const TimePoint at = **first;
        if (first == &powerCycleAt) {
            doPowerCycle();
        } else if (first == &busyUntil) {
            finishLine(at);
        } else {
            emitNoise(at);
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

void SimDevice::Impl::emitNoise(TimePoint t) {
    queue(std::string(1, randomByte()), t);
    --noiseLeft;
    scheduleNoise(t);
}

void SimDevice::Impl::onByte(char byte, TimePoint t) {
    advanceTo(t);
    rec.received += byte;
    rec.receivedAt.push_back(t);
    switch (rec.mode) {
    case SimMode::Application:
        if (byte == 'i' && config.autoPowerCycleAfter && !powerCycleAt) {
            powerCycleAt = t + *config.autoPowerCycleAfter;
        }
        break;
    case SimMode::BootCommand:
        if (byte == 'i') {
            char prompt = '>';
            while (config.garbagePrompt && prompt == '>') {
                prompt = randomByte();
            }
            answer(std::string_view(&prompt, 1), t);
        } else if (byte == 'f') {
            answer("_", t);
            startReceiving(t);
        }
        break;
    case SimMode::BootReceiving:
        if (!busyUntil) {
            takeLineByte(byte, std::exchange(overrun, false), t);
        } else if (rxBuffer.size() < config.receiveBufferSize) {
            rxBuffer.push_back({byte, std::exchange(overrun, false)});
        } else {
            ++rec.lostBytes;
            overrun = true;
        }
        break;
    case SimMode::HungUp:
        break;
    }
}

void SimDevice::Impl::startReceiving(TimePoint t) {
    rec.mode = SimMode::BootReceiving;
    lineNumber = 0;
    line.clear();
    lineDamaged = false;
    rxBuffer.clear();
    overrun = false;
    file = SimProgrammedFile{};
    file.started = t;
    file.lostBytes = rec.lostBytes; // the count at the start, turned into a difference at the end
}

void SimDevice::Impl::takeLineByte(char byte, bool afterLoss, TimePoint t) {
    lineDamaged = lineDamaged || afterLoss;
    if (byte == '\n') {
        completeLine(t);
    } else if (line.size() < maxLineLength) {
        line += byte;
    } else {
        lineDamaged = true;
    }
}

void SimDevice::Impl::completeLine(TimePoint t) {
    const int number = ++lineNumber;
    std::string text = std::exchange(line, {});
    const bool damaged = std::exchange(lineDamaged, false);
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    const bool empty = text.empty() && !damaged;
    const SrecCheck check = empty ? SrecCheck{} : checkSrecLine(text);
    if (damaged || !check.ok()) {
        rec.rejectedLines.push_back({number, std::move(text), t});
        ++file.rejectedLines;
        answer(errorText(number), t);
        if (config.hangUpAfterLine == number) {
            hangUpWhenSent = true;
        }
        return;
    }
    if (!empty && check.record.type >= 1 && check.record.type <= 3) {
        ++file.dataRecords;
        file.dataBytes += check.record.data.size();
    }
    rec.acceptedLines.push_back({number, std::move(text), t});
    pending = {number, !empty && isSrecTermination(check.record.type)};
    // With nothing to program the timer is due at once and the dot follows this byte.
    busyUntil = t + config.slowDots + (empty ? SimClock::duration::zero() : config.programmingTime);
}

void SimDevice::Impl::finishLine(TimePoint t) {
    busyUntil.reset();
    ++file.lines;
    const bool dotsStopped = config.dotsStopAfterLine && pending.number > *config.dotsStopAfterLine;
    if (!dotsStopped) {
        answer(".", t, true);
    }
    if (config.hangUpAfterLine == pending.number) {
        hangUpWhenSent = true;
    }
    if (pending.endRecord) {
        answer(SimDevice::programmedMessage, t);
        file.finished = t;
        file.lostBytes = rec.lostBytes - file.lostBytes;
        rec.programmedFiles.push_back(file);
        rec.mode = SimMode::Application;
        rxBuffer.clear();
        return;
    }
    drainBuffer(t);
}

void SimDevice::Impl::drainBuffer(TimePoint t) {
    while (!busyUntil && rec.mode == SimMode::BootReceiving && !rxBuffer.empty()) {
        const RxByte next = rxBuffer.front();
        rxBuffer.pop_front();
        takeLineByte(next.value, next.afterLoss, t);
    }
}

void SimDevice::Impl::answer(std::string_view bytes, TimePoint t, bool dot) {
    if (!config.silent) {
        queue(bytes, t, dot);
    }
}

void SimDevice::Impl::queue(std::string_view bytes, TimePoint t, bool dot) {
    if (rec.mode == SimMode::HungUp) {
        return;
    }
    if (txQueue.empty() && !txBlocked) {
        txClock.start(t);
    }
    for (const char b : bytes) {
        txQueue.push_back({b, dot});
    }
}

void SimDevice::Impl::doPowerCycle() {
    if (rec.mode == SimMode::HungUp) {
        powerCycleAt.reset();
        return;
    }
    ++rec.powerCycles;
    rec.mode = SimMode::BootCommand;
    powerCycleAt.reset();
    busyUntil.reset();
    rxBuffer.clear();
    overrun = false;
    line.clear();
    lineDamaged = false;
    txQueue.clear();
    hangUpWhenSent = false;
    hangUpCheckAt.reset();
    lastAnswerSent.reset();
}

void SimDevice::Impl::closeLine() {
    master.reset();
    slave.reset();
    rec.mode = SimMode::HungUp;
    txQueue.clear();
    rxPending = false;
    txBlocked = false;
    hangUpWhenSent = false;
    hangUpCheckAt.reset();
    lastAnswerSent.reset();
    busyUntil.reset();
    powerCycleAt.reset();
    nextNoiseAt.reset();
}

SimDevice::SimDevice(SimDeviceConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

SimDevice::~SimDevice() = default;

const std::string& SimDevice::slavePath() const noexcept {
    return impl_->slavePath;
}

const SimDeviceConfig& SimDevice::config() const noexcept {
    return impl_->config;
}

void SimDevice::powerCycle() {
    impl_->command([this](TimePoint) { impl_->doPowerCycle(); });
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

SimRecording SimDevice::recording() const {
    const std::scoped_lock lock(impl_->mutex);
    return impl_->rec;
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
