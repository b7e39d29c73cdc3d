#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A throwaway PostgreSQL cluster for one test program: initdb in a
// temporary folder, a server listening only on a Unix socket there,
// stopped and removed with the object. Users connect as user() with
// password() (checked: the cluster asks for it).
//
// PostgreSQL refuses to run as root; under root the cluster belongs to the
// "postgres" account (or "nobody") and its commands run as that account.
// The binaries are looked for in $USBKEY_PG_BIN, then
// /usr/lib/postgresql/<version>/bin; without them available() is false and
// whyUnavailable() says so.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Whether PostgreSQL is installed at all (tests skip only when it is not;
    // installed but not running is a failure).
    bool installed() const { return m_installed; }
    bool available() const { return m_running; }
    const QString& whyUnavailable() const { return m_why; }

    QString socketFolder() const;
    static QString user() { return QStringLiteral("usbkey"); }
    static QString password() { return QStringLiteral("pw-Geheim;42"); }
    // Creates a database; false (with the reason in *error) when that fails.
    bool createDatabase(const QString& name, QString* error = nullptr);
    // Provider=PostgreSQL;Data Source=<socket folder>;Location=<database>;User ID=…;Password="…";Port=5432
    QString connectionString(const QString& database) const;
    // Runs a statement with psql in a database; its output (unaligned, no headers).
    QString psql(const QString& database, const QString& statement, bool* ok = nullptr) const;
    // Starts psql running a statement in the background (a second session
    // beside the test's own); the caller waits for the process.
    void startPsql(QProcess& process, const QString& database, const QString& statement) const;

    // Stops the server at once, as a crash or a power cut would (pg_ctl stop
    // -m immediate: sessions are cut, uncommitted work is lost), and starts
    // it again on the same cluster; false when that fails.
    bool stop();
    bool start();

private:
    bool run(const QString& program, const QStringList& arguments, QString* output = nullptr, int timeoutMs = 60000) const;

    QString m_bin;
    QString m_runAs;   // the account the server runs as when we are root
    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_installed = false;
    bool m_running = false;
    QString m_why;
};
