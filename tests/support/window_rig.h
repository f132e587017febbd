#pragma once

// A main window on the virtual clock with the fake serial control, and the few steps most
// tests begin with.

#include "mainwindow/frmprog.h"
#include "support/fake_serial_control.h"
#include "support/virtual_toolkit.h"

#include <QTemporaryDir>

#include <memory>

namespace norvak::test {

class WindowRig {
public:
    // `usbPlatform` stands in for the system's device-notification calls; none leaves the
    // listener inactive, as on Linux.
    explicit WindowRig(const devicenotify::UsbPlatformCalls* usbPlatform = nullptr);

    VirtualToolkit toolkit;
    FakeSerialControl* serial = nullptr; // owned by the window
    std::unique_ptr<frmProg> window;

    frmProg& w() { return *window; }
    // Presses Connect with the port box as it stands.
    void pressConnect();
    // Chooses `path` in the file dialog through the browse button.
    void chooseFile(const QString& path);
    // Writes a file into a temporary folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& contents);
    // Connects, chooses a file and presses START PROGRAMMING.
    void startRun(const QByteArray& fileContents);
    // Runs a start up to the state Sending: ">" then "_".
    void startAndReachSending(const QByteArray& fileContents);
    [[nodiscard]] QString logText() const;
    [[nodiscard]] QString caption() const { return window->windowTitle(); }

private:
    QTemporaryDir dir_;
};

} // namespace norvak::test
