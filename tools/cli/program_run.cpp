#include "tools/cli/program_run.h"

#include "firmwarefile/firmware_file.h"
#include "firmwarefile/srec_check.h"
#include "tools/cli/check_report.h"
#include "tools/cli/named_file.h"
#include "tools/cli/port_list.h"
#include "tools/cli/report_file.h"
#include "tools/cli/run_record.h"
#include "tools/cli/shown_text.h"
#include "tools/cli/signal_watcher.h"
#include "tools/cli/usb_adapter.h"
#include "tools/unattended/observing_serial.h"
#include "tools/unattended/port_route.h"
#include "tools/unattended/run_driver.h"
#include "tools/unattended/scripted_toolkit.h"

#include "devicenotify/usb_notification.h"
#include "link/control/line_watch.h"
#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"

#include <QApplication>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <memory>
#include <optional>
#include <variant>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#ifndef NORVAK_VERSION
#define NORVAK_VERSION "unknown"
#endif

namespace norvak::cli {

namespace {

using unattended::RunOutcome;

// The port box number typed for --device: the route sends it to the path.
constexpr int devicePortNumber = 1;

RunReporter::Style styleFor(const CliOptions& options, std::FILE* out) {
    if (options.json) {
        return RunReporter::Style::Json;
    }
    return ::isatty(::fileno(out)) != 0 ? RunReporter::Style::Terminal : RunReporter::Style::Plain;
}

void writeText(std::FILE* file, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file);
    std::fflush(file);
}

// Ends the run before any window when the file cannot be read or, with --check, holds an
// error (with --strict, a warning); nothing when it may be sent.
std::optional<RunEnd> refuseUnfitFile(const CliOptions& options, const NamedFile& firmware,
                                      std::FILE* err) {
    const auto refuseUnreadable = [](const QString& why) {
        return RunEnd{exit_status::fileUnreadable, QStringLiteral("file-unreadable"), why,
                      QStringLiteral("cannot read the firmware: ") + why};
    };
    const FirmwareOpening opening = firmware.open();
    if (!opening.isOpen()) {
        return refuseUnreadable(firmware.unreadable(opening.whyNot()));
    }
    if (!options.check) {
        return std::nullopt;
    }
    SrecReport report;
    try {
        // The run's signal watcher does not exist yet: a large file is read with SIGINT,
        // SIGTERM and SIGHUP blocked, so the check looks for them itself.
        report = checkSrecFile(opening.file(), firmware.shown(), terminationSignalPending);
    } catch (const FileReadError& e) {
        return refuseUnreadable(QString::fromStdString(e.what()));
    } catch (const CheckInterrupted&) {
        return RunEnd{exit_status::interrupted, QStringLiteral("interrupted"),
                      QStringLiteral("Interrupted"),
                      QStringLiteral("interrupted during the check: nothing was sent.")};
    }
    // Warnings are shown either way; the file is sent unless they count as errors.
    writeText(err, problemsText(firmware.shown(), report));
    if (report.passes(options.strict)) {
        return std::nullopt;
    }
    return RunEnd{exit_status::badRecords, QStringLiteral("bad-records"),
                  QStringLiteral("%1 in %2").arg(problemCountText(report), firmware.shown()),
                  report.errorCount > 0
                      ? QStringLiteral("the file was not sent: mend the records named above.")
                      : QStringLiteral("the file was not sent: --strict refuses its warnings, "
                                       "named above.")};
}

// The device a run on `options` reaches as the serial control finds it: --device as given,
// for --port the first of the port's candidates that exists; empty when none does, and for
// --usb until its adapter is chosen.
QString deviceReached(const CliOptions& options) {
    if (!options.device.isEmpty()) {
        return options.device;
    }
    if (!options.port) {
        return {};
    }
    const QStringList tried = defaultPortCandidates()(*options.port);
    const auto found = std::find_if(tried.cbegin(), tried.cend(), line_watch::deviceExists);
    return found != tried.cend() ? *found : QString();
}

// The line of --report for one run: what is known before it starts is gathered at once (the
// file is read here, before the window sends it), the rest when it has ended.
class RunRecorder {
public:
    RunRecorder(const CliOptions& options, const NamedFile& firmwareFile,
                std::unique_ptr<ReportFile> file)
        : file_(std::move(file)) {
        record_.startedAt = QDateTime::currentDateTimeUtc();
        if (!file_) {
            return;
        }
        record_.host = QSysInfo::machineHostName();
        record_.port = options.port;
        record_.device = options.device;
        if (options.usb) {
            record_.usb = usbIdText(*options.usb);
        }
        reached(deviceReached(options));
        record_.firmware = firmwareFacts(QFileInfo(options.file).absoluteFilePath(), firmwareFile);
        record_.speedMs = options.speedMs;
        record_.version = QStringLiteral(NORVAK_VERSION);
    }

