#include "programming/progress_text.h"

#include <cmath>
#include <stdexcept>

namespace norvak {

double progressPercent(qint64 lineNumber, qint64 lineTotal) {
    if (lineTotal == 0) {
        throw std::domain_error("no lines were counted");
    }
    return std::floor(static_cast<double>(lineNumber) * 1000.0 / static_cast<double>(lineTotal)) /
           10.0;
}

QString progressText(double percent, const QLocale& locale) {
    // The digits stay 0-9 under every locale (some would write native digits); only the
    // decimal separator is the operator's.
    QString text = QLocale::c().toString(percent, 'g', 15);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text;
}

} // namespace norvak
