#include "ado/TADOConnection.h"

#include "qtcommon/IgnoredError.h"

#include "ado/EDatabaseError.h"
#include "ado/TCustomADODataSet.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "sql/Session.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <algorithm>

namespace {

const QString kJetProvider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");

const QString kDatabasePasswordKey = QStringLiteral("jet oledb:database password");

// Keys whose values are passwords: error messages never quote text near them.
bool isPasswordKey(const QString& key) { return key.contains(QStringLiteral("password")); }

// Splits "Key=Value;Key2=\"Value;2\"" into keys (lower case, trimmed) and values.
// A value may be quoted with " or ' to hold a semicolon; a doubled quote inside
// stands for one.
QMap<QString, QString> parseConnectionString(const QString& text)
{
    QMap<QString, QString> parts;
    QString lastKey;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        int eq = int(text.indexOf(u'=', i));
        int semicolon = int(text.indexOf(u';', i));
        if (eq < 0 || (semicolon >= 0 && semicolon < eq)) {
            QString stray = text.mid(i, semicolon < 0 ? -1 : semicolon - i).trimmed();
            // An unquoted password holding ';' leaves its tail here: say where, not what.
            if (!stray.isEmpty() && isPasswordKey(lastKey))
                throw EDatabaseError(QStringLiteral("The connection string is not valid: text without a name follows "
                                                    "the value of '%1' (quote a value that holds ';')")
                                         .arg(lastKey));
            if (!stray.isEmpty())
                throw EDatabaseError(QStringLiteral("The connection string is not valid: '%1' has no value").arg(stray));
            if (semicolon < 0) break;
            i = semicolon + 1;
            continue;
        }
        QString key = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < n && text[i].isSpace()) ++i;
        QString value;
        if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
            QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                throw EDatabaseError(QStringLiteral("The connection string is not valid: the value of '%1' has no closing quote").arg(key));
            while (i < n && text[i] != u';') {
                if (!text[i].isSpace())
                    throw EDatabaseError(QStringLiteral("The connection string is not valid: text after the quoted value of '%1'").arg(key));
                ++i;
            }
        } else {
            int end = int(text.indexOf(u';', i));
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end < 0 ? n : end;
        }
        if (i < n && text[i] == u';') ++i;
        if (key.isEmpty()) throw EDatabaseError(QStringLiteral("The connection string is not valid: a value has no name"));
        parts.insert(key, value);
        lastKey = key;
    }
    return parts;
}

} // namespace

TADOConnection::TADOConnection() = default;

TADOConnection::~TADOConnection()
{
    try {
        Close();
    } catch (...) {
        ignoreBecause("a connection being destroyed has no one to report a failed close to");
    }
    for (TCustomADODataSet* dataSet : std::vector<TCustomADODataSet*>(m_dataSets)) dataSet->setConnection(nullptr);
}

void TADOConnection::setConnectionString(const QString& text)
{
    if (text == m_connectionString) return;
    Close();
    m_connectionString = text;
}

QString TADOConnection::Provider() const
{
    return parseConnectionString(m_connectionString).value(QStringLiteral("provider"));
}

QString TADOConnection::DataSourcePath() const
{
    return parseConnectionString(m_connectionString).value(QStringLiteral("data source"));
}

void TADOConnection::setKeepConnection(bool keep)
{
    m_keepConnection = keep;
    if (!keep) releaseIfIdle();
}

