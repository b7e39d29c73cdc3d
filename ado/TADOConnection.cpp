#include "ado/TADOConnection.h"

#include "qtcommon/IgnoredError.h"
#include "qtcommon/ProgramLog.h"

#include "ado/ConnectionLog.h"
#include "ado/ConnectionString.h"
#include "ado/EDatabaseError.h"
#include "ado/JetProvider.h"
#include "ado/ServerProvider.h"
#include "ado/TCustomADODataSet.h"

#include <QMap>
#include <algorithm>

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
    return ConnectionString::parse(m_connectionString).value(QStringLiteral("provider"));
}

QString TADOConnection::DataSourcePath() const
{
    return ConnectionString::parse(m_connectionString).value(QStringLiteral("data source"));
}

void TADOConnection::setKeepConnection(bool keep)
{
    m_keepConnection = keep;
    if (!keep) releaseIfIdle();
}

void TADOConnection::Open()
{
    if (Connected()) return;
    try {
        openProvider();
    } catch (const std::exception& e) {
        // The operator may be told only that it failed; the reason goes to the log.
        ProgramLog::warning(QStringLiteral("The database connection could not be opened: ") + QString::fromUtf8(e.what()));
        throw;
    }
}

void TADOConnection::openProvider()
{
    QMap<QString, QString> parts = ConnectionString::parse(m_connectionString);
    if (m_connectionString.trimmed().isEmpty())
        throw EDatabaseError(QStringLiteral("No connection string: set ConnectionString before opening the connection"));
    QString providerName = parts.value(QStringLiteral("provider"));
    if (providerName.isEmpty())
        throw EDatabaseError(QStringLiteral("The connection string names no Provider; use Provider=%1")
                                 .arg(JetProvider::providerName()));
    std::unique_ptr<::Provider> provider;
    if (JetProvider::serves(providerName)) {
        auto jet = std::make_unique<JetProvider>(parts, m_dataSourceFolder);
        jet->checkDataSource();
        provider = std::move(jet);
    } else if (ServerProvider::serves(providerName)) {
        provider = std::make_unique<ServerProvider>(parts);
    } else {
        throw EDatabaseError(QStringLiteral("Provider '%1' is not available: this program opens Access databases "
                                            "with Provider=%2 (.mdb) or %3 (.mdb, .accdb), and database servers with "
                                            "Provider=%4")
                                 .arg(providerName, JetProvider::providerName(), JetProvider::aceProviderName(),
                                      ServerProvider::providerNames()));
    }

    QString userName = parts.value(QStringLiteral("user id"));
    QString password = parts.value(QStringLiteral("password"));
    // An Access file without a workgroup file takes any user name and
    // password; the hook is still given its chance.
    if (m_loginPrompt && OnLogin) OnLogin(this, userName, password);
    if (BeforeConnect) BeforeConnect(this);
    provider->connect(userName, password);
    m_provider = std::move(provider);
    m_closedLostSession = false;
    if (AfterConnect) AfterConnect(this);
}

void TADOConnection::Close()
{
    for (TCustomADODataSet* dataSet : std::vector<TCustomADODataSet*>(m_dataSets)) dataSet->Close();
    closeFile();
    m_closedLostSession = false;
}

void TADOConnection::closeFile()
{
    if (!Connected()) return;
    if (BeforeDisconnect) BeforeDisconnect(this);
    // A transaction left running ends with the session, undone.
    m_inTransaction = false;
    m_provider.reset();
    if (AfterDisconnect) AfterDisconnect(this);
}

::Provider& TADOConnection::provider()
{
    if (!Connected()) Open();
    return *m_provider;
}

sql::Session& TADOConnection::session()
{
    auto* jet = dynamic_cast<JetProvider*>(&provider());
    if (!jet) throw EDatabaseError(QStringLiteral("The connection is not to an Access file"));
    return jet->session();
}

void TADOConnection::releaseIfIdle()
{
    if (m_keepConnection || !Connected() || m_inTransaction) return;
    bool anyOpen = std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TCustomADODataSet* d) { return d->Active(); });
    if (!anyOpen) closeFile();
}

void TADOConnection::releaseAfterError(const std::exception& error)
{
    bool fault = Connected() && m_provider->isConnectionFault(error);
    if (fault) ProgramLog::warning(QStringLiteral("The database connection failed: ") + QString::fromUtf8(error.what()));
    bool anyOpen = std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TCustomADODataSet* d) { return d->Active(); });
    if (fault && !anyOpen) {
        const bool server = dynamic_cast<ServerProvider*>(m_provider.get()) != nullptr;
        closeFile();
        m_closedLostSession = server;
    } else {
        releaseIfIdle();
    }
}

bool TADOConnection::ChangedElsewhere() const
{
    return Connected() && m_provider->changedElsewhere();
}

bool TADOConnection::sessionLost(const std::exception& error) const
{
    if (!Connected()) return m_closedLostSession;
    return dynamic_cast<ServerProvider*>(m_provider.get()) && m_provider->isConnectionFault(error);
}

bool TADOConnection::ReconnectAfter(const std::exception& error)
{
    if (m_inTransaction || !sessionLost(error)) return false;
    logConnectionEvent(QStringLiteral("The database server dropped the session; opening a new one"));
    closeFile();
    Open();
    return true;
}

void TADOConnection::CheckConnection()
{
    if (!Connected()) {
        Open();
        return;
    }
    try {
        m_provider->checkConnection();
    } catch (const std::exception& e) {
        if (ReconnectAfter(e)) return;
        releaseAfterError(e);
        if (dynamic_cast<const EDatabaseError*>(&e)) throw;
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
}

int64_t TADOConnection::Execute(const QString& statement, const sql::ParameterValues& parameters)
{
    int64_t affected = 0;
    try {
        affected = provider().execute(statement, parameters);
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

bool TADOConnection::SupportsTransactions()
{
    bool supports = provider().supportsTransactions();
    releaseIfIdle();
    return supports;
}

void TADOConnection::BeginTrans()
{
    if (m_inTransaction) throw EDatabaseError(QStringLiteral("A transaction is already running on this connection"));
    try {
        provider().beginTransaction();
    } catch (const std::exception& e) {
        releaseAfterError(e);
        throw;
    }
    m_inTransaction = true;
}

void TADOConnection::CommitTrans() { endTransaction(true); }

void TADOConnection::RollbackTrans() { endTransaction(false); }

void TADOConnection::endTransaction(bool commit)
{
    if (!m_inTransaction || !Connected()) {
        m_inTransaction = false;
        throw EDatabaseError(QStringLiteral("No transaction is running on this connection"));
    }
    m_inTransaction = false;
    try {
        if (commit) m_provider->commitTransaction();
        else m_provider->rollbackTransaction();
    } catch (const std::exception& e) {
        releaseAfterError(e);
        throw;
    }
    releaseIfIdle();
}

void TADOConnection::registerDataSet(TCustomADODataSet* dataSet)
{
    if (std::find(m_dataSets.begin(), m_dataSets.end(), dataSet) == m_dataSets.end()) m_dataSets.push_back(dataSet);
}

void TADOConnection::unregisterDataSet(TCustomADODataSet* dataSet)
{
    m_dataSets.erase(std::remove(m_dataSets.begin(), m_dataSets.end(), dataSet), m_dataSets.end());
}
