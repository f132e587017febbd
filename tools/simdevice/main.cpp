// norvak-simdevice: a device with a serial boot program behind a pseudo-terminal.
// Runs until SIGINT or SIGTERM; SIGUSR1 power-cycles the device, SIGUSR2 floods the line.

#include "tools/simdevice/simdevice.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;
using norvak::SimDeviceConfig;

constexpr std::string_view usage = R"(usage: norvak-simdevice [options]
  --link PATH              also reach the device through a symlink at PATH
  --auto-power-cycle MS    power-cycle MS after the first "i" (default 500)
  --no-auto-power-cycle    power-cycle only on SIGUSR1
  --power-cycle-removes-port MS
                           the automatic power cycle takes the port with it: the line
                           closes and a new one appears behind --link MS later
  --programming-time MS    time to program one line before its "." (default 0)
  --buffer BYTES           receive buffer while programming (default 256)
  --baud N                 line speed (default 57600)
  --no-pace                pass bytes as fast as possible
  --seed N                 seed for noise, garbage and floods (default 1)
  --silent                 never answer
  --report-received        print what arrived, about five times a second: how many bytes
                           of each kind, first and last arrival in seconds since the start
  --stop-dots-after K      no "." after line K
  --slow-dots MS           extra delay before every "."
  --hang-up-after K        close the line after answering line K
  --noise RATE[:COUNT]     random bytes at RATE per second, COUNT in total (0 = no end)
  --garbage-prompt         answer "i" with a random byte instead of ">"
  --flood N                bytes sent on SIGUSR2 (default 1000)
  --text-flood RATE[:COUNT]  from the start, lines of printable text with CR LF at RATE
                           bytes per second, COUNT in all (0 = no end); use --no-pace
                           for more than the baud rate carries
SIGUSR1 power-cycles the device, SIGUSR2 floods the line, SIGINT/SIGTERM end the program.
)";

struct Options {
    SimDeviceConfig config;
    std::size_t floodBytes = 1000;
    std::optional<norvak::SimNoise> textFlood; // rate and count, as for the noise
    bool reportReceived = false;
};

template <typename T> T parseNumber(std::string_view text, std::string_view option) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        throw std::invalid_argument(std::string(option) + ": not a number: " + std::string(text));
    }
    return value;
}

std::chrono::microseconds parseMillis(std::string_view text, std::string_view option) {
    const auto millis = parseNumber<double>(text, option);
    if (millis < 0) {
        throw std::invalid_argument(std::string(option) + ": must not be negative");
    }
    return std::chrono::microseconds(static_cast<std::int64_t>(millis * 1000.0));
}

Options parseOptions(const std::vector<std::string_view>& args) {
    Options options;
    SimDeviceConfig& config = options.config;
    config.autoPowerCycleAfter = 500ms;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view option = args[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) {
                throw std::invalid_argument(std::string(option) + " needs a value");
            }
            return args[++i];
        };
        if (option == "--link") {
            config.linkPath = std::string(value());
        } else if (option == "--auto-power-cycle") {
            config.autoPowerCycleAfter =
                std::chrono::duration_cast<std::chrono::milliseconds>(parseMillis(value(), option));
        } else if (option == "--power-cycle-removes-port") {
            config.powerCycleRemovesPortFor =
                std::chrono::duration_cast<std::chrono::milliseconds>(parseMillis(value(), option));
        } else if (option == "--no-auto-power-cycle") {
            config.autoPowerCycleAfter.reset();
        } else if (option == "--programming-time") {
            config.programmingTime = parseMillis(value(), option);
        } else if (option == "--buffer") {
            config.receiveBufferSize = parseNumber<std::size_t>(value(), option);
        } else if (option == "--baud") {
            config.baudRate = parseNumber<std::uint32_t>(value(), option);
        } else if (option == "--no-pace") {
            config.paced = false;
        } else if (option == "--seed") {
            config.seed = parseNumber<std::uint32_t>(value(), option);
        } else if (option == "--silent") {
            config.silent = true;
        } else if (option == "--report-received") {
            options.reportReceived = true;
        } else if (option == "--stop-dots-after") {
            config.dotsStopAfterLine = parseNumber<int>(value(), option);
        } else if (option == "--slow-dots") {
            config.slowDots = parseMillis(value(), option);
        } else if (option == "--hang-up-after") {
            config.hangUpAfterLine = parseNumber<int>(value(), option);
        } else if (option == "--noise") {
            const std::string_view spec = value();
            const auto colon = spec.find(':');
            norvak::SimNoise noise;
            noise.bytesPerSecond = parseNumber<double>(spec.substr(0, colon), option);
            if (colon != std::string_view::npos) {
                noise.count = parseNumber<std::size_t>(spec.substr(colon + 1), option);
            }
            config.noise = noise;
        } else if (option == "--garbage-prompt") {
            config.garbagePrompt = true;
        } else if (option == "--text-flood") {
            const std::string_view spec = value();
            const auto colon = spec.find(':');
            norvak::SimNoise flood;
            flood.bytesPerSecond = parseNumber<double>(spec.substr(0, colon), option);
            if (colon != std::string_view::npos) {
                flood.count = parseNumber<std::size_t>(spec.substr(colon + 1), option);
            }
            options.textFlood = flood;
        } else if (option == "--flood") {
            options.floodBytes = parseNumber<std::size_t>(value(), option);
        } else {
            throw std::invalid_argument("unknown option " + std::string(option));
        }
    }
    return options;
}

