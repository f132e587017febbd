#include "tools/cli/cli_options.h"

#include "firmwarefile/srec_check.h"
#include "tools/cli/named_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#ifndef NORVAK_VERSION
#define NORVAK_VERSION "unknown"
#endif

namespace norvak::cli {

namespace {

constexpr int highestPort = std::numeric_limits<std::int16_t>::max();

// What interrupts a run, as the operator gives it.
#ifdef Q_OS_WIN
constexpr QLatin1StringView interruptions("Ctrl-C or Ctrl-Break");
#else
constexpr QLatin1StringView interruptions("SIGINT, SIGTERM or SIGHUP");
#endif

QString commandName(Command command) {
    switch (command) {
    case Command::Ports:
        return QStringLiteral("ports");
    case Command::Check:
        return QStringLiteral("check");
    case Command::Program:
        return QStringLiteral("program");
    case Command::None:
        break;
    }
    return {};
}

std::optional<Command> commandNamed(const QString& name) {
    for (const Command command : {Command::Ports, Command::Check, Command::Program}) {
        if (commandName(command) == name) {
            return command;
        }
    }
    return std::nullopt;
}

QString speedList(const QString& separator = QStringLiteral(", ")) {
    QStringList speeds;
    for (const int speed : speedChoices) {
        speeds << QString::number(speed);
    }
    return speeds.join(separator);
}

// A word of the command line as given, and as the system's encoding reads it.
struct Word {
    QByteArray bytes;
    QString text;
};

// Reads the words after the subcommand; each option may carry its value as "--opt=value",
// and "--" ends the options.
class Reader {
public:
    Reader(Command command, QList<Word> words)
        : command_(command)
        , words_(std::move(words)) {}

    ParsedCli parse(CliOptions options) {
        bool optionsEnded = false;
        for (qsizetype i = 0; i < words_.size() && error_.isEmpty(); ++i) {
            if (optionsEnded) {
                takeOperand(options, words_[i]);
                continue;
            }
            if (words_[i].text == QStringLiteral("--")) {
                optionsEnded = true;
                continue;
            }
            Word word = words_[i];
            std::optional<Word> inlineValue;
            if (word.text.startsWith(QStringLiteral("--")) && word.bytes.contains('=')) {
                const qsizetype equals = word.bytes.indexOf('=');
                inlineValue = wordOf(word.bytes.mid(equals + 1));
                word = wordOf(word.bytes.left(equals));
            }
            const auto value = [&]() -> std::optional<Word> {
                if (inlineValue) {
                    return inlineValue;
                }
                if (i + 1 < words_.size()) {
                    return words_[++i];
                }
                refuse(QStringLiteral("%1 needs a value. %2").arg(word.text, valueHint(word.text)));
                return std::nullopt;
            };
            take(options, word, inlineValue.has_value(), value);
        }
        if (error_.isEmpty() && !options.help) {
            checkComplete(options);
        }
        ParsedCli parsed;
        parsed.command = command_;
        if (error_.isEmpty()) {
            parsed.options = options;
        } else {
            parsed.error = error_;
        }
        return parsed;
    }

