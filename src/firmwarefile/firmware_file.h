#pragma once

// Opening a firmware file for reading, for the streamer and the S-record checker alike.

#include <QFile>
#include <QString>

#include <memory>
#include <variant>

namespace norvak {

// What opening a firmware file gave: the file, open for reading, or why it could not be
// opened, in the operator's words and without the path. A file that is missing, a folder, a
// pipe or a device is an answer like any other, not a failure of the program.
class FirmwareOpening {
public:
    explicit FirmwareOpening(std::unique_ptr<QFile> file)
        : outcome_(std::move(file)) {}
    explicit FirmwareOpening(QString whyNot)
        : outcome_(std::move(whyNot)) {}

    [[nodiscard]] bool isOpen() const {
        return std::holds_alternative<std::unique_ptr<QFile>>(outcome_);
    }
    // Only when isOpen().
    [[nodiscard]] QFile& file() const { return *std::get<std::unique_ptr<QFile>>(outcome_); }
    // Only when !isOpen().
    [[nodiscard]] const QString& whyNot() const { return std::get<QString>(outcome_); }

private:
    std::variant<std::unique_ptr<QFile>, QString> outcome_;
};

// Opens a firmware file read-only: a readable regular file is opened, anything else is
// refused with the reason. Nothing is ever created, and a pipe or a device in the file's place
// does not block. The streamer and the command line decide by this alone whether a file can
// be read.
[[nodiscard]] FirmwareOpening openFirmwareFile(const QString& path);

// Why the system refused to open a firmware file (an errno), in the operator's words.
[[nodiscard]] QString whyFileNotOpened(int error);

} // namespace norvak
