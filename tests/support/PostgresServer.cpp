#include "PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QVersionNumber>

#include <pwd.h>
#include <unistd.h>

namespace {

QString findBinaries()
{
    const QString fromEnvironment = qEnvironmentVariable("USBKEY_PG_BIN");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QString best;
    QVersionNumber bestVersion;
    for (const QString& version : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        const QVersionNumber number = QVersionNumber::fromString(version);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && number > bestVersion) {
            best = bin;
            bestVersion = number;
        }
    }
    return best;
}

constexpr int kPort = 5432; // names the socket file only; the folder is ours

} // namespace

PostgresServer::PostgresServer()
{
    m_bin = findBinaries();
    if (m_bin.isEmpty() || !QFile::exists(m_bin + QStringLiteral("/pg_ctl"))) {
        m_why = QStringLiteral("PostgreSQL's initdb and pg_ctl are not installed");
        return;
    }
    m_installed = true;
    const struct passwd* account = nullptr;
    if (::geteuid() == 0) {
        account = ::getpwnam("postgres");
        if (!account) account = ::getpwnam("nobody");
        if (!account) {
            m_why = QStringLiteral("running as root, and neither a postgres nor a nobody account exists to run the server");
            return;
        }
        m_runAs = QString::fromLocal8Bit(account->pw_name);
    }
    // Short: a Unix socket's path has room for about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/usbkey-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_why = QStringLiteral("no temporary folder for the cluster");
        return;
    }
    const QString passwordFile = m_dir->filePath(QStringLiteral("pw"));
    {
        QFile file(passwordFile);
        file.open(QIODevice::WriteOnly);
        file.write(password().toUtf8() + "\n");
    }
    if (account) {
        for (const QString& path : {m_dir->path(), passwordFile})
            if (::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid) != 0) {
                m_why = QStringLiteral("cannot hand the cluster's folder to the account %1").arg(m_runAs);
                return;
            }
    }
    QString output;
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-U"), user(),
              QStringLiteral("--pwfile=") + passwordFile, QStringLiteral("-A"), QStringLiteral("scram-sha-256"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
             &output)) {
        m_why = QStringLiteral("initdb failed: ") + output;
        return;
    }
    start();
}

bool PostgresServer::start()
{
    QString output;
    const QString options = QStringLiteral("-k %1 -c listen_addresses= -p %2 -F -c full_page_writes=off").arg(m_dir->path()).arg(kPort);
    if (!run(m_bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-o"), options,
              QStringLiteral("-l"), m_dir->filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("start")},
             &output)) {
        QFile log(m_dir->filePath(QStringLiteral("log")));
        log.open(QIODevice::ReadOnly);
        m_why = QStringLiteral("the server did not start: ") + output + QString::fromUtf8(log.readAll());
        return false;
    }
    m_running = true;
    return true;
}

bool PostgresServer::stop()
{
    if (!m_running) return true;
    const bool stopped = run(m_bin + QStringLiteral("/pg_ctl"),
                             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-m"),
                              QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    if (stopped) m_running = false;
    return stopped;
}

PostgresServer::~PostgresServer()
{
    stop();
}

QString PostgresServer::socketFolder() const
{
    return m_dir ? m_dir->path() : QString();
}

bool PostgresServer::run(const QString& program, const QStringList& arguments, QString* output, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir ? m_dir->path() : QDir::tempPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), password());
    process.setProcessEnvironment(environment);
    if (m_runAs.isEmpty()) process.start(program, arguments);
    else process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), m_runAs, QStringLiteral("--"), program} + arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (output) *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString PostgresServer::psql(const QString& database, const QString& statement, bool* ok) const
{
    QString output;
    const bool done = run(m_bin + QStringLiteral("/psql"),
                          {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                           QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(),
                           QStringLiteral("-p"), QString::number(kPort), QStringLiteral("-U"), user(),
                           QStringLiteral("-d"), database, QStringLiteral("-c"), statement},
                          &output);
    if (ok) *ok = done;
    return output.trimmed();
}

void PostgresServer::startPsql(QProcess& process, const QString& database, const QString& statement) const
{
    QProcessEnvironment environment = process.processEnvironment().isEmpty() ? QProcessEnvironment::systemEnvironment()
                                                                             : process.processEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), password());
    process.setProcessEnvironment(environment);
    process.start(m_bin + QStringLiteral("/psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                   QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), socketFolder(),
                   QStringLiteral("-p"), QString::number(kPort), QStringLiteral("-U"), user(), QStringLiteral("-d"),
                   database, QStringLiteral("-c"), statement});
}

bool PostgresServer::createDatabase(const QString& name, QString* error)
{
    bool ok = false;
    const QString output = psql(QStringLiteral("postgres"), QStringLiteral("create database \"%1\"").arg(name), &ok);
    if (!ok && error) *error = output;
    return ok;
}

QString PostgresServer::connectionString(const QString& database) const
{
    return QStringLiteral("Provider=PostgreSQL;Data Source=%1;Location=%2;User ID=%3;Password=\"%4\";Port=%5")
        .arg(socketFolder(), database, user(), password())
        .arg(kPort);
}