void TADOConnection::Open()
{
    if (Connected()) return;
    QMap<QString, QString> parts = parseConnectionString(m_connectionString);
    if (m_connectionString.trimmed().isEmpty())
        throw EDatabaseError(QStringLiteral("No connection string: set ConnectionString before opening the connection"));
    QString provider = parts.value(QStringLiteral("provider"));
    if (provider.isEmpty())
        throw EDatabaseError(QStringLiteral("The connection string names no Provider; use Provider=%1").arg(kJetProvider));
    if (provider.compare(kJetProvider, Qt::CaseInsensitive) != 0)
        throw EDatabaseError(QStringLiteral("Provider '%1' is not available: this program opens Access databases "
                                            "(.mdb) with Provider=%2")
                                 .arg(provider, kJetProvider));
    QString path = parts.value(QStringLiteral("data source"));
    if (path.isEmpty())
        throw EDatabaseError(QStringLiteral("The connection string names no Data Source (the database file)"));
    QFileInfo file(path);
    if (file.isRelative() && !m_dataSourceFolder.isEmpty()) file = QFileInfo(QDir(m_dataSourceFolder), path);
    if (!file.exists()) throw EDatabaseError(QStringLiteral("Could not find file '%1'.").arg(file.filePath()));
    if (!file.isFile()) throw EDatabaseError(QStringLiteral("'%1' is not a database file.").arg(file.filePath()));

    if (m_loginPrompt && OnLogin) {
        // The file has no user-level security (Jet 4 without a workgroup file), so
        // whatever is entered is accepted; the hook is still given its chance.
        QString userName = parts.value(QStringLiteral("user id"));
        QString password = parts.value(QStringLiteral("password"));
        OnLogin(this, userName, password);
    }
    if (BeforeConnect) BeforeConnect(this);
    try {
        m_database = jet::Database::open(file.absoluteFilePath().toStdString(), jet::Pager::Access::ReadWrite,
                                         parts.value(kDatabasePasswordKey).toStdString());
        m_session = std::make_unique<sql::Session>(*m_database);
    } catch (const jet::PasswordError& e) {
        m_session.reset();
        m_database.reset();
        throw EDatabaseError(QStringLiteral("Cannot open the database '%1': %2 (the connection string gives it as "
                                            "Jet OLEDB:Database Password)")
                                 .arg(path, QString::fromStdString(e.what())));
    } catch (const std::exception& e) {
        m_session.reset();
        m_database.reset();
        throw EDatabaseError(QStringLiteral("Cannot open the database '%1': %2").arg(path, QString::fromStdString(e.what())));
    }
    if (AfterConnect) AfterConnect(this);
}

void TADOConnection::Close()
{
    for (TCustomADODataSet* dataSet : std::vector<TCustomADODataSet*>(m_dataSets)) dataSet->Close();
    closeFile();
}

void TADOConnection::closeFile()
{
    if (!Connected()) return;
    if (BeforeDisconnect) BeforeDisconnect(this);
    m_session.reset();
    m_database.reset();
    if (AfterDisconnect) AfterDisconnect(this);
}

sql::Session& TADOConnection::session()
{
    if (!Connected()) Open();
    return *m_session;
}

jet::Database& TADOConnection::database()
{
    if (!Connected()) Open();
    return *m_database;
}

void TADOConnection::releaseIfIdle()
{
    if (m_keepConnection || !Connected()) return;
    bool anyOpen = std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TCustomADODataSet* d) { return d->Active(); });
    if (!anyOpen) closeFile();
}

void TADOConnection::releaseAfterError(const std::exception& error)
{
    bool fileFault = dynamic_cast<const jet::JetError*>(&error) && !dynamic_cast<const sql::SqlError*>(&error);
    bool anyOpen = std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TCustomADODataSet* d) { return d->Active(); });
    if (fileFault && !anyOpen) closeFile();
    else releaseIfIdle();
}

int64_t TADOConnection::Execute(const QString& statement)
{
    int64_t affected = 0;
    try {
        affected = session().execute(statement.toStdString());
    } catch (const EDatabaseError& e) {
        releaseAfterError(e);
        throw;
    } catch (const std::exception& e) {
        releaseAfterError(e);
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
    releaseIfIdle();
    return affected;
}

void TADOConnection::registerDataSet(TCustomADODataSet* dataSet)
{
    if (std::find(m_dataSets.begin(), m_dataSets.end(), dataSet) == m_dataSets.end()) m_dataSets.push_back(dataSet);
}

void TADOConnection::unregisterDataSet(TCustomADODataSet* dataSet)
{
    m_dataSets.erase(std::remove(m_dataSets.begin(), m_dataSets.end(), dataSet), m_dataSets.end());
}
