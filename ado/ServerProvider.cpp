#include "ado/ServerProvider.h"

#include "ado/ConnectionLog.h"
#include "ado/EDatabaseError.h"
#include "ado/PostgresDialect.h"
#include "sql/Lexer.h"
#include "sql/Session.h"
#include "sql/StatementText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QAtomicInt>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QFileInfo>
#include <QThread>
#include <cmath>
#include <ctime>
#include <utility>

namespace {

// The table a select reads its rows from (the name after its first `from`) and
// whether it is the only table (no join, no second table after a comma): the
// server says nothing of it, so it is read from the statement's words.
struct SourceTable {
    QString name;
    bool single = false;
};

SourceTable sourceTableOf(const QString& statement)
{
    // Read by the statements' own lexer, so that names, texts and #dates#
    // mean here what they mean to the file's engine; a statement it cannot
    // read names no table (its rows are then read-only).
    const std::string utf8 = statement.toStdString();
    std::vector<sql::Token> lexed;
    try {
        lexed = sql::Lexer(sql::StatementText(utf8)).tokenize();
    } catch (const sql::SqlError&) {
        return {};
    }
    QStringList tokens;       // names as written (brackets removed), symbols, and "'" for every literal
    std::vector<bool> keyword; // an unbracketed name, which may be a keyword
    for (const sql::Token& token : lexed) {
        if (token.kind == sql::TokenKind::End) break;
        const bool named = token.kind == sql::TokenKind::Name || token.kind == sql::TokenKind::Symbol;
        tokens << (named ? QString::fromStdString(token.text) : QStringLiteral("'"));
        keyword.push_back(token.kind == sql::TokenKind::Name && !token.bracketed);
    }
    auto is = [&](int i, const char* word) {
        return keyword[std::size_t(i)] && tokens[i].compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    };
    SourceTable result;
    int depth = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == u"(") ++depth;
        else if (tokens[i] == u")") --depth;
        else if (depth == 0 && is(i, "from") && i + 1 < tokens.size()) {
            result.name = tokens[i + 1];
            result.single = true;
            for (int j = i + 2; j < tokens.size(); ++j) {
                if (is(j, "where") || is(j, "order") || is(j, "group") || is(j, "having")) break;
                if (is(j, "join") || tokens[j] == u"," || tokens[j] == u"(") result.single = false;
            }
            break;
        }
    }
    return result;
}


// Tags of records that name no row: the high bit and the record's position.
constexpr uint64_t kNoRow = uint64_t(1) << 63;

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("usbkey-server-%1").arg(counter.fetchAndAddRelaxed(1));
}

TFieldType fieldTypeOf(const QSqlField& field)
{
    switch (field.metaType().id()) {
    case QMetaType::Bool: return ftBoolean;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int: return ftInteger;
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return ftLargeint;
    case QMetaType::Float:
    case QMetaType::Double: return ftFloat;
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime: return ftDateTime;
    case QMetaType::QByteArray: return ftBlob;
    default: return field.length() > 0 ? ftWideString : ftWideMemo;
    }
}

jet::DateTime dateTimeOf(const QDate& date, const QTime& time)
{
    jet::CivilTime civil;
    if (date.isValid()) {
        civil.year = date.year();
        civil.month = date.month();
        civil.day = date.day();
    }
    if (time.isValid()) {
        civil.hour = time.hour();
        civil.minute = time.minute();
        civil.second = time.second();
        civil.millisecond = time.msec();
    }
    return jet::fromCivil(civil);
}

jet::Value valueOf(const QVariant& v)
{
    if (v.isNull()) return std::monostate{};
    switch (v.metaType().id()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return int64_t(v.toLongLong());
    case QMetaType::Float:
    case QMetaType::Double: return v.toDouble();
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dateTimeOf(dt.date(), dt.time());
    }
    case QMetaType::QDate: return dateTimeOf(v.toDate(), QTime(0, 0));
    case QMetaType::QTime: return dateTimeOf(QDate(), v.toTime());
    case QMetaType::QByteArray: {
        const QByteArray bytes = v.toByteArray();
        return jet::Bytes(bytes.begin(), bytes.end());
    }
    default: {
        const QString text = v.toString();
        return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
    }
    }
}

