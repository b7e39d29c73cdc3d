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

QString RegisterStatements::markExported(qint64 firstId, qint64 lastId)
{
    return QStringLiteral("update all_key set is_del=2 where is_del=1 and id >= %1 and id <= %2")
        .arg(firstId)
        .arg(lastId);
}
