#include "tools/simdevice/simdevice.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace norvak;
using namespace std::chrono_literals;

namespace {

// Generous: these only bound how long a broken device is waited for.
constexpr auto patience = 10s;

QByteArray qb(std::string_view bytes) {
    return {bytes.data(), static_cast<qsizetype>(bytes.size())};
}

// The host's end of the line, with plain reads and writes on the slave.
class Host {
public:
    explicit Host(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Host() { close(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto n = ::write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                pollFor(POLLOUT, 100ms);
            }
        }
        return true;
    }

    // Reads until everything received so far satisfies done; false on timeout or hang-up.
    template <typename Done>
    bool readUntil(Done done, std::chrono::milliseconds timeout = patience) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(received_)) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= 0s || !readSome(std::chrono::ceil<std::chrono::milliseconds>(left))) {
                return done(received_);
            }
        }
        return true;
    }
    bool readText(std::string_view needle, std::chrono::milliseconds timeout = patience) {
        return readUntil(
            [needle](const std::string& r) { return r.find(needle) != std::string::npos; },
            timeout);
    }
    bool readCount(std::size_t count) {
        return readUntil([count](const std::string& r) { return r.size() >= count; });
    }
    // What has arrived by now, without waiting.
    const std::string& drain() {
        readSome(0ms);
        return received_;
    }

    // True once the device end has gone away.
    bool waitHangUp() {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < deadline) {
            if ((pollFor(POLLIN, 100ms) & (POLLHUP | POLLERR)) != 0) {
                return true;
            }
            std::array<char, 256> buffer{};
            const auto n = ::read(fd_, buffer.data(), buffer.size());
            if (n == 0 || (n < 0 && errno == EIO)) {
                return true;
            }
        }
        return false;
    }

    [[nodiscard]] const std::string& received() const { return received_; }
    void forget() { received_.clear(); }

private:
    short pollFor(short events, std::chrono::milliseconds timeout) const {
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0 ? p.revents : short{0};
    }

    bool readSome(std::chrono::milliseconds timeout) {
        const short events = pollFor(POLLIN, timeout);
        if ((events & POLLIN) == 0) {
            return timeout == 0ms && (events & POLLHUP) == 0;
        }
        std::array<char, 4096> buffer{};
        const auto n = ::read(fd_, buffer.data(), buffer.size());
        if (n <= 0) {
            return errno == EAGAIN;
        }
        received_.append(buffer.data(), static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    std::string received_;
};

SimDeviceConfig fast() {
    SimDeviceConfig config;
    config.paced = false;
    return config;
}

std::vector<std::string> dataLines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> data(16);
        std::fill(data.begin(), data.end(), static_cast<std::uint8_t>(i));
        lines.push_back(makeSrecLine(1, static_cast<std::uint32_t>(16 * i), data));
    }
    return lines;
}

// Power cycle, "i" -> ">", "f" -> "_": the boot program then waits for lines.
void enterBoot(SimDevice& device, Host& host) {
    device.powerCycle();
    QVERIFY(host.write("i"));
    QVERIFY(host.readText(">"));
    QVERIFY(host.write("f"));
    QVERIFY(host.readText("_"));
    host.forget();
}

int countOf(std::string_view text, char c) {
    return static_cast<int>(std::count(text.begin(), text.end(), c));
}

} // namespace

class TestSimDevice : public QObject {
    Q_OBJECT

private slots:
    void programsAFile_data() {
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::addColumn<bool>("busyPoll");
        QTest::newRow("CRLF") << QByteArray("\r\n") << false;
        QTest::newRow("LF") << QByteArray("\n") << false;
        QTest::newRow("LF, polling without sleep") << QByteArray("\n") << true;
    }

