#include "jet/Checker.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/UsageMap.h"

#include <algorithm>
#include <map>
#include <set>

namespace jet {

std::vector<std::string> Checker::run()
{
    problems_.clear();
    ReadScope scope(db_.pager());
    std::vector<std::string> names;
    try {
        names = db_.tableNames(true);
    } catch (const JetError& e) {
        problems_.push_back(e.what());
        return problems_;
    }
    // Data pages by owner, from one pass over the file.
    Pager& pager = db_.pager();
    std::map<uint32_t, std::vector<uint32_t>> dataPagesByOwner;
    std::set<uint32_t> freePages;
    try {
        for (uint32_t p : UsageMap::read(pager, DataPage::makeRowPointer(1, 0), "'" + db_.path() + "'").pages())
            freePages.insert(p);
    } catch (const JetError& e) {
        problems_.push_back(std::string(e.what()) + " (the map of free pages)");
    }
    for (uint32_t p = 1; p < pager.pageCount(); ++p) {
        if (freePages.count(p)) continue; // a released page keeps its old header
        PageRef page = pager.read(p);
        if (page->data[0] == DataPage::kType) dataPagesByOwner[le32(page->data + DataPage::kOwnerOffset)].push_back(p);
    }
    for (const std::string& name : names) {
        try {
            Table& table = db_.table(name);
            const TableDef& def = table.def();
            const std::string where = table.where();

            // Usage map against the pages that say they belong to the table.
            std::set<uint32_t> mapped;
            for (uint32_t p : UsageMap::read(pager, def.usedPagesPointer, where).pages()) mapped.insert(p);
            for (uint32_t p : dataPagesByOwner[def.firstPage])
                if (!mapped.count(p))
                    problems_.push_back(where + ": data page " + std::to_string(p) + " is missing from its usage map");

            // Rows.
            std::vector<std::pair<RowLocator, std::vector<Value>>> rows;
            table.scan([&](RowLocator at, std::vector<Value>& v) {
                rows.emplace_back(at, v);
                return true;
            });
            if (rows.size() != def.rowCount)
                problems_.push_back(where + ": the definition counts " + std::to_string(def.rowCount) + " rows, the table has " +
                                    std::to_string(rows.size()));

            // Indexes.
            for (const RealIndex& index : def.realIndexes) {
                std::string iwhere = where + ", index " + std::to_string(index.number);
                for (const LogicalIndex& li : def.indexes)
                    if (li.realIndex == index.number) {
                        iwhere = where + ", index '" + li.utf8Name + "'";
                        break;
                    }
                IndexTree tree(pager, def, index, iwhere);
                std::vector<IndexEntry> actual;
                try {
                    actual = tree.entries();
                } catch (const JetError& e) {
                    problems_.push_back(e.what());
                    continue;
                }
                try {
                    UsageMap own = UsageMap::read(pager, index.usageMapPointer, iwhere);
                    for (uint32_t p : tree.pages())
                        if (!own.contains(p))
                            problems_.push_back(iwhere + ": index page " + std::to_string(p) + " is missing from its usage map");
                } catch (const JetError& e) {
                    problems_.push_back(e.what());
                }
                std::vector<IndexEntry> expected;
                for (auto& [at, values] : rows)
                    if (auto e = indexEntryForRow(def, index, values, at.page, at.row)) expected.push_back(std::move(*e));
                std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.compare(b) < 0; });
                size_t reported = 0;
                auto report = [&](const std::string& line) {
                    if (++reported <= 20) problems_.push_back(line);
                };
                size_t i = 0, j = 0;
                while (i < actual.size() || j < expected.size()) {
                    int c = i == actual.size() ? 1 : j == expected.size() ? -1 : actual[i].compare(expected[j]);
                    if (c == 0) {
                        ++i, ++j;
                    } else if (c < 0) {
                        report(iwhere + ": an entry names page " + std::to_string(actual[i].page) + ", row " +
                               std::to_string(actual[i].row) + ", which is not a live row with that key");
                        ++i;
                    } else {
                        report(iwhere + ": the row at page " + std::to_string(expected[j].page) + ", row " +
                               std::to_string(expected[j].row) + " has no entry");
                        ++j;
                    }
                }
                if (reported > 20) problems_.push_back(iwhere + ": " + std::to_string(reported - 20) + " more such problems");
                // The unique-entry count is not checked: Access itself lets it
                // drift (it stays high after deletes in every sample file's
                // system tables, and is stale in some), so readers cannot rely on it.
                if (index.isUnique()) {
                    for (size_t k = 1; k < expected.size(); ++k)
                        if (expected[k].key == expected[k - 1].key) {
                            problems_.push_back(iwhere + ": a unique index holds one key twice (page " +
                                                std::to_string(expected[k].page) + ", row " +
                                                std::to_string(expected[k].row) + ")");
                            break;
                        }
                }
            }
        } catch (const JetError& e) {
            problems_.push_back(e.what());
        }
    }
    return problems_;
}

} // namespace jet
