#pragma once

// The window's controls as a driver outside the window finds them: by the names they carry
// (control_names.h), as an operator finds them by their captions. The scripted run, the benchmarks
// and the tests press buttons, type into boxes and read the log box through these; the handlers
// never do.

#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace norvak {

class LogBox;

struct WindowControls {
    QPushButton& connectButton; // btnCon
    QPushButton& flashButton;   // btnFlash
    QPushButton& browseButton;  // btnopenFile
    QPushButton& helpButton;    // Command5
    QLineEdit& portBox;         // txtComPort
    QComboBox& speedList;       // Combospeed
    QLabel& fileLabel;          // lblFilename
    LogBox& logBox;             // txtbuffer

    // Fails with std::logic_error when `window` lacks one of them.
    [[nodiscard]] static WindowControls of(QWidget& window);
};

} // namespace norvak