    // The serial control opened `devicePath`.
    void reached(const QString& devicePath) {
        if (file_ && !devicePath.isEmpty() && devicePath != record_.devicePath) {
            record_.devicePath = devicePath;
            record_.adapter = adapterFacts(devicePath);
        }
    }

    // The run's outcome is known (the device may still be talking); the first call counts.
    void ended() {
        if (!record_.endedAt.isValid()) {
            record_.endedAt = QDateTime::currentDateTimeUtc();
        }
    }

    // Appends the run's line; says on `err` when it could not.
    void write(const RunEnd& end, const RunTally& tally, std::FILE* err) {
        if (!file_) {
            return;
        }
        ended();
        record_.outcome = end.outcome;
        record_.exitStatus = end.exitStatus;
        record_.description = end.text;
        record_.linesSent = tally.linesSent();
        record_.dotsReceived = tally.dotsReceived();
        record_.startToBootMs = tally.startToBootMs();
        record_.readyToEndMs = tally.readyToEndMs();
        if (const auto failed = file_->append(recordLine(record_))) {
            writeText(err,
                      QStringLiteral("norvak-flash-cli: the run's line was not written to "
                                     "the report %1: %2\n")
                          .arg(withControlsEscaped(file_->path()), withControlsEscaped(*failed)));
        }
    }

private:
    std::unique_ptr<ReportFile> file_; // none without --report
    RunRecord record_;
};

// Opens --report's file before anything else happens; nothing when none was asked for, and
// the reason when it cannot be opened.
std::variant<std::unique_ptr<ReportFile>, QString> openReport(const CliOptions& options) {
    if (options.report.isEmpty()) {
        return std::unique_ptr<ReportFile>();
    }
    auto file = std::make_unique<ReportFile>(options.report);
    if (!file->isOpen()) {
        return QStringLiteral("--report: cannot append to %1: %2. Nothing was sent.")
            .arg(withControlsEscaped(options.report), withControlsEscaped(file->whyNot()));
    }
    return file;
}

// Tells the reporter what the run does as the window shows it. A firmware file reached by its
// own opening is shown by the name it was given (`firmwareShownAs`) beside the path.
void reportRunSteps(unattended::RunDriver& driver, RunReporter& reporter, const frmProg& window,
                    const QString& firmwareShownAs) {
    QObject::connect(&driver, &unattended::RunDriver::step, &driver,
                     [&reporter, &driver, firmwareShownAs](const QString& action) {
                         const QString choice = QStringLiteral("Choose ") + driver.plan().firmware;
                         if (!firmwareShownAs.isEmpty() && action == choice) {
                             reporter.step(QStringLiteral("%1 (%2)").arg(action, firmwareShownAs));
                         } else {
                             reporter.step(action);
                         }
                     });
    QObject::connect(&driver, &unattended::RunDriver::captionChanged, &driver,
                     [&reporter, &window](const QString& caption) {
                         const QString status = unattended::statusPart(caption);
                         if (status.startsWith(QStringLiteral("progress: "))) {
                             reporter.progress(window.shared().progressPercent, caption);
                         } else {
                             reporter.caption(caption, status);
                         }
                     });
    QObject::connect(&driver, &unattended::RunDriver::buttonChanged, &driver,
                     [&reporter, prompted = false](const QString& caption) mutable {
                         reporter.button(caption);
                         if (!prompted && caption.startsWith(QStringLiteral("Waiting restart: "))) {
                             prompted = true;
                             reporter.prompt(QStringLiteral(
                                 "Switch the device off and on now: its boot program must answer "
                                 "before the countdown runs out."));
                         }
                     });
    QObject::connect(
        &driver, &unattended::RunDriver::messageShown, &driver,
        [&reporter](const QString& text, bool critical) { reporter.message(text, critical); });
    QObject::connect(&window, &frmProg::portAway, &driver,
                     [&reporter](const QString& description) { reporter.portGone(description); });
    QObject::connect(&window, &frmProg::portBack, &driver, [&reporter] { reporter.portBack(); });
}

// The window's "PROGRAMMED" came while lines of the file were still to go: the device
// printed a "P" of its own, or ended the file early. Either way it does not hold the file.
RunEnd programmedEarly(const RunFacts& facts) {
    const QString what =
        QStringLiteral("PROGRAMMED before the file's end: the device sent \"P\" after %1 lines, "
                       "before the last line went out (progress %2%)")
            .arg(facts.linesSent)
            .arg(facts.progressPercent, 0, 'f', 1);
    return {exit_status::programmedEarly, QStringLiteral("programmed-early"), what,
            what + QStringLiteral(". The window ended the run there, as designed; the device may "
                                  "not hold the whole file. Look at what the device printed, "
                                  "then switch it off and on and program it again.")};
}

RunEnd portNotOpened(const QString& description) {
    return {exit_status::portFailed, QStringLiteral("port-failed"), description,
            description + QStringLiteral(" 'norvak-flash-cli ports' lists the ports.")};
}

// The port was lost during the run: whatever the system said of it (a hung-up line often
// leaves a stale reason such as "Inappropriate ioctl for device"), the device went away.
RunEnd deviceWentAway(const RunFacts& facts) {
    const QString what =
        QStringLiteral("%1: the device went away (the adapter was unplugged, or the line hung up)")
            .arg(facts.portLabel);
    return {exit_status::portFailed, QStringLiteral("port-failed"), what,
            what + QStringLiteral(". Check the cable and the adapter, then switch the device off "
                                  "and on and program it again.")};
}

// The port of the one adapter --usb names, as --device would give it. None when not exactly
// one matches: the candidates go to `err`, the run's end to the reporter.
// The port of the one adapter that matches `id`, or the run's end when none or several do.
std::variant<QString, RunEnd> adapterPort(const UsbId& id, RunReporter& reporter, std::FILE* err) {
    const AdapterChoice choice = chooseAdapter(id, systemPorts());
    if (choice.port) {
        reporter.step(QStringLiteral("Choose the adapter %1 (%2)")
                          .arg(usbIdText(*usbIdOf(*choice.port)), choice.port->path));
        return choice.port->path;
    }
    if (!choice.candidates.isEmpty()) {
        QString listed = QStringLiteral("norvak-flash-cli: %1\n").arg(choice.candidatesHeading);
        for (const QString& line : choice.candidates) {
            listed += QStringLiteral("  ") + withControlsEscaped(line) + QLatin1Char('\n');
        }
        writeText(err, listed);
    }
    return RunEnd{exit_status::portFailed, QStringLiteral("port-failed"), choice.refusal,
                  choice.advice};
}

} // namespace

