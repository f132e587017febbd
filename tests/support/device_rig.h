#pragma once

// A main window on the real event loop and the real serial control, whose port 1 leads to a
// simulated device that the test can unplug and plug in again (a new device, the same port).
// With a link path in the device's configuration, port 1 leads to the link, so that a device
// whose power cycle removes its port comes back on port 1.

#include "mainwindow/frmprog.h"
#include "tests/support/counting_serial.h"
#include "tests/support/window_rig.h"
#include "tools/simdevice/simdevice.h"
#include "tools/unattended/scripted_toolkit.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace norvak::faults {

// The error form of the status caption: the time of day, then the description.
inline const QRegularExpression
    errorCaption(QStringLiteral(R"(^Norvak Flash Programmer, Connect:   Error \S+.+)"));

class DeviceRig final : public test::WindowView {
public:
    // speedItem: the speed list's item for the whole run (0, the quickest, by default).
    explicit DeviceRig(const SimDeviceConfig& config, int speedItem = 0);
    ~DeviceRig();
    DeviceRig(const DeviceRig&) = delete;
    DeviceRig& operator=(const DeviceRig&) = delete;

    [[nodiscard]] SimDevice& device() { return *device_; }
    // The adapter is pulled: the line hangs up and port 1 leads nowhere.
    void unplug();
    // A new device behind port 1.
    void plugIn(const SimDeviceConfig& config);

    // Runs `action` once, from the event loop, as soon as `condition` holds. A run streams its
    // file inside nested event loops, so a test that waits outside them would only look again
    // once the run is over: what must happen during a run is done from here.
    void once(std::function<bool()> condition, std::function<void()> action);

    // Chooses `path` in the file dialog through the browse button.
    void chooseFile(const QString& path);

    [[nodiscard]] qsizetype errorCaptionCount() const;

    // The real toolkit; message boxes are noted here and return at once, and the file dialog
    // answers what chooseFile() or a test queued, or cancels.
    unattended::ScriptedToolkit toolkit;
    std::vector<MessageBoxRequest> messages; // every message box, in order
    // Runs while a box is "open": a test can run the event loop there, as a modal box does.
    std::function<void(const MessageBoxRequest&)> whileShown;
    CountingSerial* serial = nullptr; // owned by the window
    QStringList captions;             // every caption the window showed, in order

private:
    std::unique_ptr<SimDevice> device_;
    QString portPath_;
    std::vector<std::unique_ptr<QTimer>> watchers_;
    std::unique_ptr<frmProg> window_;
};

// Sample firmware made at build time.
[[nodiscard]] QString firmwarePath(const char* name);
[[nodiscard]] QByteArray readFile(const QString& path);
// What the line must carry for a file: each line without its end, then one LF; a pass ends
// when one byte or none is left, so a last single character is not a line.
[[nodiscard]] QByteArray expectedStream(const QByteArray& file);
// The lines of a file by the same rule, without their ends.
[[nodiscard]] QList<QByteArray> fileLines(const QByteArray& file);

} // namespace norvak::faults
