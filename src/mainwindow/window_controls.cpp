#include "mainwindow/window_controls.h"

#include "mainwindow/logbox/logbox.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <stdexcept>

namespace norvak {

namespace {

template <typename Control> Control& named(QWidget& window, const char* name) {
    auto* control = window.findChild<Control*>(QLatin1StringView(name));
    if (control == nullptr) {
        throw std::logic_error(std::string("the window has no control ") + name);
    }
    return *control;
}

} // namespace

WindowControls WindowControls::of(QWidget& window) {
    return {.connectButton = named<QPushButton>(window, "btnCon"),
            .flashButton = named<QPushButton>(window, "btnFlash"),
            .browseButton = named<QPushButton>(window, "btnopenFile"),
            .helpButton = named<QPushButton>(window, "Command5"),
            .portBox = named<QLineEdit>(window, "txtComPort"),
            .speedList = named<QComboBox>(window, "Combospeed"),
            .fileLabel = named<QLabel>(window, "lblFilename"),
            .logBox = named<LogBox>(window, "txtbuffer")};
}

} // namespace norvak
