#include "mainwindow/logbox/logbox.h"

namespace norvak {
LogBox::LogBox(QWidget* parent) : QPlainTextEdit(parent) {}
} // namespace norvak
