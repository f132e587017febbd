#pragma once

// The main window: every control, the members the handlers share, load and close, and the
// conventions for the status caption, the log box and message boxes. The handlers themselves
// live with their subsystems (link/, programming/) and in operator_commands.cpp.

#include "devicenotify/usb_notification.h"
#include "link/control/serial_control.h"
#include "link/serial_link.h"
#include "mainwindow/interface/toolkit.h"
#include "programming/firmware_streamer.h"
#include "programming/flash_state.h"
#include "programming/receive_dispatcher.h"
#include "programming/run_control.h"

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

inline const QString applicationTitle = QStringLiteral("Norvak Flash Programmer");

// State the handlers share. A new window starts with every number 0, every Boolean false
// and every text empty; Form_Load then sets what it sets.
struct WindowMembers {
    bool Connected = false;
    std::int32_t portNumber = 0;
    std::int32_t baudRate = 0;
    FlashState flashState = FlashState::Idle;
    std::int32_t restartCountdown = 0;
    QString fileName;
    double progressPercent = 0.0;
    // Counts the programming runs begun: a streamer run belongs to the one it started in.
    std::uint64_t programmingRun = 0;
    std::uintptr_t mainWindowHandle = 0;
};

// NOLINTNEXTLINE(readability-identifier-naming): the window keeps its established name.
class frmProg final : public QWidget {
    Q_OBJECT

public:
    frmProg(Toolkit& toolkit, std::unique_ptr<SerialControl> serial,
            const devicenotify::UsbPlatformCalls* usbPlatform, QWidget* parent = nullptr);
    ~frmProg() override;
    frmProg(const frmProg&) = delete;
    frmProg& operator=(const frmProg&) = delete;

    // --- Controls (owned by the window through Qt's parent ownership) ---
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

    WindowMembers members;

    [[nodiscard]] SerialControl& MSComm1() { return *serial_; }
    [[nodiscard]] Toolkit& toolkit() { return toolkit_; }

    // --- Public members of the serial link ---
    [[nodiscard]] bool PortOpen() const;
    void BaudRate(std::int16_t val);
    void comPort(std::int16_t val);
    void Send(int byte, bool invert);
    void SendPacket(int cmd, const PacketData& packetData);
    [[nodiscard]] bool Connected() const { return members.Connected; }

    // --- Conventions every handler follows ---
    // The caption becomes the application title followed by `statusPart` as given.
    void setStatusCaption(const QString& statusPart);
    // The caption becomes the application title, ", " and `text`.
    void setStatusText(const QString& text);
    void logAppendAtEnd(const QString& text);
    void logAppendByRewriting(const QString& text);
    void logPrependByRewriting(const QString& text);
    void logClear();
    void showMessageBox(const QString& text, MessageIcon icon);
    // The 0-based speed item the list's field shows, -1 when its text names no item.
    [[nodiscard]] int speedListIndex() const;
    [[nodiscard]] bool portOpenAndFileChosen() const;
    // Switches off every timer of the run (the program is ending, or its port is gone).
    void stopAllTimers();
    // True once the close handler has run: interrupted handlers wind up without sending.
    [[nodiscard]] bool isClosing() const { return closing_; }
    // True once the port was lost under a run, until it is opened again.
    [[nodiscard]] bool isPortLost() const { return link_.portLost(); }

    // --- Event handlers ---
    void Form_Load();
    void Form_QueryUnload();
    void btnCon_Click();
    void btnFlash_Click() {
        guarded([this] { run_.btnFlash_Click(); });
    }
    void btnopenFile_Click() {
        guarded([this] { streamer_.btnopenFile_Click(); });
    }
    void MSComm1_OnComm();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();

    [[nodiscard]] static QString helpText();

    [[nodiscard]] const devicenotify::ModuleUsbNotification& usbListener() const {
        return listener_;
    }
    [[nodiscard]] const FirmwareStreamer& streamer() const { return streamer_; }

signals:
    // Emitted once the close handler has run and the window has accepted the close.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void placeControls();
    void setTabOrder();
    void createTimers();
    void connectHandlers();
    // Runs a handler at the boundary to the event loop: nothing it throws may end the program.
    void guarded(const std::function<void()>& handler);

    Toolkit& toolkit_;
    std::unique_ptr<SerialControl> serial_;
    bool closing_ = false;

    SerialLink link_;
    ReceiveDispatcher dispatcher_;
    RunControl run_;
    FirmwareStreamer streamer_;
    devicenotify::ModuleUsbNotification listener_;
};

} // namespace norvak
