#pragma once

#include <QString>
#include <stdexcept>

// Every error of the data access layer. The message is written for the user
// (it names the field, file or statement concerned) and ends up in a message box.
class EDatabaseError : public std::runtime_error {
public:
    // What the caller may do about it, as the provider that raised it
    // classified it: the layers above match no database's message text.
    enum class Kind {
        Other,
        Retry,          // the server ended the transaction to break a deadlock or a conflict: run it again
        ConnectionLost, // the session is gone
        Locked,         // another session holds what the statement needs
    };

    explicit EDatabaseError(const QString& message, Kind kind = Kind::Other)
        : std::runtime_error(message.toStdString()), m_message(message), m_kind(kind) {}
    const QString& message() const { return m_message; }
    Kind kind() const { return m_kind; }

private:
    QString m_message;
    Kind m_kind;
};

// A commit whose outcome is not known: the connection to the server was lost
// while it ran and nothing could tell afterwards whether the server made it.
// Whatever depends on the transaction must be kept for the operator to decide.
class ECommitInDoubt : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};
