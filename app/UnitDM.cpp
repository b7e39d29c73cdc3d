#include "app/UnitDM.h"

#include "ado/ConnectionLog.h"
#include "ado/ConnectionString.h"
#include "ado/EDatabaseError.h"
#include "qtcommon/ProgramLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

TDM* DM = nullptr;

TDM::TDM(const QString& programFolder)
    : ADOConn(new TADOConnection), m_connection(ADOConn), m_programFolder(programFolder)
{
    ADOConn->setLoginPrompt(false);
    ADOConn->setKeepConnection(false);
}

TDM::~TDM()
{
    if (DM == this) DM = nullptr;
}

QString TDM::connectionStringFor(const QString& programFolder)
{
    QString folder = QDir::toNativeSeparators(programFolder);
    if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
    QString path = folder + QStringLiteral("db") + QDir::separator() + QStringLiteral("vask.mdb");
    // Plain concatenation would let a ';' in the folder name end the value early.
    if (path.contains(u';') || path.contains(u'"') || path.contains(u'\'') || path != path.trimmed())
        path = u'"' + QString(path).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path +
           QStringLiteral(";Persist Security Info=False");
}

QString TDM::dataLinkPathFor(const QString& programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("db/connection.udl"));
}

QString TDM::readDataLink(const QString& path)
{
    const QString name = QDir::toNativeSeparators(path);
    auto refuse = [&](const QString& why) {
        return EDatabaseError(QStringLiteral("The data-link file '%1' %2").arg(name, why));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    // Windows writes a few hundred bytes; anything far larger is not one.
    constexpr qint64 kLargest = 64 * 1024;
    const QByteArray bytes = file.read(kLargest + 1);
    if (file.error() != QFileDevice::NoError)
        throw refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (bytes.size() > kLargest) throw refuse(QStringLiteral("is too large to be a data-link file"));
    if (!bytes.startsWith("\xFF\xFE") || bytes.size() % 2 != 0)
        throw refuse(QStringLiteral("is not UTF-16 text with a byte-order mark, as Windows writes data-link files"));
    QStringDecoder decoder(QStringDecoder::Utf16LE);
    const QString text = decoder.decode(bytes.mid(2));
    if (decoder.hasError() || !QStringView(text).isValidUtf16() || text.contains(QChar(0)))
        throw refuse(QStringLiteral("is not valid UTF-16 text"));

    bool sawHeader = false;
    QString connection;
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty()) continue;
        if (!sawHeader) {
            if (line.compare(QStringLiteral("[oledb]"), Qt::CaseInsensitive) != 0)
                throw refuse(QStringLiteral("does not start with the line [oledb]"));
            sawHeader = true;
        } else if (line.startsWith(u';')) {
            continue;
        } else if (connection.isEmpty()) {
            connection = line;
        } else {
            // Not quoted: the line may hold a password.
            throw refuse(QStringLiteral("has a second connection string (line %1)").arg(i + 1));
        }
    }
    if (!sawHeader) throw refuse(QStringLiteral("is empty"));
    if (connection.isEmpty()) throw refuse(QStringLiteral("holds no connection string after [oledb]"));
    return connection;
}

void TDM::warnIfReadableByOthers(const QString& dataLink, const QString& connectionString)
{
#ifdef Q_OS_WIN
    // Windows keeps who may read a file in its access list, which the
    // folder the program is installed in decides.
    Q_UNUSED(dataLink);
    Q_UNUSED(connectionString);
#else
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!(QFileInfo(dataLink).permissions() & others)) return;
    try {
        if (!ConnectionString::holdsPassword(ConnectionString::parse(connectionString))) return;
    } catch (const EDatabaseError&) {
        return; // opening the connection reports a string it cannot read
    }
    const QString path = QDir::toNativeSeparators(QFileInfo(dataLink).absoluteFilePath());
    ProgramLog::warning(QStringLiteral("The data-link file '%1' holds a password and other users of this computer may "
                                       "read it; make it readable by its owner only (chmod 600 '%1')")
                            .arg(path));
#endif
}

bool TDM::DataModuleCreate()
{
    m_connectionError.clear();
    bool opening = false;
    try {
        ADOConn->Close();
        QString folder = m_programFolder;
        if (folder.isEmpty()) {
            if (!QCoreApplication::instance())
                throw EDatabaseError(QStringLiteral("The program's folder is unknown: no application object exists"));
            folder = QCoreApplication::applicationDirPath();
        }
        const QString dataLink = dataLinkPathFor(folder);
        if (QFileInfo::exists(dataLink)) {
            const QString connectionString = readDataLink(dataLink);
            warnIfReadableByOthers(dataLink, connectionString);
            ADOConn->setConnectionString(connectionString);
            ADOConn->setDataSourceFolder(QFileInfo(dataLink).absolutePath());
        } else {
            ADOConn->setConnectionString(connectionStringFor(folder));
            ADOConn->setDataSourceFolder(QString());
        }
        opening = true; // the connection logs why it fails
        ADOConn->Open();
        return true;
    } catch (const std::exception& e) {
        m_connectionError = QString::fromStdString(e.what());
        qCWarning(connectionLog, "The database cannot be opened: %s", qUtf8Printable(m_connectionError));
        if (!opening) ProgramLog::warning(QStringLiteral("The database connection could not be made: ") + m_connectionError);
        return false;
    }
}
