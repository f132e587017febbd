#pragma once

// Text from outside the program (file names, the device's own bytes, the system's messages)
// as it may be printed: a control character could move the cursor, clear the screen or
// retitle the terminal, so each is shown as \xNN instead.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace norvak::cli {

// C0 controls, DEL and the C1 controls (U+0080..U+009F) as \xNN; everything else as it is.
[[nodiscard]] QString withControlsEscaped(QStringView text);

// A name given as bytes: UTF-8 as it reads, every byte that is not part of a well-formed
// UTF-8 character as \xNN, control characters escaped as above.
[[nodiscard]] QString shownName(QByteArrayView bytes);

} // namespace norvak::cli