    static Word wordOf(const QByteArray& bytes) { return {bytes, argumentText(bytes)}; }

private:
    template <typename Value>
    void take(CliOptions& options, const Word& option, bool inlineValue, const Value& value) {
        const QString& word = option.text;
        const bool isProgram = command_ == Command::Program;
        if (word == QStringLiteral("--help") || word == QStringLiteral("-h")) {
            options.help = true;
        } else if (word == QStringLiteral("--json") && !inlineValue) {
            options.json = true;
        } else if (isProgram && word == QStringLiteral("--check") && !inlineValue) {
            options.check = true;
        } else if (isProgram && word == QStringLiteral("--wait-for-port") && !inlineValue) {
            options.waitForPort = true;
        } else if ((isProgram || command_ == Command::Check) &&
                   word == QStringLiteral("--strict") && !inlineValue) {
            options.strict = true;
        } else if (isProgram && word == QStringLiteral("--port")) {
            if (const auto given = value()) {
                options.port = portNumber(given->text);
            }
        } else if (isProgram && word == QStringLiteral("--device")) {
            if (const auto given = value()) {
                if (given->text.isEmpty()) {
                    refuse(QStringLiteral("--device needs a path, for example "
                                          "--device /dev/ttyUSB0."));
                }
                options.device = given->text;
            }
        } else if (isProgram && word == QStringLiteral("--usb")) {
            if (const auto given = value()) {
                const ParsedUsbId parsed = parseUsbId(given->text);
                if (!parsed.id) {
                    refuse(parsed.error);
                }
                options.usb = parsed.id;
            }
        } else if (isProgram && word == QStringLiteral("--file")) {
            if (const auto given = value()) {
                setFile(options, *given);
            }
        } else if (isProgram && word == QStringLiteral("--report")) {
            if (const auto given = value()) {
                if (given->text.isEmpty()) {
                    refuse(QStringLiteral("--report needs a file, for example "
                                          "--report runs.jsonl."));
                }
                options.report = given->text;
            }
        } else if (isProgram && word == QStringLiteral("--speed")) {
            if (const auto given = value()) {
                options.speedMs = speed(given->text);
            }
        } else if (word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            refuse(QStringLiteral("unknown option %1 for %2.").arg(word, commandName(command_)));
        } else {
            takeOperand(options, option);
        }
    }

    // A word that is no option: check's FILE.
    void takeOperand(CliOptions& options, const Word& word) {
        if (command_ == Command::Check && options.fileBytes.isEmpty()) {
            setFile(options, word);
        } else {
            refuse(QStringLiteral("unexpected argument \"%1\" for %2.")
                       .arg(word.text, commandName(command_)));
        }
    }

    static void setFile(CliOptions& options, const Word& word) {
        options.file = word.text;
        options.fileBytes = word.bytes;
    }

    int portNumber(const QString& text) {
        bool ok = false;
        const int port = text.toInt(&ok);
        if (!ok || port < 1 || port > highestPort) {
            refuse(QStringLiteral("--port: \"%1\" is not a port number. Give the number you would "
                                  "type into the window's port box (1 to %2); "
                                  "'norvak-flash-cli ports' lists them.")
                       .arg(text)
                       .arg(highestPort));
        }
        return port;
    }

    int speed(const QString& text) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || std::find(std::begin(speedChoices), std::end(speedChoices), value) ==
                       std::end(speedChoices)) {
            refuse(QStringLiteral("--speed: \"%1\" is not one of the five speeds %2 (the pause "
                                  "in milliseconds after each line; %3 is the window's normal).")
                       .arg(text, speedList())
                       .arg(normalSpeed));
            return normalSpeed;
        }
        return value;
    }

    static QString valueHint(const QString& option) {
        if (option == QStringLiteral("--port")) {
            return QStringLiteral(
                "For example --port 1; 'norvak-flash-cli ports' lists the ports.");
        }
        if (option == QStringLiteral("--device")) {
            return QStringLiteral("For example --device /dev/ttyUSB0.");
        }
        if (option == QStringLiteral("--usb")) {
            return QStringLiteral("For example --usb 10c4:ea60 or --usb 10c4:ea60:0001, as "
                                  "'norvak-flash-cli ports' shows them.");
        }
        if (option == QStringLiteral("--file")) {
            return QStringLiteral("For example --file firmware.srec.");
        }
        if (option == QStringLiteral("--speed")) {
            return QStringLiteral("One of %1.").arg(speedList());
        }
        if (option == QStringLiteral("--report")) {
            return QStringLiteral("For example --report runs.jsonl.");
        }
        return {};
    }

    void checkComplete(const CliOptions& options) {
        if (command_ == Command::Check && options.file.isEmpty()) {
            refuse(QStringLiteral("check needs the FILE to check."));
        }
        if (command_ != Command::Program) {
            return;
        }
        const QStringList ways = portWaysGiven(options);
        if (ways.size() == 2) {
            refuse(QStringLiteral("give %1 or %2, not both.").arg(ways[0], ways[1]));
        } else if (ways.size() > 2) {
            refuse(QStringLiteral("give one of --port, --device and --usb, not all three."));
        } else if (ways.isEmpty()) {
            refuse(QStringLiteral("program needs the port: --port N (the number of the window's "
                                  "port box), --device PATH or --usb VID:PID[:SERIAL] (its "
                                  "adapter)."));
        } else if (options.file.isEmpty()) {
            refuse(QStringLiteral("program needs the firmware: --file FILE."));
        } else if (options.strict && !options.check) {
            refuse(QStringLiteral("--strict goes with --check: give both, or neither."));
        }
    }

