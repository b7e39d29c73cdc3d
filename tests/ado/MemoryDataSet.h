#pragma once

#include "ado/TCustomADODataSet.h"

#include <string>
#include <utility>
#include <vector>

// A dataset over rows given in the test, so cursor, sort, bookmark and edit
// buffer behaviour can be checked without a database. Writes are recorded.
class MemoryDataSet : public TCustomADODataSet {
public:
    std::vector<TFieldDef> defs;
    std::vector<std::vector<jet::Value>> rows;

    std::vector<std::pair<uint64_t, std::vector<std::pair<int, jet::Value>>>> posted;
    std::vector<uint64_t> deleted;
    bool failWrites = false;

    static TFieldDef field(const char* name, TFieldType type, int size = 0)
    {
        TFieldDef def;
        def.name = QString::fromUtf8(name);
        def.type = type;
        def.size = size;
        def.baseTable = QStringLiteral("t");
        def.baseColumn = def.name;
        return def;
    }

protected:
    QString statementText() const override { return QStringLiteral("select * from t"); }
    void InternalOpen() override
    {
        setFieldDefs(defs);
        for (std::size_t i = 0; i < rows.size(); ++i) appendRecord(rows[i], i);
    }
    void InternalPost(uint64_t tag, const std::vector<std::pair<int, jet::Value>>& changes) override
    {
        if (failWrites) throw EDatabaseError(QStringLiteral("the write was refused"));
        posted.emplace_back(tag, changes);
    }
    void InternalDelete(uint64_t tag) override
    {
        if (failWrites) throw EDatabaseError(QStringLiteral("the delete was refused"));
        deleted.push_back(tag);
    }
    bool InternalCanModify() const override { return LockType() != ltReadOnly; }
};

inline jet::Value text(const char16_t* s) { return std::u16string(s); }
inline jet::Value number(int64_t n) { return n; }
inline jet::Value date(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return jet::fromCivil(jet::CivilTime{y, m, d, h, mi, s, ms});
}
