#pragma once

// norvak-flash-cli's command line: the subcommand, its options, and the help texts.

#include "protocol/run_timing.h"
#include "tools/cli/usb_adapter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace norvak::cli {

enum class Command { None, Ports, Check, Program };

// Exit statuses of the program. Those of `program` follow the window's own outcomes.
namespace exit_status {
inline constexpr int ok = 0;
inline constexpr int badRecords = 1;    // check: an error, or with --strict a warning
inline constexpr int noBootProgram = 2; // "Restart to bootprogram failled!"
inline constexpr int dotTimeout = 3;    // "Programming FAILLED"
inline constexpr int portFailed = 4;    // no port opened, or it was lost; --usb chose none
inline constexpr int fileUnreadable = 5;
inline constexpr int interrupted = 6;     // SIGINT, SIGTERM or SIGHUP
inline constexpr int programmedEarly = 7; // "P" came before the file's last line went out
inline constexpr int usage = 64;          // the command line was refused, or --report's file
} // namespace exit_status

// The pause items of the window's speed list, in milliseconds after each line.
inline constexpr const auto& speedChoices = protocol::speedItemMilliseconds;
inline constexpr int normalSpeed = speedChoices[protocol::normalSpeedItem];

struct CliOptions {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    bool json = false;
    // program
    std::optional<int> port;
    QString device;
    // --usb: the port of the one adapter that matches
    std::optional<UsbId> usb;
    QString file;         // also check's FILE, as the system's encoding reads it
    QByteArray fileBytes; // the same name as given, byte for byte
    int speedMs = normalSpeed;
    bool check = false;
    bool strict = false;      // check, program --check: warnings count as errors
    QString report;           // program: the file the run's line is appended to; empty: none
    bool waitForPort = false; // program: the port is opened once it appears

    // The index of the speed list's item for speedMs (0 = the fastest).
    [[nodiscard]] int speedItem() const {
        return speedMs / static_cast<int>(protocol::pauseStep.count()) - 1;
    }
};

struct ParsedCli {
    std::optional<CliOptions> options; // empty when refused
    QString error;                     // why, with what to do instead
    Command command = Command::None;   // the subcommand the error belongs to
};

// `arguments` includes the program name first, as main() got them.
[[nodiscard]] ParsedCli parseCli(const QList<QByteArray>& arguments);
[[nodiscard]] ParsedCli parseCli(const QStringList& arguments);
[[nodiscard]] QString usage(Command command);
[[nodiscard]] QString versionText();

} // namespace norvak::cli
