#include "support/window_rig.h"

#include "mainwindow/logbox/logbox.h"

#include <QFile>
#include <QPushButton>

#include <stdexcept>

namespace norvak::test {

WindowRig::WindowRig(const devicenotify::UsbPlatformCalls* usbPlatform) {
    auto fake = std::make_unique<FakeSerialControl>(toolkit);
    serial = fake.get();
    window = std::make_unique<frmProg>(toolkit, std::move(fake), usbPlatform);
}

void WindowRig::pressConnect() {
    window->btnCon->click();
}

void WindowRig::chooseFile(const QString& path) {
    toolkit.dialogAnswers.emplace_back(path);
    window->btnopenFile->click();
}

QString WindowRig::writeFile(const QString& name, const QByteArray& contents) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        throw std::runtime_error("cannot write the test file");
    return path;
}

void WindowRig::startRun(const QByteArray& fileContents) {
    pressConnect();
    chooseFile(writeFile(QStringLiteral("firmware.srec"), fileContents));
    window->btnFlash->click();
}

void WindowRig::startAndReachSending(const QByteArray& fileContents) {
    startRun(fileContents);
    serial->receive(">");
    toolkit.runDue();
    toolkit.advance(Milliseconds(333)); // "f" goes out; the boot program answers "_"
    serial->receive("_");
    toolkit.runDue();
}

QString WindowRig::logText() const {
    return window->txtbuffer->Text();
}

} // namespace norvak::test