QVariant variantOf(const jet::Value& value)
{
    struct Visitor {
        QVariant operator()(std::monostate) const { return QVariant(); }
        QVariant operator()(bool b) const { return b; }
        QVariant operator()(int64_t i) const { return qlonglong(i); }
        QVariant operator()(double d) const { return d; }
        QVariant operator()(jet::Currency c) const { return QString::fromStdString(jet::currencyToString(c)); }
        QVariant operator()(jet::DateTime dt) const
        {
            const jet::CivilTime c = jet::toCivil(dt);
            return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second, c.millisecond));
        }
        QVariant operator()(const std::u16string& text) const
        {
            return QString::fromUtf16(text.data(), qsizetype(text.size()));
        }
        QVariant operator()(const jet::Bytes& bytes) const
        {
            return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
        }
        QVariant operator()(const jet::Guid& g) const { return QString::fromStdString(jet::guidToString(g)); }
        QVariant operator()(const jet::Decimal& d) const { return QString::fromStdString(jet::decimalToString(d)); }
    };
    return std::visit(Visitor{}, value);
}

// A parameter's value as the driver binds it. Dates go as their text (the
// driver would send a QDateTime as a moment in UTC, which the server turns
// into its own zone's time); numbers the driver has no type for as text.
QVariant boundValueOf(const jet::Value& value)
{
    if (const auto* date = std::get_if<jet::DateTime>(&value)) {
        const jet::CivilTime c = jet::toCivil(*date);
        return QStringLiteral("%1-%2-%3 %4:%5:%6.%7")
            .arg(c.year, 4, 10, QLatin1Char('0'))
            .arg(c.month, 2, 10, QLatin1Char('0'))
            .arg(c.day, 2, 10, QLatin1Char('0'))
            .arg(c.hour, 2, 10, QLatin1Char('0'))
            .arg(c.minute, 2, 10, QLatin1Char('0'))
            .arg(c.second, 2, 10, QLatin1Char('0'))
            .arg(c.millisecond, 3, 10, QLatin1Char('0'));
    }
    return variantOf(value);
}

// A statement with every parameter mark written as ?, the form the driver
// binds, and the values in the order of the marks (a :name used twice
// gives its value twice). The marks are found by the SQL layer's lexer
// and take their values by its rule.
struct BoundStatement {
    QString text;
    QVariantList values;
};

BoundStatement withPositionalMarks(const QString& statement, const sql::ParameterValues& parameters)
{
    const std::string utf8 = statement.toStdString();
    const sql::StatementText text(utf8);
    const std::vector<sql::ParameterMark> marks = sql::ParameterBinding::marksOf(utf8);
    sql::ParameterBinding binding(parameters);
    BoundStatement bound;
    std::string positional;
    positional.reserve(utf8.size());
    std::size_t copied = 0;
    for (const sql::ParameterMark& mark : marks) {
        bound.values << boundValueOf(binding.valueFor(mark.name, mark.offset, text));
        positional.append(utf8, copied, mark.offset - copied);
        positional += '?';
        copied = mark.end;
    }
    binding.checkAllTaken(text);
    positional.append(utf8, copied, std::string::npos);
    bound.text = QString::fromStdString(positional);
    return bound;
}

// Whether the driver's text says the session itself is gone.
bool saysConnectionLost(const QSqlError& error)
{
    if (error.type() == QSqlError::ConnectionError) return true;
    const QString text = error.text();
    return text.contains(QLatin1String("server closed the connection"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("no connection to the server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("terminating connection"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("could not send data to server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("could not receive data from server"), Qt::CaseInsensitive);
}

// Qt's PostgreSQL driver makes a local date and time of every timestamp it
// reads. With TZ unset, the C library looks at /etc/localtime again for each
// one (two thirds of a listing's time); naming that same file in TZ lets it
// read the zone once. The zone stays the same.
void readTimeZoneOnce()
{
#ifndef Q_OS_WIN
    static const bool done = [] {
        if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime"))) {
            qputenv("TZ", ":/etc/localtime");
            ::tzset();
        }
        return true;
    }();
    (void)done;
#endif
}

} // namespace

bool ServerProvider::serves(const QString& providerName)
{
    return providerName.compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) == 0 ||
           providerName.compare(QLatin1String("MSDASQL"), Qt::CaseInsensitive) == 0;
}

QString ServerProvider::providerNames()
{
    return QStringLiteral("PostgreSQL (or MSDASQL for an ODBC data source)");
}

