#pragma once

// The one way tests reach the main window. WindowView speaks the window's vocabulary by role
// (the buttons, the run, the link, the speed list, the timers, the caption and the log box)
// over a window made with any toolkit and serial control; WindowRig owns one on the virtual
// clock with the fake serial control and drives it the way an operator and a device would.

#include "mainwindow/frmprog.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/virtual_toolkit.h"

#include <QRect>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace norvak::test {

// The window's buttons by what they do for the operator (F, G and SFile are hidden).
enum class Button { Connect, Flash, Browse, Help, ClearScreen, F, G, SFile };
inline constexpr std::array allButtons = {Button::Connect, Button::Flash,       Button::Browse,
                                          Button::Help,    Button::ClearScreen, Button::F,
                                          Button::G,       Button::SFile};

// Timers by role, as the window names them: norvak::TimerRole, every one in
// norvak::allTimerRoles.
using norvak::allTimerRoles;
using norvak::TimerRole;

// How one control looks, for tests of the layout.
struct ControlLook {
    QString text; // a button's caption, a box's text, a frame's title, a list's current text
    QRect geometry;
    bool visible = false;
    bool enabled = false;
    QString toolTip;
    // The design name of the control it sits in; empty when it sits in the window itself.
    QString container;
};

// Run values an operator and a device cannot bring about (or not in a test's time). Only
// the values given are set.
struct ForcedRunValues {
    std::optional<FlashState> state = std::nullopt;
    std::optional<std::int32_t> restartCountdown = std::nullopt;
    std::optional<QString> fileName = std::nullopt;
};

class WindowView {
public:
    explicit WindowView(frmProg& window) { attach(window); }
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;

    // --- Buttons ---
    void press(Button button);
    // The press arrives through the event loop, after whatever is running now.
    void pressLater(Button button);
    [[nodiscard]] QString caption(Button button) const;
    [[nodiscard]] bool enabled(Button button) const;
    [[nodiscard]] bool visible(Button button) const;
    // The buttons on show, in the order the window holds them.
    [[nodiscard]] std::vector<Button> visibleButtons() const;
    void pressConnect() { press(Button::Connect); }
    void pressStart() { press(Button::Flash); }

    // --- The run ---
    [[nodiscard]] FlashState state() const;
    [[nodiscard]] std::int32_t restartCountdown() const;
    [[nodiscard]] QString fileName() const;
    [[nodiscard]] QString fileLabel() const;
    [[nodiscard]] QString fileLabelToolTip() const;
    [[nodiscard]] double progressPercent() const;
    // True while a file is being streamed.
    [[nodiscard]] bool streaming() const;
    // Every run end the window announced, in order.
    [[nodiscard]] const std::vector<RunEnding>& runEnds() const { return runEnds_; }
    // The port's goings and comings the window announced during runs: "away: " and the
    // description, or "back".
    [[nodiscard]] const QStringList& portComings() const { return portComings_; }

    // --- The link ---
    [[nodiscard]] bool connected() const;
    [[nodiscard]] bool portOpen() const;
    void setPortText(const QString& text);
    [[nodiscard]] std::int32_t portNumber() const;
    [[nodiscard]] std::int32_t baudRate() const;
    // The link's own calls, which no control makes.
    void send(int byte, bool invert);
    void sendPacket(int cmd, const PacketData& data);
    void setBaudRate(std::int16_t rate);
    void setComPort(std::int16_t port);

    // --- The speed list ---
    // The operator picks an item from the list.
    void chooseSpeed(int item);
    // The operator types into the field, replacing its text (the window must be active).
    void typeSpeed(const QString& text);
    // The operator's edit leaves `text` in the field, as typing would announce it.
    void editSpeed(const QString& text);
    // `text` lands in the field without a key pressed (pasted, or set by a program).
    void putSpeedText(const QString& text);
    // Focus moves from the field to the port box.
    void leaveSpeedField();
    [[nodiscard]] QString speedText() const;
    [[nodiscard]] QStringList speedItems() const;
    [[nodiscard]] bool speedEditable() const;
    // The item whose pause the run takes, -1 when the field names none.
    [[nodiscard]] int speedItem() const;

    // --- Timers ---
    [[nodiscard]] bool timerOn(TimerRole role) const;
    [[nodiscard]] Milliseconds timerInterval(TimerRole role) const;

    // --- Caption and log box ---
    [[nodiscard]] QString caption() const;
    [[nodiscard]] QString logText() const;
    [[nodiscard]] qsizetype logLength() const;
    // The operator types `text` at the end of the log box.
    void typeIntoLog(const QString& text);
    [[nodiscard]] static QString helpText();

    // --- The window as a whole ---
    // The top-level widget: its title, size, icon and signals.
    [[nodiscard]] QWidget& widget() const;
    void show();
    // Shows and activates the window; false if it never became active.
    [[nodiscard]] bool activate();
    bool close();
    [[nodiscard]] bool isClosing() const;
    [[nodiscard]] int closedCount() const { return closedCount_; }
    void onClosed(std::function<void()> callback);
    [[nodiscard]] std::uintptr_t windowHandle() const;
    [[nodiscard]] ControlLook look(const QString& designName) const;
    // The design name of the control that has the keyboard focus (or holds what has it).
    [[nodiscard]] QString focusedControl() const;
    void pressTab();

    // --- Forcing: the only place tests set what the window's handlers own ---
    void force(const ForcedRunValues& values);
    void forceTimerOff(TimerRole role);
    void forceStartButton(bool enabled, const std::optional<QString>& caption = std::nullopt);

protected:
    WindowView() = default;
    void attach(frmProg& window);

private:
    [[nodiscard]] QPushButton* button(Button button) const;
    [[nodiscard]] Timer& timer(TimerRole role) const;

    frmProg* window_ = nullptr;
    std::array<QPushButton*, allButtons.size()> buttons_{};
    QLabel* fileLabel_ = nullptr;
    QLineEdit* portBox_ = nullptr;
    QComboBox* speedList_ = nullptr;
    LogBox* log_ = nullptr;
    int closedCount_ = 0;
    std::vector<RunEnding> runEnds_;
    QStringList portComings_;
};

class WindowRig final : public WindowView {
public:
    // `usbPlatform` stands in for the system's device-notification calls; none leaves the
    // listener inactive, as on Linux.
    explicit WindowRig(const devicenotify::UsbPlatformCalls* usbPlatform = nullptr);

    VirtualToolkit toolkit;
    FakeSerialControl* serial = nullptr; // owned by the window

    // Chooses `path` in the file dialog through the browse button.
    void chooseFile(const QString& path);
    // Opens the file dialog through the browse button and cancels it.
    void cancelFileDialog();
    // Writes a file into a temporary folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& contents);
    // Connects, chooses a file and presses START PROGRAMMING.
    void startRun(const QByteArray& fileContents);
    // Runs a start up to the state Sending: ">" then "_".
    void startAndReachSending(const QByteArray& fileContents);
    // The device sends `bytes`; the window handles them at once.
    void receive(const QByteArray& bytes);
    // Advances the virtual clock.
    void tick(Milliseconds duration) { toolkit.advance(duration); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<frmProg> window_;
};

} // namespace norvak::test