RunEnd runEnd(const unattended::RunVerdict& verdict, const RunFacts& facts) {
    switch (verdict.outcome()) {
    case RunOutcome::Programmed:
        if (facts.progressPercent < 100.0) {
            return programmedEarly(facts);
        }
        return {exit_status::ok, QStringLiteral("programmed"), verdict.announced(), {}};
    case RunOutcome::NoBootProgram:
        return {exit_status::noBootProgram, QStringLiteral("no-boot-program"), verdict.announced(),
                QStringLiteral("no boot program answered before the countdown ran out. Switch "
                               "the device off and on after the run has started, and check the "
                               "cable and the port.")};
    case RunOutcome::DotTimeout:
        return {exit_status::dotTimeout, QStringLiteral("dot-timeout"), verdict.announced(),
                QStringLiteral("the device stopped acknowledging lines (no \".\" for 3 seconds). "
                               "Check the file with 'norvak-flash-cli check', try a slower "
                               "--speed, then switch the device off and on and program it "
                               "again.")};
    case RunOutcome::PortFailed:
        // The reason is the port's description as the window announced the run's end.
        return facts.deviceWentAway ? deviceWentAway(facts) : portNotOpened(verdict.reason());
    case RunOutcome::FileUnreadable:
        return {exit_status::fileUnreadable, QStringLiteral("file-unreadable"), verdict.reason(),
                verdict.reason() +
                    QStringLiteral(". Nothing more was sent: make the file readable, then switch "
                                   "the device off and on and program it again.")};
    case RunOutcome::Interrupted:
        return {exit_status::interrupted, QStringLiteral("interrupted"),
                QStringLiteral("Interrupted"),
                QStringLiteral("interrupted: the run was cancelled and the port closed. Switch "
                               "the device off and on and program it again.")};
    case RunOutcome::Running:
    case RunOutcome::Failed:
    case RunOutcome::TimedOut:
        break;
    }
    return {exit_status::dotTimeout, QStringLiteral("failed"), verdict.reason(),
            QStringLiteral("programming failed: ") + verdict.reason()};
}

