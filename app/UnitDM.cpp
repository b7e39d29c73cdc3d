#include "app/UnitDM.h"

#include "ado/EDatabaseError.h"

#include <QCoreApplication>
#include <QDir>

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

bool TDM::DataModuleCreate()
{
    m_connectionError.clear();
    try {
        ADOConn->Close();
        QString folder = m_programFolder;
        if (folder.isEmpty()) {
            if (!QCoreApplication::instance())
                throw EDatabaseError(QStringLiteral("The program's folder is unknown: no application object exists"));
            folder = QCoreApplication::applicationDirPath();
        }
        ADOConn->setConnectionString(connectionStringFor(folder));
        ADOConn->Open();
        return true;
    } catch (const std::exception& e) {
        m_connectionError = QString::fromStdString(e.what());
        return false;
    }
}