ServerProvider::ServerProvider(const QMap<QString, QString>& parts)
    : m_parts(parts),
      m_driver(parts.value(QStringLiteral("provider")).compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) == 0
                   ? QStringLiteral("QPSQL")
                   : QStringLiteral("QODBC")),
      m_connectionName(nextConnectionName())
{
    readTimeZoneOnce();
}

ServerProvider::~ServerProvider()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) db.close(); // a transaction left running is undone by the server
    }
    if (QSqlDatabase::contains(m_connectionName)) QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase ServerProvider::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

QString ServerProvider::scrubbed(const QString& driverText) const
{
    QString reason = driverText.trimmed();
    for (const QString& secret : m_secrets)
        if (!secret.isEmpty()) reason.replace(secret, QStringLiteral("***"));
    return reason;
}

void ServerProvider::fail(const QString& what, const QString& driverText, bool connectionLost,
                          EDatabaseError::Kind kind)
{
    m_connectionLost = m_connectionLost || connectionLost;
    const QString reason = scrubbed(driverText);
    const QString message = reason.isEmpty() ? what : what + QStringLiteral(": ") + reason;
    if (connectionLost) qCWarning(connectionLog, "%s", qUtf8Printable(message));
    throw EDatabaseError(message, connectionLost ? EDatabaseError::Kind::ConnectionLost : kind);
}

void ServerProvider::failOn(const QString& what, const QSqlError& error)
{
    // PostgreSQL's SQLSTATEs: 40P01 deadlock detected, 40001 serialization
    // failure (both end the transaction, which may run again); 55P03 lock
    // not available.
    const QString state = error.nativeErrorCode();
    EDatabaseError::Kind kind = EDatabaseError::Kind::Other;
    if (state == QLatin1String("40P01") || state == QLatin1String("40001")) kind = EDatabaseError::Kind::Retry;
    else if (state == QLatin1String("55P03")) kind = EDatabaseError::Kind::Locked;
    fail(what, error.text(), saysConnectionLost(error), kind);
}

void ServerProvider::connect(const QString& userName, const QString& password)
{
    const QString package = isPostgres() ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-odbc");
    const QString providerName = m_parts.value(QStringLiteral("provider"));
    if (!QSqlDatabase::isDriverAvailable(m_driver))
        throw EDatabaseError(QStringLiteral("Provider=%1 needs Qt's %2 database driver, which is not installed "
                                            "(on Debian: the package %3)")
                                 .arg(providerName, m_driver, package));
    m_secrets = {password};
    // An ODBC string may carry its own password (PWD=...).
    static const QRegularExpression odbcPassword(QStringLiteral("(?:^|;)\\s*pwd\\s*=\\s*([^;]*)"),
                                                 QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch inExtended = odbcPassword.match(m_parts.value(QStringLiteral("extended properties")));
    if (inExtended.hasMatch()) m_secrets << inExtended.captured(1).trimmed();
    QString where;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(m_driver, m_connectionName);
        if (isPostgres()) {
            const QString host = m_parts.value(QStringLiteral("data source"));
            QString name = m_parts.value(QStringLiteral("location"));
            if (name.isEmpty()) name = m_parts.value(QStringLiteral("initial catalog"));
            if (host.isEmpty())
                throw EDatabaseError(QStringLiteral("The connection string names no Data Source (the server's host name)"));
            if (name.isEmpty())
                throw EDatabaseError(QStringLiteral("The connection string names no Location (the database on the server)"));
            db.setHostName(host);
            db.setDatabaseName(name);
            const QString port = m_parts.value(QStringLiteral("port"));
            if (!port.isEmpty()) {
                bool isNumber = false;
                const int number = port.toInt(&isNumber);
                if (!isNumber || number <= 0 || number > 65535)
                    throw EDatabaseError(QStringLiteral("The connection string's Port '%1' is not a port number").arg(port));
                db.setPort(number);
            }
            // An unreachable server is reported after a while, not waited for.
            db.setConnectOptions(QStringLiteral("connect_timeout=10"));
            where = QStringLiteral("database '%1' on '%2'").arg(name, host);
        } else {
            QString source = m_parts.value(QStringLiteral("extended properties"));
            if (source.isEmpty() && m_parts.contains(QStringLiteral("dsn")))
                source = QStringLiteral("DSN=") + m_parts.value(QStringLiteral("dsn"));
            if (source.isEmpty())
                throw EDatabaseError(QStringLiteral("The connection string names no ODBC data source: give it as "
                                                    "Extended Properties=\"DSN=NAME\""));
            db.setDatabaseName(source);
            where = QStringLiteral("the ODBC data source");
        }
        if (!userName.isEmpty()) db.setUserName(userName);
        if (!password.isEmpty()) db.setPassword(password);
        if (!userName.isEmpty()) where += QStringLiteral(" as '%1'").arg(userName);
        if (db.open()) return;
        const QString reason = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        fail(QStringLiteral("Cannot connect to %1").arg(where), reason, true);
    }
}