    void programsAFile() {
        QFETCH(QByteArray, lineEnd);
        QFETCH(bool, busyPoll);
        SimDeviceConfig config = fast();
        config.busyPoll = busyPoll;
        SimDevice device(config);
        Host host(device.slavePath());
        QVERIFY(host.isOpen());

        // The application ignores "i"; the boot program answers each one.
        QVERIFY(host.write("i"));
        QVERIFY(device.waitForReceived(1, patience));
        QCOMPARE(device.recording().mode, SimMode::Application);
        device.powerCycle();
        QVERIFY(host.write("ii"));
        QVERIFY(host.readCount(2));
        QCOMPARE(qb(host.received()), QByteArray(">>"));
        QVERIFY(host.write("f"));
        QVERIFY(host.readText("_"));
        QCOMPARE(device.recording().mode, SimMode::BootReceiving);

        SrecImageOptions options;
        options.lineEnd = lineEnd.toStdString();
        const std::vector<std::uint8_t> payload(100, 0x5A);
        std::string image = makeSrecImage(payload, options);
        image.insert(image.find(options.lineEnd) + options.lineEnd.size(), options.lineEnd);
        // one line per dot, the empty line included
        int lines = 0;
        for (std::size_t start = 0, end; (end = image.find('\n', start)) != std::string::npos;
             start = end + 1) {
            QVERIFY(host.write(std::string_view(image).substr(start, end + 1 - start)));
            ++lines;
            QVERIFY(
                host.readUntil([lines](const std::string& r) { return countOf(r, '.') >= lines; }));
        }
        QVERIFY(host.readText(SimDevice::programmedMessage));
        QCOMPARE(qb(host.received()),
                 ">>_" + QByteArray(lines, '.') + qb(SimDevice::programmedMessage));

        const SimRecording rec = device.recording();
        QCOMPARE(rec.mode, SimMode::Application);
        QCOMPARE(qb(rec.received), "iiif" + qb(image));
        QCOMPARE(rec.receivedAt.size(), rec.received.size());
        QVERIFY(std::is_sorted(rec.receivedAt.begin(), rec.receivedAt.end()));
        QCOMPARE(qb(rec.sent), qb(host.received()));
        QCOMPARE(static_cast<int>(rec.acceptedLines.size()), lines);
        QCOMPARE(static_cast<int>(rec.dots.size()), lines);
        QVERIFY(rec.rejectedLines.empty());
        QCOMPARE(rec.acceptedLines[1].text, ""); // the empty line
        QCOMPARE(rec.acceptedLines.back().text, "S9030000FC");
        QCOMPARE(rec.acceptedLines.back().number, lines);
        QCOMPARE(rec.powerCycles, 1);
        QCOMPARE(rec.programmedFiles.size(), std::size_t{1});
        const SimProgrammedFile& file = rec.programmedFiles.front();
        QCOMPARE(file.lines, lines);
        QCOMPARE(file.dataRecords, 7);
        QCOMPARE(file.dataBytes, payload.size());
        QCOMPARE(file.rejectedLines, 0);
        QVERIFY(file.finished >= file.started);

        // taking the recording starts a new one
        QCOMPARE(device.takeRecording().received.size(), rec.received.size());
        const SimRecording fresh = device.recording();
        QVERIFY(fresh.received.empty() && fresh.programmedFiles.empty());
        QCOMPARE(fresh.mode, SimMode::Application);
    }

    void damagedLineGetsErrorAndNoDot() {
        SimDevice device(fast());
        Host host(device.slavePath());
        enterBoot(device, host);

        std::string broken = dataLines(1).front();
        broken.back() = broken.back() == '0' ? '1' : '0';
        QVERIFY(host.write(broken + "\n"));
        QVERIFY(host.readText("\r\nE: bad line 1\r\n"));
        QVERIFY(host.write(dataLines(2).back() + "\n"));
        QVERIFY(host.readText("."));
        QCOMPARE(qb(host.received()), QByteArray("\r\nE: bad line 1\r\n."));
        const SimRecording rec = device.recording();
        QCOMPARE(rec.rejectedLines.size(), std::size_t{1});
        QCOMPARE(rec.rejectedLines.front().text, broken);
        QCOMPARE(rec.acceptedLines.front().number, 2);
    }

    void autoPowerCycleFollowsFirstPrompt() {
        SimDeviceConfig config = fast();
        config.autoPowerCycleAfter = 100ms;
        SimDevice device(config);
        Host host(device.slavePath());

        // as the host does: "i" every 5 ms until ">"
        const auto start = std::chrono::steady_clock::now();
        bool prompted = false;
        while (!prompted && std::chrono::steady_clock::now() - start < patience) {
            QVERIFY(host.write("i"));
            prompted = host.readText(">", 5ms);
        }
        QVERIFY(prompted);
        QVERIFY(std::chrono::steady_clock::now() - start >= 100ms);
        const SimRecording rec = device.recording();
        QCOMPARE(rec.powerCycles, 1);
        QVERIFY(rec.received.size() >= 2);
    }

    void receivingKeepsLinePace() {
        SimDevice device; // paced, application: takes and records everything
        Host host(device.slavePath());
        const std::string bytes(5760, 'x'); // one second at 57600 baud
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(host.write(bytes));
        QVERIFY(device.waitForReceived(bytes.size(), patience));
        const auto elapsed = std::chrono::steady_clock::now() - start;

        const SimRecording rec = device.recording();
        QCOMPARE(rec.received.size(), bytes.size());
        QVERIFY(elapsed >= 950ms);
        QVERIFY(rec.receivedAt.back() - rec.receivedAt.front() >= 990ms);
        qInfo("5760 bytes taken in %.3f s", std::chrono::duration<double>(elapsed).count());
    }

