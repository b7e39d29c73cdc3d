#pragma once

#include <QString>
#include <stdexcept>

// A refused write to a profile-style INI file; the message names the file.
class EIniFileException : public std::runtime_error {
public:
    explicit EIniFileException(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};
