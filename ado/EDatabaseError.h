#pragma once

#include <QString>
#include <stdexcept>

// Every error of the data access layer. The message is written for the user
// (it names the field, file or statement concerned) and ends up in a message box.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};
