#pragma once

// The speed list: five pause items, and which of them a text in the list's field names.

#include <QString>
#include <QStringList>

namespace norvak {

// The items in the list's order: each is its pause in milliseconds (protocol/run_timing.h),
// three of them with a note after it.
[[nodiscard]] const QStringList& speedItems();

// The 0-based item that `text` names: the item's own text, or its leading number (the pause
// in milliseconds) alone, blanks aside. Any other text names no item: -1. The field is
// editable, and its completer turns "1" into the slowest item: the pause must be the one the
// field shows, however the text got there.
[[nodiscard]] int speedItemNamedBy(const QString& text);

} // namespace norvak
