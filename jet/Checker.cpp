#include "jet/Checker.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/UsageMap.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace jet {

namespace {

// The entries an index should hold, built row by row. Keys share one
// buffer: a million entries as IndexEntry objects would take about three
// times the memory.
struct ExpectedEntries {
    struct Ref {
        uint32_t offset;  // into keys
        uint32_t locator; // RowLocator::packed()
        uint16_t size;
        bool holdsNull;   // a key with a null column never collides in a unique index
    };
    Bytes keys;
    std::vector<Ref> refs;

    void add(const IndexEntry& e, bool holdsNull)
    {
        if (keys.size() + e.key.size() > UINT32_MAX || e.key.size() > UINT16_MAX)
            throw JetError("the index keys of the table are too large to check");
        refs.push_back(Ref{uint32_t(keys.size()), RowLocator{e.page, e.row}.packed(), uint16_t(e.key.size()), holdsNull});
        keys.insert(keys.end(), e.key.begin(), e.key.end());
    }
    // In index order: key bytes, then the row (IndexEntry::compare).
    static int order(const uint8_t* a, size_t an, uint32_t al, const uint8_t* b, size_t bn, uint32_t bl)
    {
        size_t n = std::min(an, bn);
        int c = n ? std::memcmp(a, b, n) : 0;
        if (c != 0) return c < 0 ? -1 : 1;
        if (an != bn) return an < bn ? -1 : 1;
        return al < bl ? -1 : (al > bl ? 1 : 0);
    }
    void sort()
    {
        std::sort(refs.begin(), refs.end(), [&](const Ref& x, const Ref& y) {
            return order(keys.data() + x.offset, x.size, x.locator, keys.data() + y.offset, y.size, y.locator) < 0;
        });
    }
    int compare(size_t i, const IndexEntry& e) const
    {
        const Ref& r = refs[i];
        return order(keys.data() + r.offset, r.size, r.locator, e.key.data(), e.key.size(),
                     RowLocator{e.page, e.row}.packed());
    }
    bool sameKey(size_t i, size_t k) const
    {
        const Ref& x = refs[i];
        const Ref& y = refs[k];
        return x.size == y.size && (x.size == 0 || std::memcmp(keys.data() + x.offset, keys.data() + y.offset, x.size) == 0);
    }
};

} // namespace

std::vector<std::string> Checker::run()
{
    problems_.clear();
    notes_.clear();
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

            // Rows, one at a time: each adds its entry to what each index
            // should hold.
            std::vector<ExpectedEntries> expected(def.realIndexes.size());
            size_t rowCount = 0;
            table.scan([&](RowLocator at, std::vector<Value>& values) {
                ++rowCount;
                for (size_t k = 0; k < def.realIndexes.size(); ++k)
                    if (auto e = indexEntryForRow(def, def.realIndexes[k], values, at.page, at.row))
                        expected[k].add(*e, indexKeyHoldsNull(def, def.realIndexes[k], values));
                return true;
            });
            if (rowCount != def.rowCount) {
                std::string line = where + ": the definition counts " + std::to_string(def.rowCount) +
                                   " rows, the table has " + std::to_string(rowCount);
                // Access lets the counts of its own system tables drift (its
                // compact sets them right); in a user table it is damage.
                if (def.tableType == kSystemTableType) notes_.push_back(line);
                else problems_.push_back(line);
            }

            // Indexes.
            for (size_t k = 0; k < def.realIndexes.size(); ++k) {
                const RealIndex& index = def.realIndexes[k];
                ExpectedEntries want = std::move(expected[k]);
                want.sort();
                std::string iwhere = where + ", index '" + def.indexName(index) + "'";
                IndexTree tree(pager, def, index, iwhere);
                // The tree's entries in order against the sorted expected ones.
                std::vector<std::string> found;
                size_t reported = 0;
                auto report = [&](const std::string& line) {
                    if (++reported <= 20) found.push_back(line);
                };
                size_t j = 0;
                auto missing = [&](size_t at) {
                    RowLocator row = RowLocator::fromPacked(want.refs[at].locator);
                    report(iwhere + ": the row at page " + std::to_string(row.page) + ", row " + std::to_string(row.row) +
                           " has no entry");
                };
                try {
                    tree.forEachEntry([&](IndexEntry& actual) {
                        int c = 1;
                        while (j < want.refs.size() && (c = want.compare(j, actual)) < 0) missing(j++);
                        if (j < want.refs.size() && c == 0) {
                            ++j;
                            return;
                        }
                        report(iwhere + ": an entry names page " + std::to_string(actual.page) + ", row " +
                               std::to_string(actual.row) + ", which is not a live row with that key");
                    });
                } catch (const JetError& e) {
                    // A damaged tree is one problem, not a list of entries.
                    problems_.push_back(e.what());
                    continue;
                }
                while (j < want.refs.size()) missing(j++);
                problems_.insert(problems_.end(), found.begin(), found.end());
                if (reported > 20) problems_.push_back(iwhere + ": " + std::to_string(reported - 20) + " more such problems");
                try {
                    UsageMap own = UsageMap::read(pager, index.usageMapPointer, iwhere);
                    for (uint32_t p : tree.pages())
                        if (!own.contains(p))
                            problems_.push_back(iwhere + ": index page " + std::to_string(p) + " is missing from its usage map");
                } catch (const JetError& e) {
                    problems_.push_back(e.what());
                }
                // The unique-entry count is not checked: Access itself lets it
                // drift (it stays high after deletes in every sample file's
                // system tables, and is stale in some), so readers cannot rely on it.
                if (def.indexRequiresValues(index)) {
                    for (const auto& ref : want.refs)
                        if (ref.holdsNull) {
                            RowLocator row = RowLocator::fromPacked(ref.locator);
                            problems_.push_back(iwhere + ": the index admits no null, yet the row at page " +
                                                std::to_string(row.page) + ", row " + std::to_string(row.row) +
                                                " has a null key column");
                            break;
                        }
                }
                if (index.isUnique()) {
                    for (size_t n = 1; n < want.refs.size(); ++n)
                        if (!want.refs[n].holdsNull && want.sameKey(n, n - 1)) {
                            RowLocator row = RowLocator::fromPacked(want.refs[n].locator);
                            problems_.push_back(iwhere + ": a unique index holds one key twice (page " +
                                                std::to_string(row.page) + ", row " + std::to_string(row.row) + ")");
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
