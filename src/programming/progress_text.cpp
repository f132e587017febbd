#include "programming/progress_text.h"

#include <cmath>
#include <stdexcept>

namespace norvak {

double progressPercent(qint64 lineNumber, qint64 lineTotal) {
    if (lineTotal == 0)
        throw std::domain_error("no lines were counted");
    return std::floor(static_cast<double>(lineNumber) * 1000.0 / static_cast<double>(lineTotal)) /
           10.0;
}

QString progressText(double percent, QLocale locale) {
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(percent, 'g', 15);
}

} // namespace norvak
