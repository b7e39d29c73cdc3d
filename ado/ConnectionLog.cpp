#include "ado/ConnectionLog.h"

#include "qtcommon/ProgramLog.h"

Q_LOGGING_CATEGORY(connectionLog, "usbkey.connection")

void logConnectionEvent(const QString& text)
{
    qCWarning(connectionLog).noquote() << text;
    ProgramLog::warning(text);
}
