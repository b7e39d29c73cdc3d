#include "qtcommon/ProgramLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QStandardPaths>

namespace {

Q_LOGGING_CATEGORY(programLog, "usbkey.log", QtWarningMsg)

constexpr qint64 kLargest = 1024 * 1024;

QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}

QString& openPath()
{
    static QString path;
    return path;
}

// One line: line breaks and other control characters of a message (a
// driver's text spans lines) do not split it.
QString oneLine(const QString& text)
{
    QString line;
    line.reserve(text.size());
    bool lastWasBreak = false;
    for (QChar c : text.trimmed()) {
        const bool isBreak = c == u'\n' || c == u'\r';
        if (isBreak) {
            if (!lastWasBreak) line += QStringLiteral(" / ");
        } else {
            line += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar(u'?') : c;
        }
        lastWasBreak = isBreak;
    }
    return line;
}

} // namespace

QString ProgramLog::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("usbkey/usbkey.log"));
}

void ProgramLog::open(const QString& path)
{
    QMutexLocker locked(&lock());
    openPath() = path.isEmpty() ? defaultPath() : path;
}

void ProgramLog::close()
{
    QMutexLocker locked(&lock());
    openPath().clear();
}

QString ProgramLog::path()
{
    QMutexLocker locked(&lock());
    return openPath();
}

void ProgramLog::warning(const QString& text)
{
    // Local time with its offset from UTC, so that lines from machines in other zones compare.
    const QDateTime now = QDateTime::currentDateTime();
    const QString line = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs) +
                         QStringLiteral(" warning ") + oneLine(text);
    qCInfo(programLog).noquote() << line;
    QMutexLocker locked(&lock());
    const QString path = openPath();
    if (path.isEmpty()) return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (QFileInfo(path).size() > kLargest) {
        const QString older = path + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(path, older);
    }
    // A new file is its owner's alone; the lines may name servers, users and files.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(programLog).noquote() << "the log" << path << "cannot be written:" << file.errorString();
        return;
    }
    file.write(line.toUtf8() + '\n');
}
