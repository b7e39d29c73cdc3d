#pragma once

#include <QLoggingCategory>
#include <QString>

// Where connection failures are logged with their reason (never a
// password): a server that cannot be reached, a session it dropped, a
// commit whose outcome had to be asked for. Category "usbkey.connection".
Q_DECLARE_LOGGING_CATEGORY(connectionLog)

// An event of the connection, logged under that category and in the
// program's log, where an administrator looks for it.
void logConnectionEvent(const QString& text);