// Damaged lines may hold any byte; the terminal gets '?' for the unprintable ones.
std::string printable(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c < ' ' || c > '~'; }, '?');
    return text;
}

// "received 40 bytes (40 'i') 1.005-1.200 s": a rig measures the host's wake-up rate by it.
void printReceived(const norvak::SimRecording& recording, norvak::SimClock::time_point start) {
    if (recording.received.empty()) {
        return;
    }
    const auto seconds = [start](norvak::SimClock::time_point at) {
        return std::chrono::duration<double>(at - start).count();
    };
    const auto wakeUps = std::count(recording.received.begin(), recording.received.end(), 'i');
    std::printf("received %zu bytes (%td 'i') %.3f-%.3f s\n", recording.received.size(), wakeUps,
                seconds(recording.receivedAt.front()), seconds(recording.receivedAt.back()));
}

void printFile(std::size_t index, const norvak::SimProgrammedFile& file) {
    const std::chrono::duration<double> took = file.finished - file.started;
    std::printf("file %zu programmed: %d lines, %d data records, %zu data bytes, %.2f s, "
                "%d rejected lines, %zu bytes lost\n",
                index, file.lines, file.dataRecords, file.dataBytes, took.count(),
                file.rejectedLines, file.lostBytes);
    std::fflush(stdout);
}

int run(const Options& options) {
    // Blocked before the device thread starts, so that only sigtimedwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto start = norvak::SimClock::now();
    norvak::SimDevice device(options.config);
    std::printf("device at %s\n", device.slavePath().c_str());
    if (!options.config.linkPath.empty()) {
        std::printf("link at %s\n", options.config.linkPath.c_str());
    }
    std::fflush(stdout);

    if (options.textFlood) {
        const std::size_t count = options.textFlood->count == 0
                                      ? std::numeric_limits<std::size_t>::max()
                                      : options.textFlood->count;
        device.textFlood(options.textFlood->bytesPerSecond, count);
    }
    std::size_t filesProgrammed = 0;
    bool hangUpShown = false;
    const timespec tick{0, 200'000'000};
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        if (signal == SIGUSR1) {
            device.powerCycle();
            std::printf("power cycled\n");
        } else if (signal == SIGUSR2) {
            device.flood(options.floodBytes);
            std::printf("flooding %zu bytes\n", options.floodBytes);
        }
        // taken, not copied: a device left running does not keep all its traffic
        const norvak::SimRecording recording = device.takeRecording();
        if (options.reportReceived) {
            printReceived(recording, start);
        }
        for (const auto& line : recording.rejectedLines) {
            std::printf("line %d rejected: %s\n", line.number, printable(line.text).c_str());
        }
        for (const auto& file : recording.programmedFiles) {
            printFile(++filesProgrammed, file);
        }
        if (recording.mode == norvak::SimMode::HungUp && !hangUpShown) {
            hangUpShown = true;
            std::printf("line hung up\n");
        }
        std::fflush(stdout);
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (const auto arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << usage;
            return EXIT_SUCCESS;
        }
    }
    try {
        return run(parseOptions(args));
    } catch (const std::invalid_argument& e) {
        std::cerr << "norvak-simdevice: " << e.what() << '\n' << usage;
    } catch (const std::exception& e) {
        std::cerr << "norvak-simdevice: " << e.what() << '\n';
    }
    return EXIT_FAILURE;
}
