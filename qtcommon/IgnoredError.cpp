#include "qtcommon/IgnoredError.h"

#include <QLoggingCategory>
#include <QString>

#include <exception>

namespace {

Q_LOGGING_CATEGORY(ignoredErrors, "usbkey.ignored")

QString currentErrorText()
{
    try {
        if (std::exception_ptr error = std::current_exception())
            std::rethrow_exception(error);
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        // Not an std::exception: nothing more to say about it than that.
    }
    return QStringLiteral("an error without text");
}

} // namespace

void ignoreBecause(const char* reason)
{
    qCWarning(ignoredErrors).noquote() << "ignored" << currentErrorText() << "because" << reason;
}
