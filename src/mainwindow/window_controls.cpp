#include "mainwindow/window_controls.h"

#include "mainwindow/control_names.h"
#include "mainwindow/logbox/logbox.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <stdexcept>

namespace norvak {

namespace {

template <typename Control> Control& named(QWidget& window, QLatin1StringView name) {
    auto* control = window.findChild<Control*>(name);
    if (control == nullptr) {
        throw std::logic_error("the window has no control " + QString(name).toStdString());
    }
    return *control;
}

} // namespace

WindowControls WindowControls::of(QWidget& window) {
    namespace name = control_name;
    return {.connectButton = named<QPushButton>(window, name::btnCon),
            .flashButton = named<QPushButton>(window, name::btnFlash),
            .browseButton = named<QPushButton>(window, name::btnopenFile),
            .helpButton = named<QPushButton>(window, name::Command5),
            .portBox = named<QLineEdit>(window, name::txtComPort),
            .speedList = named<QComboBox>(window, name::Combospeed),
            .fileLabel = named<QLabel>(window, name::lblFilename),
            .logBox = named<LogBox>(window, name::txtbuffer)};
}

} // namespace norvak
