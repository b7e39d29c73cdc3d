#include "grid/ColumnInfoFile.h"

#include <QCoreApplication>
#include <QDir>

QString ColumnInfoFile::defaultFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString ColumnInfoFile::pathOf(const QString& folder, const QString& fileName)
{
    const QDir dir(folder);
    const QString canonical = QString::fromLatin1(kFileName);
    // A name equal to the layout file's but for case means that file.
    const QString wanted = fileName.compare(canonical, Qt::CaseInsensitive) == 0 ? canonical : fileName;

    if (dir.exists(wanted))
        return dir.absoluteFilePath(wanted);
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.absoluteFilePath(entry);
    }
    return dir.absoluteFilePath(wanted);
}
