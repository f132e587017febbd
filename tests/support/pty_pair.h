#pragma once

// A pseudo-terminal pair for tests: the test holds the master side and plays the device
// (or the adapter), the program under test opens the slave path like a serial port.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <termios.h>

namespace norvak::test {

class PtyPair {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had. Both sides are raw.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] int masterFd() const;
    [[nodiscard]] QString slavePath() const;

    // Reads what the program sent within `timeout`; returns early once `atLeast` bytes came.
    QByteArray read(std::chrono::milliseconds timeout, qsizetype atLeast = 1);
    // Sends bytes to the program. Throws std::runtime_error when they cannot all be written.
    void write(QByteArrayView bytes);
    // Simulates the adapter being pulled out: the slave side is hung up.
    void closeMaster();
    // The line settings the tty has now (as the program left them).
    [[nodiscard]] struct termios slaveTermios() const;

private:
    int master_ = -1;
    // Held open so that the master does not see a hang-up whenever the program closes the port.
    int slaveKeeper_ = -1;
    QString slavePath_;
};

} // namespace norvak::test
