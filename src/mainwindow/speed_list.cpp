#include "mainwindow/speed_list.h"

#include "protocol/run_timing.h"

#include <array>

namespace norvak {

namespace {

// What follows each item's number; the blanks are the list's own (two after the fastest and
// the normal pause, one after the slowest).
constexpr std::array<const char*, protocol::speedItemCount> speedItemNotes = {
    "  - fastest", "", "  - normal", "", " - slowest"};

QStringList makeSpeedItems() {
    QStringList items;
    for (int item = 0; item < protocol::speedItemCount; ++item) {
        const auto index = static_cast<std::size_t>(item);
        items << QString::number(protocol::speedItemMilliseconds[index]) +
                     QLatin1StringView(speedItemNotes[index]);
    }
    return items;
}

QString leadingNumber(const QString& item) {
    return item.section(QLatin1Char(' '), 0, 0);
}

} // namespace

const QStringList& speedItems() {
    static const QStringList items = makeSpeedItems();
    return items;
}

int speedItemNamedBy(const QString& text) {
    const QString given = text.simplified();
    const QStringList& items = speedItems();
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString& item = items[i];
        if (given == item.simplified() || given == leadingNumber(item)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace norvak
