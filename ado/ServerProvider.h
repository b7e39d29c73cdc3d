#pragma once

#include "ado/EDatabaseError.h"

#include <QSqlError>

#include "ado/Provider.h"

#include <QMap>
#include <QString>
#include <QStringList>

class QSqlDatabase;
class QSqlQuery;

// A database server through Qt's SQL drivers:
//   Provider=PostgreSQL;Data Source=HOST;Location=DATABASE;User ID=USER;Password=PASSWORD;Port=5432
// (QPSQL; HOST may be the folder of the server's Unix socket; Initial
// Catalog may stand for Location), and an ODBC data source
//   Provider=MSDASQL;Extended Properties="DSN=NAME;..."
// (QODBC; the statements go to it unchanged). PostgreSQL gets the program's
// Access SQL through PostgresDialect.
//
// A record's tag is the value of its table's primary key (one whole-number
// column, in the select's columns); records without one cannot be changed.
// Each statement is a transaction of its own unless a transaction runs.
class ServerProvider : public Provider {
public:
    static bool serves(const QString& providerName);
    static QString providerNames(); // for messages

    explicit ServerProvider(const QMap<QString, QString>& parts);
    ~ServerProvider() override;

    void connect(const QString& userName, const QString& password) override;
    void query(const QString& statement, const sql::ParameterValues& parameters, RowTarget& target) override;
    int64_t execute(const QString& statement, const sql::ParameterValues& parameters) override;
    void updateRow(const QString& table, uint64_t tag,
                   const std::vector<std::pair<QString, jet::Value>>& columns) override;
    void deleteRow(const QString& table, uint64_t tag) override;
    void checkConnection() override;
    bool supportsTransactions() const override { return true; }
    // On PostgreSQL the transaction's id is taken at its begin: a commit
    // whose connection is lost asks a new session what became of it.
    void beginTransaction() override;
    // Throws EDatabaseError when the server refused the commit, or lost the
    // connection and did not commit; ECommitInDoubt when the connection was
    // lost and nothing could tell afterwards (the server cannot be reached,
    // an ODBC data source).
    void commitTransaction() override;
    void rollbackTransaction() override;
    bool isConnectionFault(const std::exception& error) const override;
    // PostgreSQL ranks the texts itself, in the database's collation, so
    // that a sort made here agrees with its `order by`; an ODBC data source
    // leaves them to the engine's order.
    std::optional<std::vector<uint32_t>> rankTexts(const std::vector<std::u16string_view>& texts) override;

private:
    bool isPostgres() const { return m_driver == QLatin1String("QPSQL"); }
    QSqlDatabase database() const;
    QString serverStatement(const QString& accessStatement) const;
    QString tableName(const QString& table) const;
    // The primary key column of a table when it is a single column; empty otherwise.
    QString keyColumnOf(const QString& table);
    // Runs a prepared statement; throws EDatabaseError naming the statement.
    void run(QSqlQuery& query);
    // Runs an Access statement (prepared, with its parameters bound, when it
    // has any); false with the error in the query when the driver refuses it.
    bool runStatement(QSqlQuery& query, const QString& statement, const sql::ParameterValues& parameters);
    [[noreturn]] void fail(const QString& what, const QString& driverText, bool connectionLost,
                           EDatabaseError::Kind kind = EDatabaseError::Kind::Other);
    // A statement's failure, classified by the server's SQLSTATE.
    [[noreturn]] void failOn(const QString& what, const QSqlError& error);
    QString scrubbed(const QString& driverText) const;
    // What became of a transaction whose commit lost the connection, asked
    // in a new session (which then serves on).
    enum class Outcome { Committed, Aborted, Unknown };
    Outcome outcomeOfLostCommit(qint64 transaction);

    QMap<QString, QString> m_parts;
    QString m_driver;
    QString m_connectionName;
    QStringList m_secrets;                 // passwords, scrubbed from the driver's messages
    QMap<QString, QString> m_keyColumns;   // table (lower case) -> key column
    bool m_connectionLost = false;
    qint64 m_transactionId = 0;            // txid_current() of the running transaction (PostgreSQL)
};
