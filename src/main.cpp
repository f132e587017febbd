// Norvak Flash Programmer: loads new firmware into a device through its serial boot program.

#include "devicenotify/usb_notification.h"
#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"
#include "mainwindow/qt_toolkit.h"
#include "mainwindow/termination_signals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    norvak::TerminationSignals::block();
    QApplication app(argc, argv);
    const norvak::TerminationSignals termination;
    norvak::QtToolkit toolkit;
    norvak::frmProg window(toolkit, std::make_unique<norvak::MSComm>(toolkit),
                           norvak::devicenotify::nativeUsbPlatform());
    QObject::connect(&window, &norvak::frmProg::closed, &app, &QCoreApplication::quit);
    // SIGTERM, SIGHUP, SIGINT: the window closes as its close button closes it.
    QObject::connect(&termination, &norvak::TerminationSignals::received, &window, &QWidget::close);
    window.show();
    const int status = QApplication::exec();
    return termination.exitStatus(status);
}
