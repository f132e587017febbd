#pragma once

// The failures serial operations throw: a description meant for the operator.

#include <QString>

#include <stdexcept>

namespace norvak {

class SerialError : public std::runtime_error {
public:
    explicit SerialError(const QString& description)
        : std::runtime_error(description.toStdString())
        , description_(description) {}
    [[nodiscard]] const QString& description() const noexcept { return description_; }

private:
    QString description_;
};

// The line is gone under the open port: the adapter was removed or the other end went away,
// or the line does not take what is written to it (a write refused or stalled). Whoever meets
// it reports a lost port; no other SerialError means one.
class PortLostError : public SerialError {
public:
    using SerialError::SerialError;
};

} // namespace norvak
