#pragma once

// The failure every serial operation throws: a description meant for the operator.

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

} // namespace norvak
