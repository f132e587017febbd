#pragma once

// The serial link: configuring, opening and closing the one port from the Connect button,
// the link state shown in the status caption, and the two ways to put bytes on the line.

#include "seam/main_window.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace norvak {

class SerialControl;

// SendPacket's data: a sequence of numbers indexed from 0, or std::nullopt where the caller
// passes a single value or nothing (then only command, 0 and check go out).
using PacketData = std::optional<std::vector<int>>;

// The serial control's settings text for `baudRate`: the rate, then no parity, 8 data bits and
// 1 stop bit. The link always runs at protocol::baudRate; the speed box is informational only.
[[nodiscard]] QString linkSettings(std::int32_t baudRate);

// The port box's text as a 32-bit number: blanks around it allowed, a decimal number in ASCII
// ("4", "+4", "4.0", "4e0") rounded to the nearest whole number, a half to the even one.
// Throws SerialError with a description when the text holds no number or the number lies
// beyond 32 bits.
[[nodiscard]] std::int32_t parsePortText(const QString& text);

class SerialLink {
public:
    SerialLink(MainWindow& window, SerialControl& comm)
        : w_(window)
        , comm_(comm) {}

    static inline const QString connectCaption = QStringLiteral("Connect");
    static inline const QString disconnectCaption = QStringLiteral("Disconnect");

    // Opens the port when it is closed, closes it otherwise. False when the port text or a
    // setting was refused before the port was touched: the caption says why and the port
    // stays closed.
    [[nodiscard]] bool btnCon_Click();
    // Why the last Connect press failed (the caption shows it with the time); none when it
    // opened or closed the port as asked.
    [[nodiscard]] const std::optional<QString>& connectFailure() const { return connectFailure_; }
    void SetupPort();
    void ToggleConnection();
    void ClosePort();

    [[nodiscard]] bool PortOpen() const;
    void BaudRate(std::int16_t val);
    void comPort(std::int16_t val);
    void Send(int data, bool invert);
    void SendPacket(int cmd, const PacketData& data);

    // The port went away while open (adapter pulled, device gone, a write failed): the
    // operator sees the error form of the caption once and the port is closed. False when
    // this loss was reported already.
    [[nodiscard]] bool reportPortLost(const QString& description);
    // True from a loss until the port is opened again.
    [[nodiscard]] bool portLost() const { return lossReported_; }

    // The port went away while a run waits for the boot program, whose device may have
    // switched its adapter off with itself: the port is closed (its claim and lock released)
    // but nothing is reported yet, for it may come back. False when it is away already or
    // the loss was reported.
    [[nodiscard]] bool leavePortAway();
    // One cheap look for the port that went away: opens it again by the same number, with
    // the same settings. True when it is open again.
    [[nodiscard]] bool reopenAwayPort();
    [[nodiscard]] bool portAway() const { return away_; }

private:
    // Connect pressed while the port is away: the operator disconnects; nobody waits for it.
    void giveUpAwayPort();
    void reportConnectFailure(const QString& description);
    void showErrorCaption(const QString& description);
    void closeIfOpen();

    MainWindow& w_;
    SerialControl& comm_;
    bool lossReported_ = false;
    bool away_ = false;
    std::optional<QString> connectFailure_;
};

} // namespace norvak
