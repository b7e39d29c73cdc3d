#pragma once

#include "ado/TADOConnection.h"

#include <QString>
#include <memory>

// The data module: owns ADOConn, the one database connection every query of
// the program uses. The database is db/vask.mdb in the executable's folder;
// a data-link file db/connection.udl there, when present, holds the whole
// connection string instead (how an ADO program keeps a database password
// out of its code, or names a database server), with a relative Data
// Source taken from the db folder.
class TDM {
public:
    // programFolder: where the executable lies; empty means
    // QCoreApplication::applicationDirPath() (a QCoreApplication must exist).
    explicit TDM(const QString& programFolder = QString());
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    TADOConnection* const ADOConn;

    // Closes ADOConn, points it at the database beside the executable (the
    // data-link file's string, or connectionStringFor) and opens it. Returns
    // false when that fails, a data-link file that cannot be read or parsed
    // included; the application then shows ConnectionFailedMessage and ends.
    // ConnectionError() tells why (never quoting a password), and so does
    // the program's log (ProgramLog).
    bool DataModuleCreate();
    const QString& ConnectionError() const { return m_connectionError; }

    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<folder>db<sep>vask.mdb;Persist Security Info=False"
    // with the platform's separator; a folder holding ';' or quotes is quoted.
    static QString connectionStringFor(const QString& programFolder);
    static QString connectionFailedMessage() { return QStringLiteral("数据库连接错误，系统退出。"); }

    // <programFolder>/db/connection.udl
    static QString dataLinkPathFor(const QString& programFolder);
    // The connection string of a data-link file as Windows writes one: UTF-16
    // (little-endian, with its byte-order mark), a line "[oledb]", comment
    // lines starting with ';', then the string. Throws EDatabaseError naming
    // the file when it cannot be read or is not in that shape.
    static QString readDataLink(const QString& path);

private:
    // Logs a warning (never the password) when a data link that holds a
    // password may be read by other users of the computer.
    static void warnIfReadableByOthers(const QString& dataLink, const QString& connectionString);

    std::unique_ptr<TADOConnection> m_connection;
    QString m_programFolder;
    QString m_connectionError;
};

// The program's data module, set by whoever creates it (the application start-up).
extern TDM* DM;