    // The options that name the port, of which `program` takes one.
    static QStringList portWaysGiven(const CliOptions& options) {
        QStringList ways;
        if (options.port) {
            ways << QStringLiteral("--port");
        }
        if (!options.device.isEmpty()) {
            ways << QStringLiteral("--device");
        }
        if (options.usb) {
            ways << QStringLiteral("--usb");
        }
        return ways;
    }

    void refuse(const QString& why) {
        if (error_.isEmpty()) {
            error_ = why;
        }
    }

    Command command_;
    QList<Word> words_;
    QString error_;
};

} // namespace

ParsedCli parseCli(const QList<QByteArray>& arguments) {
    QList<Word> words;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        words << Reader::wordOf(arguments[i]);
    }
    CliOptions options;
    if (words.isEmpty()) {
        ParsedCli parsed;
        parsed.error = QStringLiteral("no command given: use ports, check or program.");
        return parsed;
    }
    const QString& first = words.first().text;
    if (first == QStringLiteral("--help") || first == QStringLiteral("-h") ||
        first == QStringLiteral("help")) {
        options.help = true;
        return {options, {}, Command::None};
    }
    if (first == QStringLiteral("--version")) {
        if (words.size() > 1) {
            ParsedCli parsed;
            parsed.error =
                QStringLiteral("--version takes nothing more, not \"%1\".").arg(words[1].text);
            return parsed;
        }
        options.version = true;
        return {options, {}, Command::None};
    }
    const auto command = commandNamed(first);
    if (!command) {
        ParsedCli parsed;
        parsed.error =
            first.startsWith(QLatin1Char('-'))
                ? QStringLiteral("unknown option %1: give a command first (ports, "
                                 "check or program).")
                      .arg(first)
                : QStringLiteral("unknown command \"%1\": use ports, check or program.").arg(first);
        return parsed;
    }
    options.command = *command;
    return Reader(*command, words.mid(1)).parse(options);
}

ParsedCli parseCli(const QStringList& arguments) {
    QList<QByteArray> bytes;
    for (const QString& argument : arguments) {
        bytes << argumentBytes(argument);
    }
    return parseCli(bytes);
}

