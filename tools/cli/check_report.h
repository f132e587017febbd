#pragma once

// The check's report as the operator reads it, and as JSON.

#include "firmwarefile/srec_check.h"

#include <QByteArray>
#include <QString>

namespace norvak::cli {

// Problems first, one per line as FILE:LINE:COLUMN: message (an error) or
// FILE:LINE:COLUMN: warning: message, then the summary.
[[nodiscard]] QString checkText(const QString& file, const SrecReport& report);
// Only the problems, as checkText() prints them.
[[nodiscard]] QString problemsText(const QString& file, const SrecReport& report);
// "1 error, 2 warnings".
[[nodiscard]] QString problemCountText(const SrecReport& report);
[[nodiscard]] QByteArray checkJson(const QString& file, const SrecReport& report);
[[nodiscard]] QByteArray unreadableJson(const QString& file, const QString& error);

} // namespace norvak::cli
