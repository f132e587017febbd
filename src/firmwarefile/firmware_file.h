#pragma once

// Opening a firmware file for reading, for the streamer and the S-record checker alike.

#include "firmwarefile/line_reader.h"

#include <QString>

#include <memory>

class QFile;

namespace norvak {

// Opens a firmware file read-only. Anything but a readable regular file throws
// FirmwareFileError with the reason; nothing is ever created, and a pipe or a device in the
// file's place does not block.
[[nodiscard]] std::unique_ptr<QFile> openFirmwareFile(const QString& path);

// Why the system refused to open a firmware file (an errno), in the operator's words.
[[nodiscard]] QString whyFileNotOpened(int error);

} // namespace norvak