    void sendingKeepsLinePace() {
        SimDevice device;
        Host host(device.slavePath());
        const auto start = std::chrono::steady_clock::now();
        device.flood(5760);
        QVERIFY(host.readCount(5760));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        QVERIFY(elapsed >= 950ms);
        qInfo("5760 bytes sent in %.3f s", std::chrono::duration<double>(elapsed).count());

        // a flood spans all byte values
        const std::set<char> values(host.received().begin(), host.received().end());
        QVERIFY(values.size() > 250);
        QCOMPARE(qb(device.recording().sent), qb(host.received()));
    }

    void fullBufferLosesBytesAndDamagesTheLine() {
        SimDeviceConfig config; // paced: the lines arrive while the first is programmed
        config.programmingTime = 500ms;
        config.receiveBufferSize = 16;
        SimDevice device(config);
        Host host(device.slavePath());
        enterBoot(device, host);

        const auto lines = dataLines(4);
        QVERIFY(host.write(lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n"));
        QVERIFY(host.readText("."));
        // 16 bytes of line 2 waited in the buffer; the rest of lines 2 and 3 was lost,
        // so line 4 completes a damaged line 2.
        QVERIFY(host.write(lines[3] + "\n"));
        QVERIFY(host.readText("E: bad line 2\r\n"));
        QCOMPARE(qb(host.received()), QByteArray(".\r\nE: bad line 2\r\n"));

        const SimRecording rec = device.recording();
        QCOMPARE(rec.lostBytes, 2 * (lines[1].size() + 1) - 16);
        QCOMPARE(rec.acceptedLines.size(), std::size_t{1});
        QCOMPARE(rec.dots.size(), std::size_t{1});
        QCOMPARE(rec.rejectedLines.front().text.substr(0, 16), lines[1].substr(0, 16));
    }

    void pausingHostLosesNothing() {
        SimDeviceConfig config;
        config.programmingTime = 10ms;
        SimDevice device(config);
        Host host(device.slavePath());
        enterBoot(device, host);

        const auto image = makeSrecImage(std::vector<std::uint8_t>(160, 0x11));
        for (std::size_t start = 0, end; (end = image.find('\n', start)) != std::string::npos;
             start = end + 1) {
            QVERIFY(host.write(std::string_view(image).substr(start, end + 1 - start)));
            std::this_thread::sleep_for(25ms); // longer than line and programming together
        }
        QVERIFY(device.waitForProgrammed(patience));
        const SimRecording rec = device.recording();
        QCOMPARE(rec.lostBytes, std::size_t{0});
        QVERIFY(rec.rejectedLines.empty());
        QCOMPARE(rec.dots.size(), std::size_t{12});
    }

    void silentDeviceNeverAnswers() {
        SimDeviceConfig config = fast();
        config.silent = true;
        SimDevice device(config);
        Host host(device.slavePath());
        device.powerCycle();
        QVERIFY(host.write("iif" + dataLines(1).front() + "\nS9030000FC\n"));
        QVERIFY(device.waitForProgrammed(patience));
        QCOMPARE(device.recording().sent, "");
        QCOMPARE(host.drain(), "");
    }

    void dotsStopAfterLine() {
        SimDeviceConfig config = fast();
        config.dotsStopAfterLine = 2;
        SimDevice device(config);
        Host host(device.slavePath());
        enterBoot(device, host);
        for (const auto& line : dataLines(4)) {
            QVERIFY(host.write(line + "\n"));
        }
        QVERIFY(device.waitFor([](const SimRecording& r) { return r.acceptedLines.size() == 4; },
                               patience));
        QCOMPARE(device.recording().dots.size(), std::size_t{2});
        QVERIFY(host.readCount(2));
        QCOMPARE(host.drain(), "..");
    }

    void slowDotsComeLate() {
        SimDeviceConfig config = fast();
        config.slowDots = 300ms;
        SimDevice device(config);
        Host host(device.slavePath());
        enterBoot(device, host);
        QVERIFY(host.write(dataLines(1).front() + "\n"));
        QVERIFY(host.readText("."));
        const SimRecording rec = device.recording();
        QVERIFY(rec.dots.front() - rec.acceptedLines.front().at >= 300ms);
    }

    void hangsUpAfterLine() {
        SimDeviceConfig config = fast();
        config.hangUpAfterLine = 1;
        SimDevice device(config);
        Host host(device.slavePath());
        enterBoot(device, host);
        QVERIFY(host.write(dataLines(1).front() + "\n"));
        QVERIFY(host.readText("."));
        QVERIFY(host.waitHangUp());
        QVERIFY(device.waitForMode(SimMode::HungUp, patience));
        QCOMPARE(host.received(), ".");
        device.powerCycle(); // a vanished adapter stays gone
        QCOMPARE(device.recording().mode, SimMode::HungUp);
    }

    void hangUpOnCommand() {
        SimDevice device(fast());
        Host host(device.slavePath());
        device.hangUp();
        QVERIFY(host.waitHangUp());
        QCOMPARE(device.recording().mode, SimMode::HungUp);
    }

    void noiseIsSeeded() {
        SimDeviceConfig config = fast();
        config.noise = SimNoise{2000.0, 40};
        config.seed = 7;
        std::array<std::string, 2> heard;
        for (auto& bytes : heard) {
            SimDevice device(config);
            Host host(device.slavePath());
            QVERIFY(host.readCount(40));
            QVERIFY(device.waitFor([](const SimRecording& r) { return r.sent.size() == 40; },
                                   patience));
            bytes = host.received();
            QCOMPARE(bytes, device.recording().sent);
        }
        QCOMPARE(heard[0], heard[1]);
    }

    void garbageInsteadOfPrompt() {
        SimDeviceConfig config = fast();
        config.garbagePrompt = true;
        SimDevice device(config);
        Host host(device.slavePath());
        device.powerCycle();
        QVERIFY(host.write("iiiiiiii"));
        QVERIFY(host.readCount(8));
        QCOMPARE(host.received().size(), std::size_t{8});
        QVERIFY(host.received().find('>') == std::string::npos);
    }

    void sendRawReachesHost() {
        SimDevice device(fast());
        Host host(device.slavePath());
        device.sendRaw("P\r\n");
        QVERIFY(host.readCount(3));
        QCOMPARE(host.received(), "P\r\n");
    }

    void textFloodKeepsItsRateAndLetsAnswersThrough() {
        SimDevice device(fast());
        Host host(device.slavePath());
        enterBoot(device, host);
        constexpr std::size_t count = 100'000;
        const auto start = std::chrono::steady_clock::now();
        device.textFlood(200'000, count); // half a second
        QVERIFY(host.write(dataLines(1)[0] + "\n"));
        QVERIFY(host.readCount(count + 1));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        QVERIFY(elapsed >= 450ms);
        qInfo("%zu bytes of text in %.3f s", count, std::chrono::duration<double>(elapsed).count());

        // The dot comes at once, in among the text, not behind all of it.
        const std::string& text = host.received();
        QCOMPARE(countOf(text, '.'), 1);
        QVERIFY(text.find('.') < count / 4);
        std::string flood = text;
        flood.erase(flood.find('.'), 1);
        QCOMPARE(flood.size(), count);
        // Printable lines with CR LF, none of the protocol's characters among them.
        for (const char c : std::string_view(">_.P")) {
            QCOMPARE(countOf(flood, c), 0);
        }
        QVERIFY(std::all_of(flood.begin(), flood.end(), [](char c) {
            return (c >= ' ' && c <= '~') || c == '\r' || c == '\n';
        }));
        std::size_t lines = 0;
        for (std::size_t at = flood.find('\r'); at != std::string::npos;
             at = flood.find('\r', at + 1)) {
            QVERIFY(at + 1 == flood.size() || flood[at + 1] == '\n');
            ++lines;
        }
        QCOMPARE(static_cast<std::size_t>(countOf(flood, '\n')), lines);
        QVERIFY(lines > count / 102 && lines < count / 10);
        QCOMPARE(qb(device.recording().sent), ">_" + qb(host.received()));
    }

    void survivesHostReopening() {
        SimDevice device(fast());
        {
            Host first(device.slavePath());
            QVERIFY(first.write("x"));
            QVERIFY(device.waitForReceived(1, patience));
        }
        Host second(device.slavePath());
        QVERIFY(second.isOpen());
        device.powerCycle();
        QVERIFY(second.write("i"));
        QVERIFY(second.readText(">"));
    }

    void linkPointsToTheDevice() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        SimDeviceConfig config = fast();
        config.linkPath = dir.filePath("ttyNORVAK").toStdString();
        {
            SimDevice device(config);
            std::array<char, 256> target{};
            const auto length = ::readlink(config.linkPath.c_str(), target.data(), target.size());
            QVERIFY(length > 0);
            QCOMPARE(std::string(target.data(), static_cast<std::size_t>(length)),
                     device.slavePath());
            Host host(config.linkPath);
            device.powerCycle();
            QVERIFY(host.write("i"));
            QVERIFY(host.readText(">"));
        }
        QVERIFY(::access(config.linkPath.c_str(), F_OK) != 0);

        // a file that is not a link is never replaced
        const int fd = ::open(config.linkPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY_THROWS_EXCEPTION(std::system_error, SimDevice{config});
    }
};

QTEST_GUILESS_MAIN(TestSimDevice)
#include "test_simdevice.moc"
