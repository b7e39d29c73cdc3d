#include "data/RegisterStatements.h"

#include "ado/TADOQuery.h"
#include "data/schema/RegisterStates.h"

QString RegisterStatements::registerListing()
{
    return QStringLiteral("select * from all_key order by id desc");
}

QString RegisterStatements::departmentListing()
{
    return QStringLiteral(
        "select a.*, b.p_name from SME_KEY_DEPT a left join SME_PROVINCE_LIST b on a.p_index = b.p_index");
}

QString RegisterStatements::pendingEntries()
{
    return QStringLiteral("select * from all_key where is_del = %1").arg(RegisterStates::kEntryPending);
}

void RegisterStatements::accountLookup(TADOQuery& query, const QString& userName, const QString& password)
{
    query.setSQLText(
        QStringLiteral("select * from counted where is_del = %1 and username = :username and password = :password")
            .arg(RegisterStates::kAccountActive));
    query.Parameters().ParamByName(QStringLiteral("username"))->setAsString(userName);
    query.Parameters().ParamByName(QStringLiteral("password"))->setAsString(password);
}

void RegisterStatements::withIdCondition(TADOQuery& query, const QString& head, const std::vector<qint64>& ids)
{
    const bool run = ids.back() - ids.front() + 1 == qint64(ids.size());
    QString text = head;
    if (run) {
        text += QStringLiteral("id >= ? and id <= ?");
    } else {
        text.reserve(text.size() + 8 + qsizetype(ids.size()) * 2);
        text += QStringLiteral("id in (?");
        for (std::size_t i = 1; i < ids.size(); ++i) text += QStringLiteral(",?");
        text += QLatin1Char(')');
    }
    query.setSQLText(text);
    TParameters& parameters = query.Parameters();
    if (run) {
        parameters.Items(0)->setAsLargeInt(ids.front());
        parameters.Items(1)->setAsLargeInt(ids.back());
        return;
    }
    for (std::size_t i = 0; i < ids.size(); ++i) parameters.Items(int(i))->setAsLargeInt(ids[i]);
}

void RegisterStatements::markExported(TADOQuery& query, const std::vector<qint64>& ids)
{
    withIdCondition(query,
                    QStringLiteral("update all_key set is_del=%1 where is_del=%2 and ")
                        .arg(RegisterStates::kEntryExported)
                        .arg(RegisterStates::kEntryPending),
                    ids);
}

void RegisterStatements::pendingAmong(TADOQuery& query, const std::vector<qint64>& ids)
{
    withIdCondition(query, QStringLiteral("select id from all_key where is_del = %1 and ").arg(RegisterStates::kEntryPending),
                    ids);
}
