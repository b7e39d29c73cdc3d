#pragma once

#include <QString>
#include <stdexcept>

// The export file could not be created or written. The message names the
// file and the system's reason, for the operator.
class ExportFileError : public std::runtime_error {
public:
    explicit ExportFileError(const QString& message) : std::runtime_error(message.toStdString()) {}
};
