#pragma once

// The main window: every control, the members the handlers share, load and close, and the
// conventions for the status caption, the log box and message boxes. Its handlers are short:
// each runs at the boundary to the event loop and hands the event to the room that owns it
// (the link, the run's state table, the receive dispatcher, the file streamer); the small
// operator commands are in operator_commands.cpp.

#include "devicenotify/usb_notification.h"
#include "link/control/serial_control.h"
#include "link/serial_link.h"
#include "programming/firmware_streamer.h"
#include "programming/receive_dispatcher.h"
#include "programming/run_table.h"
#include "seam/main_window.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace norvak {

class LogBox;

// The window keeps its established name.
class frmProg final : public QWidget, public MainWindow {
    Q_OBJECT

public:
    frmProg(Toolkit& toolkit, std::unique_ptr<SerialControl> serial,
            const devicenotify::UsbPlatformCalls* usbPlatform, QWidget* parent = nullptr);
    ~frmProg() override;
    frmProg(const frmProg&) = delete;
    frmProg& operator=(const frmProg&) = delete;

    // --- What the handlers see of the window ---
    [[nodiscard]] WindowMembers& shared() override { return members_; }
    [[nodiscard]] const WindowMembers& shared() const override { return members_; }
    [[nodiscard]] Toolkit& toolkit() override { return toolkit_; }
    [[nodiscard]] Timer& timer(TimerRole role) override;
    [[nodiscard]] const Timer& timer(TimerRole role) const override;
    void setStatusCaption(const QString& statusPart) override;
    void setButtonCaption(WindowButton button, const QString& caption) override;
    void setButtonEnabled(WindowButton button, bool enabled) override;
    void showFileName(const QString& path) override;
    void logAppendAtEnd(const QString& text) override;
    void logAppendByRewriting(const QString& text) override;
    void logPrependByRewriting(const QString& text) override;
    void logClear() override;
    void showMessageBox(const QString& text, MessageIcon icon) override;
    void announceRunEnd(const RunEnding& ending) override { emit runEnded(ending); }
    void announcePortAway(const QString& description) override { emit portAway(description); }
    void announcePortBack() override { emit portBack(); }
    [[nodiscard]] QString showOpenDialog(const QString& title, const QString& filter,
                                         const QString& previousPath) override;
    [[nodiscard]] int speedListIndex() const override;
    [[nodiscard]] QString portText() const override;
    [[nodiscard]] bool isClosing() const override { return closing_; }

    // --- Public members of the serial link ---
    [[nodiscard]] bool PortOpen() const;
    void BaudRate(std::int16_t val);
    void comPort(std::int16_t val);
    void Send(int byte, bool invert);
    void SendPacket(int cmd, const PacketData& packetData);
    [[nodiscard]] bool Connected() const { return members_.Connected; }

    // True while the file streamer runs (it may outlive the run that started it by a yield).
    [[nodiscard]] bool isStreaming() const { return streamer_.isRunning(); }

    // The operating instructions the Help button shows.
    [[nodiscard]] static QString helpText();

signals:
    // Emitted once the close handler has run and the window has accepted the close.
    void closed();
    // How a run ended, once per run, from the row of the state table that ended it; a Connect
    // that fails before any run counts as the end of the run it was to carry.
    void runEnded(const norvak::RunEnding& ending);
    // While the run waited for the boot program, its port went away; then it came back and
    // was opened again with the same settings. Neither ends the run.
    void portAway(const QString& description);
    void portBack();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // --- Event handlers ---
    void Form_Load();
    void Form_QueryUnload();
    void btnCon_Click();
    void btnFlash_Click();
    void btnopenFile_Click();
    void MSComm1_OnComm();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Timerresettobootprg_Timer();
    void Timersendi_Timer();
    void Timersendf_Timer();
    void TimerdotNotReceived_Timer();
    void TimerSendFile_Timer();
    void portWatch_Timer();

    void createControls();
    void placeControls();
    void setTabOrder();
    void createTimers();
    void connectHandlers();
    // The one boundary between a handler and the event loop: nothing a handler throws may end
    // the program. A lost port (PortLostError: the adapter or the device has gone, or the line
    // refused a write) is reported as one; every other failure is dropped.
    void guarded(const std::function<void()>& handler);

    // Controls, owned by the window through Qt's parent ownership.
    QGroupBox* Frame9 = nullptr;
    QLineEdit* txtSpeed = nullptr;
    QLineEdit* txtComPort = nullptr;
    QPushButton* btnCon = nullptr;
    QLineEdit* txtRefresh = nullptr;
    QPushButton* btnFlash = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* lblFilename = nullptr;
    QPushButton* btnopenFile = nullptr;
    LogBox* txtbuffer = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Combospeed = nullptr;
    QPushButton* Command4 = nullptr;

    std::unique_ptr<Timer> TimerdotNotReceived;
    std::unique_ptr<Timer> Timersendf;
    std::unique_ptr<Timer> Timersendi;
    std::unique_ptr<Timer> TimerSendFile;
    std::unique_ptr<Timer> Timerresettobootprg;
    std::unique_ptr<Timer> portWatch;

    WindowMembers members_;

    Toolkit& toolkit_;
    std::unique_ptr<SerialControl> serial_;
    bool closing_ = false;

    SerialLink link_;
    RunTable table_;
    ReceiveDispatcher dispatcher_;
    FirmwareStreamer streamer_;
    devicenotify::ModuleUsbNotification listener_;
};

} // namespace norvak
