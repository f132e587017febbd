#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>

namespace norvak {

// Whole tenths of a percent, rounded down: floor(line * 1000 / total) / 10. Throws when the
// total is 0 (the file changed between the counting and the sending pass).
[[nodiscard]] double progressPercent(qint64 lineNumber, qint64 lineTotal);

// The shortest decimal form (at most 15 significant digits) in the digits 0-9, with the
// locale's decimal separator and no digit grouping: "33.3", "100", "0", "0.1", "33,3".
[[nodiscard]] QString progressText(double percent, const QLocale& locale = QLocale::system());

} // namespace norvak
