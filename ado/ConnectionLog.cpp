#include "ado/ConnectionLog.h"

Q_LOGGING_CATEGORY(connectionLog, "usbkey.connection")
