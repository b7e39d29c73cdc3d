#pragma once

#include "sql/Parameters.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class Provider;
class TCustomADODataSet;
namespace sql {
class Session;
}

// The connection to one database, described by an ADO connection string:
// an Access file (JetProvider),
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\app\db\vask.mdb;Persist Security Info=False
//   Provider=Microsoft.ACE.OLEDB.12.0;Data Source=C:\app\db\vask.accdb
// or a database server (ServerProvider),
//   Provider=PostgreSQL;Data Source=HOST;Location=DATABASE;User ID=USER;Password=PASSWORD;Port=5432
//   Provider=MSDASQL;Extended Properties="DSN=NAME"
// Every dataset that names the connection runs its statements through it.
//
// KeepConnection = false: after a dataset on the connection closes or a
// statement run through it finishes, the connection is closed when no
// dataset on it is open any more and no transaction runs; the next query
// or statement opens it again. An explicit Open() keeps it open until then.
class TADOConnection {
public:
    using TLoginEvent = std::function<void(TADOConnection*, QString& userName, QString& password)>;
    using TNotifyEvent = std::function<void(TADOConnection*)>;

    TADOConnection();
    ~TADOConnection();  // closes the datasets that use it and detaches them
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    // Setting the string closes an open connection first. Parsed on Open.
    const QString& ConnectionString() const { return m_connectionString; }
    void setConnectionString(const QString& text);
    // Parts of the connection string (empty when absent).
    QString Provider() const;
    QString DataSourcePath() const;
    // Where a relative Data Source is looked for (the folder of the data-link
    // file the string came from); empty: the working folder, as in ADO.
    const QString& DataSourceFolder() const { return m_dataSourceFolder; }
    void setDataSourceFolder(const QString& folder) { m_dataSourceFolder = folder; }

    bool LoginPrompt() const { return m_loginPrompt; }
    void setLoginPrompt(bool prompt) { m_loginPrompt = prompt; }
    bool KeepConnection() const { return m_keepConnection; }
    void setKeepConnection(bool keep);

    // Opens the file or signs in to the server. Throws EDatabaseError for an
    // unknown provider, a missing Data Source, a file that does not exist or
    // that the engine refuses (a missing or wrong database password among
    // them), a server that cannot be reached or refuses the sign-in. No
    // message quotes a password. A failure is logged (ProgramLog) with its
    // reason, as is a connection that fails later (releaseAfterError).
    void Open();
    // Closes the datasets on the connection, then the file or the session
    // (rolling back a transaction left running).
    void Close();
    bool Connected() const { return m_provider != nullptr; }
    void setConnected(bool connected) { connected ? Open() : Close(); }

    // Runs an update, delete or insert; returns the rows affected.
    // `parameters`: values of the statement's ? and :name marks (queries
    // give them through their Parameters).
    int64_t Execute(const QString& statement, const sql::ParameterValues& parameters = {});

    // Whether another program changed the database since this connection
    // last read or wrote it, as far as a cheap look tells (an Access file's
    // size and time: no read, no lock). False while closed, and on a
    // server, where only the next statement tells.
    bool ChangedElsewhere() const;
    // Before an action that would drop what the datasets hold (reading a
    // listing again): opens the connection when it is closed, asks a server
    // whether it still has the session (one round trip) and, when it
    // dropped it, opens a new one (ReconnectAfter). Throws EDatabaseError
    // when the database cannot be reached.
    void CheckConnection();
    // After an action failed with `error`: when it failed because the server
    // dropped the session (restarted, network cut) and no transaction ran
    // (its statements went with the session), opens a new session under the
    // open datasets, which keep their records (a server's records name their
    // rows by key), and returns true, so that the caller may run the action
    // once more. False for any other error. Throws EDatabaseError when the
    // server cannot be reached.
    bool ReconnectAfter(const std::exception& error);

    int DataSetCount() const { return int(m_dataSets.size()); }
    TCustomADODataSet* DataSets(int index) const { return m_dataSets.at(std::size_t(index)); }

    // Transactions over several statements, on a server; an Access file
    // runs each statement as a transaction of its own and refuses these.
    // While one runs the connection stays open.
    bool SupportsTransactions();  // opens the connection when needed
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const { return m_inTransaction; }

    // LoginPrompt = true calls OnLogin (if set) before opening; a Jet 4 file
    // without a database password takes any user name and password.
    TLoginEvent OnLogin;
    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

    // --- for datasets --------------------------------------------------------
    // The provider of the open connection, opening it first when needed.
    ::Provider& provider();
    // The engine's session on an Access file, opening it when needed (for
    // tests and tools that compare with the engine); throws for a server.
    sql::Session& session();
    // A dataset or statement on the connection finished: closes the
    // connection when KeepConnection is false, no dataset on it is open and
    // no transaction runs.
    void releaseIfIdle();
    // A statement failed: as releaseIfIdle, except that a failure of the
    // connection itself (a damaged file, not a statement refused) closes it
    // whatever KeepConnection says, so the next statement starts afresh.
    void releaseAfterError(const std::exception& error);
    void registerDataSet(TCustomADODataSet* dataSet);
    void unregisterDataSet(TCustomADODataSet* dataSet);

private:
    void openProvider();
    void closeFile();
    // Whether `error` came from a session the server dropped.
    bool sessionLost(const std::exception& error) const;
    void endTransaction(bool commit);

    QString m_connectionString;
    QString m_dataSourceFolder;
    bool m_loginPrompt = true;
    bool m_keepConnection = true;
    std::unique_ptr<::Provider> m_provider;
    bool m_inTransaction = false;
    // Closed because the server dropped the session (see ReconnectAfter).
    bool m_closedLostSession = false;
    std::vector<TCustomADODataSet*> m_dataSets;
};
