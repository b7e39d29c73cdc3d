#pragma once

#include "ado/Provider.h"

#include <QFileInfo>
#include <QMap>
#include <QString>
#include <memory>

namespace jet {
class Database;
}
namespace sql {
class Session;
}

// An Access database file through the engine:
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\app\db\vask.mdb;Persist Security Info=False
//   Provider=Microsoft.ACE.OLEDB.12.0;Data Source=C:\app\db\vask.accdb
// As on Windows, the ACE provider (12.0, or Office 2016's 16.0) opens Access
// 97 to 2019 files and the Jet provider those up to Access 2003.
// A file with a database password takes it as "Jet OLEDB:Database Password=..."
// (quoted when it holds ';'). Every statement is a transaction of its own,
// kept safe by the engine's journal. Record tags are row locators.
class JetProvider : public Provider {
public:
    static const QString& providerName(); // Microsoft.Jet.OLEDB.4.0
    static const QString& aceProviderName(); // Microsoft.ACE.OLEDB.12.0
    // Whether the provider name is one of those above (any letter case).
    static bool serves(const QString& provider);

    // parts: the parsed connection string; dataSourceFolder: where a
    // relative Data Source is looked for (empty: the working folder).
    JetProvider(const QMap<QString, QString>& parts, const QString& dataSourceFolder);
    ~JetProvider() override;

    // Refuses a missing Data Source or a file that does not exist, before
    // any sign-in hook runs.
    void checkDataSource() const;

    void connect(const QString& userName, const QString& password) override;
    void query(const QString& statement, const sql::ParameterValues& parameters, RowTarget& target) override;
    bool readRows(const QString& table, uint64_t since, const std::vector<uint32_t>& tags, const RowVisitor& visit) override;
    uint64_t changeCount() const override;
    int64_t execute(const QString& statement, const sql::ParameterValues& parameters) override;
    void updateRow(const QString& table, uint64_t tag,
                   const std::vector<std::pair<QString, jet::Value>>& columns) override;
    void deleteRow(const QString& table, uint64_t tag) override;
    bool isConnectionFault(const std::exception& error) const override;

    // A transaction holds the file's writer lock from begin to its end (see
    // sql::Session); other programs' writes wait for it, their reads do not.
    bool supportsTransactions() const override { return true; }
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    bool changedElsewhere() const override;

    sql::Session& session() { return *m_session; }

private:
    // The Data Source, a relative one taken from dataSourceFolder.
    QFileInfo dataSourceFile() const;

    QMap<QString, QString> m_parts;
    QString m_dataSourceFolder;
    std::unique_ptr<jet::Database> m_database;
    std::unique_ptr<sql::Session> m_session;
};
