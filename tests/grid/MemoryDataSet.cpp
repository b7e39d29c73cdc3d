#include "MemoryDataSet.h"

TFieldDef textField(const QString& name, int size)
{
    TFieldDef def;
    def.name = name;
    def.type = ftWideString;
    def.size = size;
    def.baseTable = QStringLiteral("memory");
    def.baseColumn = name;
    return def;
}

TFieldDef integerField(const QString& name)
{
    TFieldDef def;
    def.name = name;
    def.type = ftInteger;
    def.baseTable = QStringLiteral("memory");
    def.baseColumn = name;
    return def;
}

jet::Value text(const QString& value)
{
    return value.toStdU16String();
}

jet::Value integer(qint64 value)
{
    return int64_t(value);
}