QString ServerProvider::serverStatement(const QString& accessStatement) const
{
    return isPostgres() ? PostgresDialect::translate(accessStatement) : accessStatement;
}

QString ServerProvider::tableName(const QString& table) const
{
    return isPostgres() ? PostgresDialect::identifier(table) : table;
}

QString ServerProvider::keyColumnOf(const QString& table)
{
    const QString key = table.toLower();
    auto known = m_keyColumns.constFind(key);
    if (known != m_keyColumns.constEnd()) return *known;
    // Only plain names are looked up (the driver puts the name into its
    // catalog query as it is).
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
    if (!plainName.match(table).hasMatch()) return QString();
    const QSqlIndex index = database().primaryIndex(isPostgres() ? table.toLower() : table);
    const QString column = index.count() == 1 ? index.fieldName(0) : QString();
    m_keyColumns.insert(key, column);
    return column;
}

void ServerProvider::run(QSqlQuery& query)
{
    if (!query.exec())
        failOn(QStringLiteral("The database server refused the statement"), query.lastError());
}

bool ServerProvider::runStatement(QSqlQuery& query, const QString& statement, const sql::ParameterValues& parameters)
{
    if (parameters.empty()) return query.exec(serverStatement(statement));
    // Values go to the driver as bound values, never into the text.
    const BoundStatement bound = withPositionalMarks(statement, parameters);
    if (!query.prepare(serverStatement(bound.text))) return false;
    for (const QVariant& value : bound.values) query.addBindValue(value);
    return query.exec();
}

std::optional<std::vector<uint32_t>> ServerProvider::rankTexts(const std::vector<std::u16string_view>& texts)
{
    if (!isPostgres()) return std::nullopt;
    // The texts travel as one bound value, a JSON array, and come back
    // ranked by the same comparison an `order by` of a text column makes.
    QJsonArray array;
    for (std::u16string_view text : texts)
        array.append(QString::fromUtf16(text.data(), qsizetype(text.size())));
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("select (e.i - 1)::int4, (dense_rank() over (order by e.t))::int4 "
                                      "from jsonb_array_elements_text(cast(? as jsonb)) with ordinality as e(t, i)")))
        fail(QStringLiteral("The database server refused to sort texts"), query.lastError().text(),
             saysConnectionLost(query.lastError()));
    query.addBindValue(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    run(query);
    std::vector<uint32_t> ranks(texts.size(), 0);
    while (query.next()) {
        const int index = query.value(0).toInt();
        if (index >= 0 && std::size_t(index) < ranks.size()) ranks[std::size_t(index)] = uint32_t(query.value(1).toInt());
    }
    return ranks;
}

