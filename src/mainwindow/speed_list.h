#pragma once

// The speed list: five pause items, and which of them a text in the list's field names.

#include <QString>
#include <QStringList>

namespace norvak {

inline const QStringList speedItems = {QStringLiteral("20  - fastest"), QStringLiteral("40"),
                                       QStringLiteral("60  - normal"), QStringLiteral("80"),
                                       QStringLiteral("100 - slowest")};
constexpr int normalSpeedItem = 2;

// The 0-based item that `text` names: the item's own text, or its leading number (20, 40,
// 60, 80, 100) alone, blanks aside. Any other text names no item: -1. The field is editable,
// and its completer turns "1" into "100 - slowest": the pause must be the one the field shows,
// however the text got there.
[[nodiscard]] int speedItemNamedBy(const QString& text);

} // namespace norvak