QString usage(Command command) {
    switch (command) {
    case Command::Ports:
        return QStringLiteral(
            "usage: norvak-flash-cli ports [--json]\n"
            "\n"
            "Lists every serial port of the system, one per line: the number to type into the\n"
            "window's port box (or to give to program --port), the device path, and what the\n"
            "system knows of it (description, manufacturer, USB vendor and product id, serial\n"
            "number). A port that no number reaches is shown with \"-\". The last column,\n"
            "--usb, is what program --usb takes for a USB adapter: VID:PID:SERIAL, or VID:PID\n"
            "for an adapter without a serial number (\"-\" for a port without USB ids).\n"
            "\n"
            "  --json   one JSON array instead (the --usb column is its \"usb\" field)\n");
    case Command::Check:
        return QStringLiteral(
                   "usage: norvak-flash-cli check [--strict] [--json] [--] FILE\n"
                   "\n"
                   "Reads FILE as Motorola S-records and sends nothing. Checks every line the\n"
                   "window would send, and prints each problem as FILE:LINE:COLUMN: message, a\n"
                   "warning as FILE:LINE:COLUMN: warning: message.\n"
                   "\n"
                   "Errors: a line that is no record (record type S0-S9, hex digits, whole\n"
                   "bytes, the byte count, the checksum); an S5/S6 that does not count the data\n"
                   "records before it; no termination record (S7, S8 or S9), a second one, a\n"
                   "record after it, or one that does not fit the data records (S9 ends S1, S8\n"
                   "S2, S7 S3); bytes given again with other data; a last byte that is no line\n"
                   "end (never sent).\n"
                   "Warnings: an empty line (sent as a lone LF); a first record that is no S0\n"
                   "header; a data record that starts below the end of the one before (some boot\n"
                   "programs erase a flash page when its first record arrives); bytes given\n"
                   "again with the same data; a record longer than %1 characters (a boot\n"
                   "program's line buffer).\n"
                   "\n"
                   "Then a summary: errors and warnings, lines sent, line ends, data bytes,\n"
                   "address ranges and gaps, the S0 header, and how long the lines take at each\n"
                   "speed.\n"
                   "\n"
                   "  --strict   warnings count as errors\n"
                   "  --json     a JSON report instead; each problem has its severity\n"
                   "  --         ends the options: a FILE that begins with \"-\" follows\n"
                   "\n"
                   "Exit status: 0 no error, 1 an error (or, with --strict, a warning), 5 the\n"
                   "file cannot be read.\n")
            .arg(longRecordCharacters);
    case Command::Program:
        return QStringLiteral(
                   "usage: norvak-flash-cli program (--port N | --device PATH |\n"
                   "                                 --usb VID:PID[:SERIAL]) --file FILE\n"
                   "                                [--speed %4]\n"
                   "                                [--check [--strict]] [--wait-for-port]\n"
                   "                                [--json] [--report FILE]\n"
                   "\n"
                   "Programs a device as the window does, with the window's own run: connects,\n"
                   "chooses FILE, presses START PROGRAMMING; switch the device off and on when\n"
                   "told. Shows the countdown, the handshake, the progress and the device's "
                   "text.\n"
                   "\n"
                   "  --port N        the number of the window's port box "
                   "('norvak-flash-cli ports')\n"
                   "  --device PATH   the serial device itself, e.g. /dev/ttyUSB0\n"
                   "  --usb VID:PID[:SERIAL]\n"
                   "                  the port of this USB adapter, whatever its number or\n"
                   "                  path: hex ids as the --usb column of 'norvak-flash-cli\n"
                   "                  ports' shows them, in either case; the serial number\n"
                   "                  exactly. Exactly one adapter must match.\n"
                   "  --file FILE     the S-record file\n"
                   "  --speed MS      pause after each line: %1 (default %2)\n"
                   "  --check         check FILE first ('norvak-flash-cli check --help'):\n"
                   "                  a file with an error is not sent, warnings are printed\n"
                   "  --strict        with --check: a file with a warning is not sent either\n"
                   "  --wait-for-port the port need not be there yet: it is opened when it\n"
                   "                  appears, within the countdown's %5 seconds\n"
                   "  --json          one JSON object per line for each event\n"
                   "  --report FILE   append one JSON line for the run to FILE, however it\n"
                   "                  ends: times, host, port and adapter, the file's size,\n"
                   "                  SHA-256 and lines, the outcome, lines sent and dots\n"
                   "                  received (several runs may append to one FILE at once)\n"
                   "\n"
                   "Exit status: 0 PROGRAMMED; 1 --check found an error (or, with --strict, a\n"
                   "warning); 2 no boot program before the countdown ran out; 3 dot timeout\n"
                   "(Programming FAILLED); 4 the port could not be opened or was lost, or\n"
                   "--usb matched no adapter or several (they are listed); 5 the file cannot be\n"
                   "read; 6 interrupted\n"
                   "(%3: cancelled, port closed); 7 the device said \"P\"\n"
                   "(programmed) before the file's last line went out; 64 a wrong command line,\n"
                   "or a --report FILE that cannot be opened for appending (nothing was sent).\n")
            .arg(speedList())
            .arg(normalSpeed)
            .arg(interruptions)
            .arg(speedList(QStringLiteral("|")))
            .arg(protocol::secondsToRestart);
    case Command::None:
        break;
    }
    return QStringLiteral(
        "usage: norvak-flash-cli COMMAND [OPTIONS]\n"
        "\n"
        "Programs devices through their serial boot program from a script or a test rig,\n"
        "with the Norvak Flash Programmer window's own run logic.\n"
        "\n"
        "Commands:\n"
        "  ports     list the serial ports and the number of each\n"
        "  check     check an S-record file without sending it\n"
        "  program   program a device\n"
        "\n"
        "  --help      this text; 'norvak-flash-cli COMMAND --help' for a command\n"
        "  --version   the version\n"
        "\n"
        "Several devices at once: one process per port.\n");
}

QString versionText() {
    return QStringLiteral("norvak-flash-cli " NORVAK_VERSION "\n");
}

} // namespace norvak::cli
