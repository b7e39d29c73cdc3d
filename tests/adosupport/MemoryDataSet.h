#pragma once

#include "ado/TADOQuery.h"
#include "ado/TCustomADODataSet.h"
#include "ado/TDataSet.h"

#include <QString>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

// Datasets over rows given in the test, so that cursor, sort, bookmark,
// edit buffer and grid behaviour can be checked without a database. The
// rows are "fetched" at each opening; posts and deletions are recorded and
// kept as a table would keep them (a posted change is there at the next
// opening, a deleted row is not). With failWrites both are refused.
template <class Base>
class MemoryRows : public Base {
public:
    struct PostedRecord {
        uint64_t tag;
        std::vector<std::pair<int, jet::Value>> changes;
    };

    MemoryRows() = default;
    MemoryRows(std::vector<TFieldDef> fields, std::vector<std::vector<jet::Value>> rows)
        : defs(std::move(fields)), rows(std::move(rows))
    {
    }

    std::vector<TFieldDef> defs;
    std::vector<std::vector<jet::Value>> rows;
    std::vector<PostedRecord> posts;
    std::vector<uint64_t> deletions;
    bool failWrites = false;

protected:
    void InternalOpen() override
    {
        this->setFieldDefs(defs);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (std::find(deletions.begin(), deletions.end(), uint64_t(i)) == deletions.end())
                this->appendRecord(rows[i], uint64_t(i));
        }
    }
    void InternalPost(uint64_t tag, const std::vector<std::pair<int, jet::Value>>& changes) override
    {
        if (failWrites) throw EDatabaseError(QStringLiteral("the write was refused"));
        posts.push_back({tag, changes});
        for (const auto& [field, value] : changes)
            rows[tag][std::size_t(field)] = value;
    }
    void InternalDelete(uint64_t tag) override
    {
        if (failWrites) throw EDatabaseError(QStringLiteral("the delete was refused"));
        deletions.push_back(tag);
    }
    bool InternalCanModify() const override
    {
        if constexpr (std::is_base_of_v<TCustomADODataSet, Base>)
            return this->LockType() != ltReadOnly;
        else
            return true;
    }
};

// An ADO dataset whose statement names the one table "t" its rows come from.
class MemoryTableDataSet : public TCustomADODataSet {
protected:
    QString statementText() const override { return QStringLiteral("select * from t"); }
};

// The plain dataset (no sorting), as the grid sees any dataset.
using MemoryDataSet = MemoryRows<TDataSet>;
// An ADO dataset that sorts by its Sort text and honours its lock type.
using MemoryADODataSet = MemoryRows<MemoryTableDataSet>;
// A TADOQuery, which the extended grid sorts by title clicks.
using MemoryQuery = MemoryRows<TADOQuery>;

// Field definitions and values for the rows above.
inline TFieldDef field(const QString& name, TFieldType type, int size = 0)
{
    TFieldDef def;
    def.name = name;
    def.type = type;
    def.size = size;
    def.baseTable = QStringLiteral("t");
    def.baseColumn = name;
    return def;
}
inline TFieldDef textField(const QString& name, int size = 50) { return field(name, ftWideString, size); }
inline TFieldDef integerField(const QString& name) { return field(name, ftInteger); }

inline jet::Value text(const char16_t* s) { return std::u16string(s); }
inline jet::Value text(const QString& s) { return s.toStdU16String(); }
inline jet::Value number(int64_t n) { return n; }
inline jet::Value date(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return jet::fromCivil(jet::CivilTime{y, m, d, h, mi, s, ms});
}