void ServerProvider::query(const QString& statement, const sql::ParameterValues& parameters, RowTarget& target)
{
    const SourceTable source = sourceTableOf(statement);
    const QString& fromTable = source.name;
    const bool onlyTable = source.single;
    target.setSource(fromTable, onlyTable);
    // Looked up first: the driver's session runs one query at a time.
    const QString keyColumn = fromTable.isEmpty() ? QString() : keyColumnOf(fromTable);
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!runStatement(query, statement, parameters))
        failOn(QStringLiteral("The database server refused the statement"), query.lastError());
    if (!query.isSelect()) return;
    const QSqlRecord record = query.record();
    int keyField = -1;
    std::vector<TFieldDef> defs;
    for (int i = 0; i < record.count(); ++i) {
        const QSqlField field = record.field(i);
        TFieldDef def;
        def.name = field.name();
        def.type = fieldTypeOf(field);
        if (def.type == ftWideString) def.size = field.length();
        // Where the driver does not name a column's table, the columns of a
        // select from one table are taken as that table's; a join's cannot
        // be told apart and are left read-only.
        def.baseTable = field.tableName();
        if (def.baseTable.isEmpty() && onlyTable) def.baseTable = fromTable;
        if (!def.baseTable.isEmpty()) def.baseColumn = field.name();
        if (keyField < 0 && !keyColumn.isEmpty() && def.name.compare(keyColumn, Qt::CaseInsensitive) == 0 &&
            (def.baseTable.isEmpty() || def.baseTable.compare(fromTable, Qt::CaseInsensitive) == 0) &&
            (def.type == ftInteger || def.type == ftLargeint))
            keyField = i;
        defs.push_back(def);
    }
    target.setFieldDefs(defs);
    if (query.size() > 0) target.reserveRecords(query.size());
    std::vector<jet::Value> values(defs.size());
    uint64_t position = 0;
    while (query.next()) {
        for (int i = 0; i < int(values.size()); ++i) values[std::size_t(i)] = valueOf(query.value(i));
        uint64_t tag = kNoRow | position;
        if (keyField >= 0) {
            const auto* key = std::get_if<int64_t>(&values[std::size_t(keyField)]);
            if (key && *key >= 0) tag = uint64_t(*key);
        }
        target.appendRecord(values, tag);
        ++position;
    }
    if (query.lastError().isValid())
        failOn(QStringLiteral("Reading the rows from the database server failed"), query.lastError());
}

int64_t ServerProvider::execute(const QString& statement, const sql::ParameterValues& parameters)
{
    QSqlQuery query(database());
    if (!runStatement(query, statement, parameters))
        failOn(QStringLiteral("The database server refused the statement"), query.lastError());
    return query.numRowsAffected();
}

void ServerProvider::updateRow(const QString& table, uint64_t tag,
                               const std::vector<std::pair<QString, jet::Value>>& columns)
{
    const QString keyColumn = keyColumnOf(table);
    if (keyColumn.isEmpty() || (tag & kNoRow))
        throw EDatabaseError(QStringLiteral("Rows of '%1' cannot be changed here: the query does not show the "
                                            "table's primary key (one whole-number column)")
                                 .arg(table));
    if (columns.empty()) return;
    QSqlDatabase db = database();
    QString statement = QStringLiteral("update ") + tableName(table) + QStringLiteral(" set ");
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i) statement += QStringLiteral(", ");
        statement += db.driver()->escapeIdentifier(columns[i].first, QSqlDriver::FieldName) + QStringLiteral(" = ?");
    }
    statement += QStringLiteral(" where ") + db.driver()->escapeIdentifier(keyColumn, QSqlDriver::FieldName) +
                 QStringLiteral(" = ?");
    QSqlQuery query(db);
    query.prepare(statement);
    for (const auto& column : columns) query.addBindValue(variantOf(column.second));
    query.addBindValue(qlonglong(tag));
    run(query);
    if (query.numRowsAffected() == 0)
        throw EDatabaseError(QStringLiteral("The row to change is no longer in '%1': another user deleted it. "
                                            "Refresh the listing.")
                                 .arg(table));
}

void ServerProvider::deleteRow(const QString& table, uint64_t tag)
{
    const QString keyColumn = keyColumnOf(table);
    if (keyColumn.isEmpty() || (tag & kNoRow))
        throw EDatabaseError(QStringLiteral("Rows of '%1' cannot be deleted here: the query does not show the "
                                            "table's primary key (one whole-number column)")
                                 .arg(table));
    QSqlDatabase db = database();
    const QString statement = QStringLiteral("delete from ") + tableName(table) + QStringLiteral(" where ") +
                              db.driver()->escapeIdentifier(keyColumn, QSqlDriver::FieldName) + QStringLiteral(" = ?");
    QSqlQuery query(db);
    query.prepare(statement);
    query.addBindValue(qlonglong(tag));
    run(query);
    // The operator asked to delete the entry shown: one that another user
    // deleted meanwhile is reported, as an Access file reports it, so that
    // the listing is read again.
    if (query.numRowsAffected() == 0)
        throw EDatabaseError(QStringLiteral("The row to delete is no longer in '%1': another user deleted it. "
                                            "Refresh the listing.")
                                 .arg(table));
}

