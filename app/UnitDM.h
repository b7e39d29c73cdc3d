#pragma once

#include "ado/TADOConnection.h"

#include <QString>
#include <memory>

// The data module: owns ADOConn, the one database connection every query of
// the program uses. The database is db/vask.mdb in the executable's folder.
class TDM {
public:
    // programFolder: where the executable lies; empty means
    // QCoreApplication::applicationDirPath() (a QCoreApplication must exist).
    explicit TDM(const QString& programFolder = QString());
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    TADOConnection* const ADOConn;

    // Closes ADOConn, points it at the database beside the executable and
    // opens it. Returns false when that fails; the application then shows
    // ConnectionFailedMessage and ends. ConnectionError() tells why.
    bool DataModuleCreate();
    const QString& ConnectionError() const { return m_connectionError; }

    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<folder>db<sep>vask.mdb;Persist Security Info=False"
    // with the platform's separator; a folder holding ';' or quotes is quoted.
    static QString connectionStringFor(const QString& programFolder);
    static QString connectionFailedMessage() { return QStringLiteral("数据库连接错误，系统退出。"); }

private:
    std::unique_ptr<TADOConnection> m_connection;
    QString m_programFolder;
    QString m_connectionError;
};

// The program's data module, set by whoever creates it (the application start-up).
extern TDM* DM;
