#pragma once

// The file a command line names, by its bytes. Qt holds file names as text in the system's
// encoding, and a name whose bytes are not valid there (a Latin-1 name on a UTF-8 system) does
// not survive the trip: Qt would look for another name. Such a name is opened here by its
// bytes, and Qt, the checker and the window's streamer reach the open file through
// /proc/self/fd (each opening reads the file from its start, as a path would).

#include "firmwarefile/firmware_file.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace norvak::cli {

// A word of the command line as text from its bytes, and back. The bytes are the system's own
// (QFile's encoding), except on Windows, where main() takes the words from the wide command
// line as UTF-8: the ANSI code page would lose letters.
[[nodiscard]] QString argumentText(const QByteArray& bytes);
[[nodiscard]] QByteArray argumentBytes(const QString& text);

class NamedFile {
public:
    explicit NamedFile(const QByteArray& bytes);
    ~NamedFile();
    NamedFile(const NamedFile&) = delete;
    NamedFile& operator=(const NamedFile&) = delete;

    // The path to open the file by.
    [[nodiscard]] const QString& path() const { return path_; }
    // The name as messages show it (see shownName()).
    [[nodiscard]] const QString& shown() const { return shown_; }
    // Opens the file as the window's streamer does (openFirmwareFile), so that the command
    // line and the window refuse the same files with the same reasons.
    [[nodiscard]] FirmwareOpening open() const;
    // "<the name as shown>: <why>", as messages name a file that cannot be read.
    [[nodiscard]] QString unreadable(const QString& why) const;
    // Whether the file is reached through an opening of its own rather than its name.
    [[nodiscard]] bool openedByBytes() const { return descriptor_ >= 0; }

private:
    QString path_;
    QString shown_;
    std::optional<QString> failure_; // why a name Qt cannot carry could not be opened
    int descriptor_ = -1;
};

} // namespace norvak::cli
