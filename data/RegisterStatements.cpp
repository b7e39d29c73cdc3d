#include "data/RegisterStatements.h"

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
    return QStringLiteral("select * from all_key where is_del = 1");
}

QString RegisterStatements::idCondition(const std::vector<qint64>& ids)
{
    if (ids.back() - ids.front() + 1 == qint64(ids.size()))
        return QStringLiteral("id >= %1 and id <= %2").arg(ids.front()).arg(ids.back());
    QString list;
    list.reserve(qsizetype(ids.size()) * 8);
    for (qint64 id : ids) {
        if (!list.isEmpty())
            list += QLatin1Char(',');
        list += QString::number(id);
    }
    return QStringLiteral("id in (") + list + QLatin1Char(')');
}

QString RegisterStatements::markExported(const std::vector<qint64>& ids)
{
    return QStringLiteral("update all_key set is_del=2 where is_del=1 and ") + idCondition(ids);
}

QString RegisterStatements::pendingAmong(const std::vector<qint64>& ids)
{
    return QStringLiteral("select id from all_key where is_del = 1 and ") + idCondition(ids);
}
