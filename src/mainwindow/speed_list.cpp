#include "mainwindow/speed_list.h"

namespace norvak {

namespace {

QString leadingNumber(const QString& item) {
    return item.section(QLatin1Char(' '), 0, 0);
}

} // namespace

int speedItemNamedBy(const QString& text) {
    const QString given = text.simplified();
    for (qsizetype i = 0; i < speedItems.size(); ++i) {
        const QString& item = speedItems[i];
        if (given == item.simplified() || given == leadingNumber(item)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace norvak