void ServerProvider::checkConnection()
{
    // No statement asks every ODBC data source alike; a session known lost is reported.
    if (!isPostgres()) {
        if (m_connectionLost) throw EDatabaseError(QStringLiteral("The connection to the ODBC data source was lost"));
        return;
    }
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("select 1")))
        fail(QStringLiteral("The database server does not answer"), query.lastError().text(), true);
}

void ServerProvider::beginTransaction()
{
    QSqlDatabase db = database();
    m_transactionId = 0;
    if (!db.transaction()) fail(QStringLiteral("The database server did not start a transaction"), db.lastError().text(),
                                saysConnectionLost(db.lastError()));
    if (!isPostgres()) return;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select txid_current()")) || !query.next()) {
        const QSqlError error = query.lastError();
        db.rollback();
        fail(QStringLiteral("The database server did not start a transaction"), error.text(), saysConnectionLost(error));
    }
    m_transactionId = query.value(0).toLongLong();
}

void ServerProvider::commitTransaction()
{
    QSqlDatabase db = database();
    const qint64 transaction = std::exchange(m_transactionId, 0);
    if (db.commit()) return;
    const QSqlError error = db.lastError();
    if (!saysConnectionLost(error))
        fail(QStringLiteral("The database server did not commit the transaction"), error.text(), false);
    m_connectionLost = true;
    const QString reason = scrubbed(error.text());
    logConnectionEvent(QStringLiteral("The connection to the database server was lost while a transaction was committed: ") +
                       reason);
    switch (transaction != 0 ? outcomeOfLostCommit(transaction) : Outcome::Unknown) {
    case Outcome::Committed:
        logConnectionEvent(QStringLiteral("The server says it committed the transaction"));
        return;
    case Outcome::Aborted:
        logConnectionEvent(QStringLiteral("The server says it did not commit the transaction"));
        throw EDatabaseError(QStringLiteral("The connection to the database server was lost while the changes were "
                                            "committed, and the server did not commit them: nothing was saved (%1)")
                                 .arg(reason));
    case Outcome::Unknown:
        break;
    }
    throw ECommitInDoubt(QStringLiteral("The connection to the database server was lost while the changes were "
                                        "committed, and the server could not be asked whether it committed them (%1)")
                             .arg(reason));
}

ServerProvider::Outcome ServerProvider::outcomeOfLostCommit(qint64 transaction)
{
    QSqlDatabase db = database();
    db.close();
    if (!db.open()) {
        logConnectionEvent(QStringLiteral("Cannot ask the database server what became of the transaction: ") +
                           scrubbed(db.lastError().text()));
        return Outcome::Unknown;
    }
    m_connectionLost = false;
    auto ask = [&](const QString& statement, QString& answer) {
        QSqlQuery query(db);
        if (query.exec(statement) && query.next()) {
            answer = query.value(0).toString();
            return true;
        }
        logConnectionEvent(QStringLiteral("Cannot ask the database server what became of the transaction: ") +
                           scrubbed(query.lastError().text()));
        if (saysConnectionLost(query.lastError())) m_connectionLost = true;
        return false;
    };
    // A server that went down before its log held anything of the
    // transaction does not know its id at all (past the next id it gives
    // out): its commit never reached the log, so it was not committed.
    QString next;
    if (!ask(QStringLiteral("select txid_snapshot_xmax(txid_current_snapshot())"), next)) return Outcome::Unknown;
    if (transaction >= next.toLongLong()) return Outcome::Aborted;
    // A session the server has not noticed is gone yet may still hold the
    // transaction for a moment.
    for (int attempt = 0; attempt < 50; ++attempt) {
        QString status;
        if (!ask(QStringLiteral("select txid_status(%1)").arg(transaction), status)) return Outcome::Unknown;
        if (status == QLatin1String("committed")) return Outcome::Committed;
        if (status == QLatin1String("aborted")) return Outcome::Aborted;
        if (status != QLatin1String("in progress")) return Outcome::Unknown; // too old for the server to tell
        QThread::msleep(100);
    }
    return Outcome::Unknown;
}

void ServerProvider::rollbackTransaction()
{
    m_transactionId = 0;
    QSqlDatabase db = database();
    if (!db.rollback()) fail(QStringLiteral("The database server did not roll the transaction back"),
                             db.lastError().text(), saysConnectionLost(db.lastError()));
}

bool ServerProvider::isConnectionFault(const std::exception&) const
{
    return m_connectionLost;
}
