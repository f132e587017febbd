// norvak-flash-cli: programs devices through their serial boot program from a script or a
// test rig, with the flash programmer window's own run logic; lists the serial ports and
// checks S-record files without sending them.

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/srec_check.h"
#include "tools/cli/check_report.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/named_file.h"
#include "tools/cli/port_list.h"
#include "tools/cli/program_run.h"
#include "tools/cli/shown_text.h"
#include "tools/cli/signal_watcher.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_WIN
#include <memory>
#include <windows.h>
#endif

namespace {

using namespace norvak::cli;
using norvak::FirmwareOpening;

void write(std::FILE* file, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file);
    std::fflush(file);
}

void write(std::FILE* file, const QString& text) {
    write(file, text.toUtf8());
}

int listPorts(const CliOptions& options, int& argc, char** argv) {
    const QCoreApplication app(argc, argv);
    const auto ports = systemPorts();
    if (options.json) {
        write(stdout, portsJson(ports));
    } else {
        write(stdout, portsText(ports));
    }
    return exit_status::ok;
}

int checkFile(const CliOptions& options) {
    const NamedFile file(options.fileBytes);
    // JSON carries any name; a terminal is given one with its control characters escaped.
    const QString jsonName = file.openedByBytes() ? file.shown() : options.file;
    const auto refuseUnreadable = [&](const QString& why) {
        if (options.json) {
            write(stdout, unreadableJson(jsonName, why));
        }
        write(stderr, QStringLiteral("norvak-flash-cli: cannot read %1\n").arg(why));
        return exit_status::fileUnreadable;
    };
    const FirmwareOpening opening = file.open();
    if (!opening.isOpen()) {
        return refuseUnreadable(file.unreadable(opening.whyNot()));
    }
    SrecReport report;
    try {
        report = checkSrecFile(opening.file(), file.shown());
    } catch (const FileReadError& e) {
        return refuseUnreadable(QString::fromStdString(e.what()));
    }
    if (options.json) {
        write(stdout, checkJson(jsonName, report));
    } else {
        write(stdout, checkText(file.shown(), report));
    }
    return report.passes(options.strict) ? exit_status::ok : exit_status::badRecords;
}

// The words of the command line as bytes: a file name need not be valid in the system's
// encoding. Windows hands main() its arguments in the ANSI code page, which loses letters of a
// path outside it: there they are read from the wide command line, as UTF-8.
QList<QByteArray> commandLineArguments(int argc, char* argv[]) {
    QList<QByteArray> arguments;
#ifdef Q_OS_WIN
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    if (wide) {
        for (int i = 0; i < count; ++i) {
            arguments << QString::fromWCharArray(wide.get()[i]).toUtf8();
        }
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i) {
        arguments << QByteArray(argv[i]);
    }
    return arguments;
}

// Qt's own notes (a missing runtime folder and the like) are not the program's to print;
// only its critical messages pass.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        write(stderr, QStringLiteral("norvak-flash-cli: %1\n").arg(withControlsEscaped(message)));
    }
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef SIGPIPE
    // A reader of the output that goes away must not end a run in the middle of the file.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef Q_OS_WIN
    // The program writes UTF-8; the console shows it as such.
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    qInstallMessageHandler(quietQtMessages);
    const QList<QByteArray> arguments = commandLineArguments(argc, argv);
    const ParsedCli parsed = parseCli(arguments);
    if (!parsed.options) {
        const QString help = parsed.command == Command::None
                                 ? QStringLiteral("norvak-flash-cli --help")
                                 : QStringLiteral("norvak-flash-cli %1 --help")
                                       .arg(QString::fromLatin1(arguments.value(1)));
        write(stderr, QStringLiteral("norvak-flash-cli: %1\nTry '%2'.\n")
                          .arg(withControlsEscaped(parsed.error), help));
        return exit_status::usage;
    }
    const CliOptions& options = *parsed.options;
    if (options.version) {
        write(stdout, versionText());
        return exit_status::ok;
    }
    if (options.help) {
        write(stdout, usage(options.command));
        return exit_status::ok;
    }
    switch (options.command) {
    case Command::Ports:
        return listPorts(options, argc, argv);
    case Command::Check:
        return checkFile(options);
    case Command::Program:
        // Before any thread exists: SIGINT, SIGTERM and SIGHUP are then read on the event loop. One
        // that comes while --check reads the file is seen as soon as the run starts, before
        // anything is sent.
        blockTerminationSignals();
        return runProgram(options, argc, argv, stdout, stderr);
    case Command::None:
        break;
    }
    return exit_status::usage;
}
