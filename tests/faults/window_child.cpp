// A test-only program: the main window built as the flash programmer builds it (the real
// toolkit, the real serial control, quitting on closed()), with port 1 leading to the path
// given. It connects, chooses the firmware given and presses START PROGRAMMING at once.
//
// A line "close" on standard input (or its end) closes the window, whatever is running; so
// do SIGTERM, SIGHUP and SIGINT, as in the program, and the child then ends with 128 plus the
// signal's number.
// Standard output tells the parent what happens:
//   "message: <text>"          a message box is about to open (the real, modal one)
//   "writes after close: <n>"  at the end: writes the window tried once the close began
//
// Usage: faults_window_child PORT_PATH FIRMWARE SPEED_ITEM
//
// With "--connect PORT_PATH" it only presses Connect, prints "caption: <title>" and
// "port open: <0|1>" and ends: for trying a port as another user.

#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"
#include "mainwindow/qt_toolkit.h"
#include "mainwindow/termination_signals.h"
#include "tests/support/counting_serial.h"
#include "tests/support/window_rig.h"
#include "tools/unattended/scripted_toolkit.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

using namespace norvak;

PortCandidates onlyPortOne(const QString& path) {
    return [path](int port) {
        return port == 1 ? QStringList{path} : QStringList{};
    };
}

int connectOnly(const QString& portPath) {
    QtToolkit toolkit;
    frmProg window(toolkit, std::make_unique<MSComm>(toolkit, onlyPortOne(portPath)), nullptr);
    test::WindowView view(window);
    view.setPortText(QStringLiteral("1"));
    view.pressConnect();
    std::printf("caption: %s\nport open: %d\n", qPrintable(view.caption()),
                view.portOpen() ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    TerminationSignals::block();
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--connect") {
        return connectOnly(QString::fromLocal8Bit(argv[2]));
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: faults_window_child PORT_PATH FIRMWARE SPEED_ITEM\n");
        return 2;
    }
    const QString portPath = QString::fromLocal8Bit(argv[1]);
    const int speedItem = QString::fromLocal8Bit(argv[3]).toInt();

    // The real toolkit and its real, modal boxes, each announced as it opens; the file dialog
    // answers with the firmware given.
    unattended::ScriptedToolkit toolkit;
    toolkit.showAttended([](const MessageBoxRequest& request) {
        std::printf("message: %s\n", qPrintable(request.text));
        std::fflush(stdout);
    });
    toolkit.answerNextOpenDialog(QString::fromLocal8Bit(argv[2]));
    auto counting = std::make_unique<faults::CountingSerial>(
        std::make_unique<MSComm>(toolkit, onlyPortOne(portPath)));
    faults::CountingSerial& serial = *counting;
    frmProg window(toolkit, std::move(counting), nullptr);
    test::WindowView view(window);
    view.onClosed([] { QCoreApplication::quit(); });

    int writesBeforeClose = -1;
    const auto noteWritesBeforeClose = [&] {
        if (writesBeforeClose < 0) {
            writesBeforeClose = serial.outputCalls;
        }
    };
    // Noted before the window hears of the signal, then closed as the program closes it.
    const TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, noteWritesBeforeClose);
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        const auto got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got > 0 && !QByteArray(buffer, got).contains("close")) {
            return;
        }
        input.setEnabled(false);
        noteWritesBeforeClose();
        view.close();
    });

    view.setPortText(QStringLiteral("1"));
    view.chooseSpeed(speedItem);
    view.show();
    view.pressConnect();
    view.press(test::Button::Browse);
    view.pressStart();
    if (view.state() != FlashState::WaitingForBoot) {
        std::fprintf(stderr, "the run did not start: %s\n", qPrintable(view.caption()));
        return 3;
    }

    const int status = QApplication::exec();
    std::printf("writes after close: %d\n",
                writesBeforeClose < 0 ? -1 : serial.outputCalls - writesBeforeClose);
    std::fflush(stdout);
    return termination.exitStatus(status);
}
