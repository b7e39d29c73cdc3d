#pragma once

#include "ado/TADOQuery.h"
#include "ado/TDataSet.h"

#include <QString>
#include <algorithm>
#include <vector>

// Datasets whose rows are given in memory: the rows are "fetched" at each
// opening, posts and deletions are recorded instead of written anywhere.
// MemoryDataSet is a plain dataset (it does not sort); MemoryQuery is a
// TADOQuery and sorts by its Sort text like the real one.
template <class Base>
class MemoryRows : public Base {
public:
    struct PostedRecord {
        uint64_t tag;
        std::vector<std::pair<int, jet::Value>> changes;
    };

    MemoryRows(std::vector<TFieldDef> fields, std::vector<std::vector<jet::Value>> rows)
        : m_fields(std::move(fields)), m_rows(std::move(rows))
    {
    }

    std::vector<PostedRecord> posts;
    std::vector<uint64_t> deletions;

protected:
    void InternalOpen() override
    {
        this->setFieldDefs(m_fields);
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (std::find(deletions.begin(), deletions.end(), uint64_t(i)) == deletions.end())
                this->appendRecord(m_rows[i], uint64_t(i));
        }
    }
    void InternalClose() override { Base::InternalClose(); }
    void InternalPost(uint64_t tag, const std::vector<std::pair<int, jet::Value>>& changes) override
    {
        posts.push_back({tag, changes});
        for (const auto& [field, value] : changes)
            m_rows[tag][std::size_t(field)] = value;
    }
    void InternalDelete(uint64_t tag) override { deletions.push_back(tag); }
    bool InternalCanModify() const override { return true; }

private:
    std::vector<TFieldDef> m_fields;
    std::vector<std::vector<jet::Value>> m_rows;
};

using MemoryDataSet = MemoryRows<TDataSet>;
using MemoryQuery = MemoryRows<TADOQuery>;

// Field definitions and values for the rows above.
TFieldDef textField(const QString& name, int size = 50);
TFieldDef integerField(const QString& name);
jet::Value text(const QString& value);
jet::Value integer(qint64 value);