int runProgram(const CliOptions& options, int& argc, char** argv, std::FILE* out, std::FILE* err) {
    auto opened = openReport(options);
    if (const QString* whyNot = std::get_if<QString>(&opened)) {
        writeText(err, QStringLiteral("norvak-flash-cli: %1\n").arg(*whyNot));
        return exit_status::usage;
    }
    const RunReporter::Style style = styleFor(options, out);
    const NamedFile firmwareFile(options.fileBytes);
    RunRecorder recorder(options, firmwareFile,
                         std::move(std::get<std::unique_ptr<ReportFile>>(opened)));
    RunTally tally;
    if (const auto refused = refuseUnfitFile(options, firmwareFile, err)) {
        tally.ended();
        recorder.ended();
        RunReporter(style, out, err).end(*refused);
        recorder.write(*refused, tally, err);
        return refused->exitStatus;
    }

    // Offscreen whatever the desktop: the window is never shown to anyone.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("norvak-flash-cli"));
    SignalWatcher signalWatcher;
    RunReporter reporter(style, out, err);

    // --usb reaches its adapter's port as --device reaches a path.
    QString device = options.device;
    if (options.usb) {
        auto found = adapterPort(*options.usb, reporter, err);
        if (const RunEnd* refused = std::get_if<RunEnd>(&found)) {
            tally.ended();
            recorder.ended();
            reporter.end(*refused);
            recorder.write(*refused, tally, err);
            return refused->exitStatus;
        }
        device = std::get<QString>(found);
        recorder.reached(device);
    }

    unattended::ScriptedToolkit toolkit;
    const bool byDevice = !device.isEmpty();
    const int port = byDevice ? devicePortNumber : *options.port;
    auto control = std::make_unique<MSComm>(
        toolkit, byDevice ? unattended::withDeviceAt(port, device) : defaultPortCandidates());
    const MSComm& serialControl = *control; // owned by the window from here on
    bool lineWentAway = false;
    const frmProg* shownWindow = nullptr; // the state each received byte is taken under
    auto observed = std::make_unique<unattended::ObservingSerial>(
        std::move(control), unattended::SerialObserver{
                                .received =
                                    [&reporter, &tally, &shownWindow](const QByteArray& bytes) {
                                        reporter.received(bytes);
                                        if (shownWindow != nullptr) {
                                            tally.received(bytes, shownWindow->shared().flashState);
                                        }
                                    },
                                .receiveEventEnded = [&reporter] { reporter.receiveEventEnded(); },
                                .sent = [&tally](QByteArrayView bytes) { tally.sent(bytes); },
                                .portLost = [&lineWentAway] { lineWentAway = true; },
                            });
    frmProg window(toolkit, std::move(observed), devicenotify::nativeUsbPlatform());
    shownWindow = &window;
    window.show();

    const QString firmware = QFileInfo(firmwareFile.path()).absoluteFilePath();
    unattended::RunPlan plan{.port = port, .firmware = firmware, .speedItem = options.speedItem()};
    if (options.waitForPort) {
        plan.portPresent = [candidates =
                                byDevice ? QStringList{device} : defaultPortCandidates()(port)] {
            return std::any_of(candidates.cbegin(), candidates.cend(), line_watch::portPresent);
        };
        plan.portWaitLimit = std::chrono::seconds(protocol::secondsToRestart);
    }
    unattended::RunDriver driver(window, toolkit, std::move(plan));
    reportRunSteps(driver, reporter, window,
                   firmwareFile.openedByBytes() ? firmwareFile.shown() : QString());
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &driver,
                     [&driver] { driver.interrupt(); });
    // START PROGRAMMING is pressed as this returns: the port is open by now.
    QObject::connect(&driver, &unattended::RunDriver::aboutToStart, &driver,
                     [&recorder, &tally, &serialControl] {
                         recorder.reached(serialControl.devicePath());
                         tally.startPressed();
                     });
    QObject::connect(&driver, &unattended::RunDriver::decided, &driver, [&tally, &recorder] {
        tally.ended();
        recorder.ended();
    });

    int status = exit_status::dotTimeout;
    QObject::connect(&driver, &unattended::RunDriver::finished, &driver, [&] {
        tally.ended(); // an interruption decides and finishes at once
        recorder.ended();
        const QString devicePath = serialControl.devicePath();
        const RunFacts facts{
            .deviceWentAway = lineWentAway,
            .portLabel = QStringLiteral("Port %1 (%2)").arg(port).arg(devicePath),
            .progressPercent = window.shared().progressPercent,
            .linesSent = tally.linesSent(),
        };
        const RunEnd end = runEnd(driver.verdict(), facts);
        status = end.exitStatus;
        reporter.end(end, {.linesSent = tally.linesSent(), .dotsReceived = tally.dotsReceived()});
        recorder.write(end, tally, err);
        window.close();
    });
    QObject::connect(&window, &frmProg::closed, &app, &QCoreApplication::quit);
    driver.start();
    QApplication::exec();
    return status;
}

} // namespace norvak::cli
