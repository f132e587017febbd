#pragma once

// This program's claim on a serial device, so that no two openings of ours share one line,
// whatever name each was given (a /dev/serial/by-id link, the device itself) and whoever runs
// them. The system's exclusive mode of a tty stops a second opening only for users other than
// root, and Qt's lock file is taken per name; so the claim is an advisory lock on the device
// itself, held on a descriptor of its own that lives as long as the port is open and dies with
// the process. The claim is taken before Qt opens the port: a refused second opening then
// never touches the line of the first (Qt's close would clear the first one's exclusive mode).
//
// CMake builds one implementation per platform: POSIX devices, or ports that are no files
// (Windows' COMn, which the system opens for one program at a time anyway).

#include <QString>

namespace norvak {

class PortClaim {
public:
    enum class Outcome {
        Taken,         // held until release, or until the process ends
        HeldElsewhere, // another opening holds the device
        NotTaken,      // the device could not be asked (missing, no permission): Qt's open tells
    };

    PortClaim() = default;
    ~PortClaim();
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    // Claims the device `devicePath` names, releasing any earlier claim first.
    [[nodiscard]] Outcome take(const QString& devicePath);
    void release();

private:
    int descriptor_ = -1; // holds the lock; POSIX only
};

namespace port_claim {

// The device a path names: links resolved, so that every name of one device gives the same
// path. The path itself where it leads nowhere or ports are no files.
[[nodiscard]] QString devicePath(const QString& path);

// The program that holds the device, as "ModemManager (pid 812)": the holder of a claim
// first, else any other process that has the device open. Empty where the system cannot
// tell (another user's processes, systems without /proc).
[[nodiscard]] QString holderOf(const QString& devicePath);

} // namespace port_claim

} // namespace norvak
