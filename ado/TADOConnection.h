#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace jet {
class Database;
}
namespace sql {
class Session;
}

class TCustomADODataSet;

// The connection to one Access (Jet 4) database file, described by an ADO
// connection string such as
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\app\db\vask.mdb;Persist Security Info=False
// A file with a database password takes it as "Jet OLEDB:Database Password=..."
// (quoted when it holds ';'). Every dataset that names the connection runs
// its statements through it.
//
// KeepConnection = false: after a dataset on the connection closes or a
// statement run through it finishes, the file is closed when no dataset on
// it is open any more; the next query or statement opens it again. An
// explicit Open() keeps the file open until then.
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

    // Opens the file. Throws EDatabaseError for an unknown provider, a missing
    // Data Source, a file that does not exist or that the engine refuses (a
    // missing or wrong database password among them). No message quotes a password.
    void Open();
    // Closes the datasets on the connection, then the file.
    void Close();
    bool Connected() const { return m_database != nullptr; }
    void setConnected(bool connected) { connected ? Open() : Close(); }

    // Runs an update, delete or insert; returns the rows affected.
    int64_t Execute(const QString& statement);

    int DataSetCount() const { return int(m_dataSets.size()); }
    TCustomADODataSet* DataSets(int index) const { return m_dataSets.at(std::size_t(index)); }
    bool InTransaction() const { return false; }  // statements commit one by one

    // LoginPrompt = true calls OnLogin (if set) before opening; a Jet 4 file
    // without a database password takes any user name and password.
    TLoginEvent OnLogin;
    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

    // --- for datasets --------------------------------------------------------
    // The session on the open file, opening it first when needed.
    sql::Session& session();
    // The open database file, opening it first when needed.
    jet::Database& database();
    // A dataset or statement on the connection finished: closes the file when
    // KeepConnection is false and no dataset on it is open.
    void releaseIfIdle();
    // A statement failed: as releaseIfIdle, except that a failure of the file
    // itself (not a statement the SQL layer refused) closes it whatever
    // KeepConnection says, so the next statement starts from a fresh open.
    void releaseAfterError(const std::exception& error);
    void registerDataSet(TCustomADODataSet* dataSet);
    void unregisterDataSet(TCustomADODataSet* dataSet);

private:
    void closeFile();

    QString m_connectionString;
    QString m_dataSourceFolder;
    bool m_loginPrompt = true;
    bool m_keepConnection = true;
    std::unique_ptr<jet::Database> m_database;
    std::unique_ptr<sql::Session> m_session;
    std::vector<TCustomADODataSet*> m_dataSets;
};
