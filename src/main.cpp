// Norvak Flash Programmer: loads new firmware into a device through its serial boot program.

#include "devicenotify/usb_notification.h"
#include "link/control/mscomm.h"
#include "mainwindow/frmprog.h"
#include "mainwindow/qt_toolkit.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    norvak::QtToolkit toolkit;
    norvak::frmProg window(toolkit, std::make_unique<norvak::MSComm>(toolkit),
                           norvak::devicenotify::nativeUsbPlatform());
    QObject::connect(&window, &norvak::frmProg::closed, &app, &QCoreApplication::quit);
    window.show();
    return QApplication::exec();
}
