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

// A commit whose outcome is not known: the connection to the server was lost
// while it ran and nothing could tell afterwards whether the server made it.
// Whatever depends on the transaction must be kept for the operator to decide.
class ECommitInDoubt : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};
