#include "jet/Checker.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/UsageMap.h"

#include <algorithm>
#include <cstring>
#include <functional>
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

// A problem list that keeps the first few of a kind and counts the rest.
class CappedReport {
public:
    explicit CappedReport(size_t cap) : cap_(cap) {}
    void add(const std::string& line)
    {
        if (++count_ <= cap_) lines_.push_back(line);
    }
    // The lines kept, and one for those left out.
    void moveTo(std::vector<std::string>& problems, const std::string& where)
    {
        problems.insert(problems.end(), lines_.begin(), lines_.end());
        if (count_ > cap_) problems.push_back(where + ": " + std::to_string(count_ - cap_) + " more such problems");
    }

private:
    size_t cap_;
    size_t count_ = 0;
    std::vector<std::string> lines_;
};

std::string rowText(uint32_t packedLocator)
{
    RowLocator row = RowLocator::fromPacked(packedLocator);
    return "page " + std::to_string(row.page) + ", row " + std::to_string(row.row);
}

// Data pages by the table that owns them, from one pass over the file.
// Pages past the end that the map of free pages names, and its map-page
// slots past the end, are what Access leaves: at most a note.
std::map<uint32_t, std::vector<uint32_t>> dataPagesByOwner(Database& db, std::vector<std::string>& problems,
                                                           std::vector<std::string>& notes)
{
    Pager& pager = db.pager();
    std::set<uint32_t> freePages;
    try {
        UsageMap freeMap = UsageMap::readFreePages(pager, "'" + db.path() + "'");
        for (uint32_t p : freeMap.pages()) freePages.insert(p);
        for (const UsageMap::Slot& slot : freeMap.slotsPastEnd())
            notes.push_back("'" + db.path() + "': the map of free pages names map page " + std::to_string(slot.value) +
                            " in its slot " + std::to_string(slot.index) + ", past the end of the file (" +
                            std::to_string(pager.pageCount()) + " pages); it is read as no map page");
    } catch (const JetError& e) {
        problems.push_back(std::string(e.what()) + " (the map of free pages)");
    }
    std::map<uint32_t, std::vector<uint32_t>> owned;
    for (uint32_t p = 1; p < pager.pageCount(); ++p) {
        if (freePages.count(p)) continue; // a released page keeps its old header
        PageRef page = pager.read(p);
        if (page->data[0] == DataPage::kType) owned[DataPage::owner(pager.format(), page->data)].push_back(p);
    }
    return owned;
}

// The usage map against the pages that say they belong to the table. A
// page that holds no live row is no loss when the map leaves it out:
// Access leaves pages it emptied that way (a note, not a problem).
void checkUsageMap(Pager& pager, const TableDef& def, const std::string& where, const std::vector<uint32_t>& ownedPages,
                   std::vector<std::string>& problems, std::vector<std::string>& notes)
{
    std::set<uint32_t> mapped;
    for (uint32_t p : UsageMap::read(pager, def.usedPagesPointer, where).pages()) mapped.insert(p);
    for (uint32_t p : ownedPages) {
        if (mapped.count(p)) continue;
        PageRef page = pager.read(p);
        bool live = false;
        for (unsigned r = 0, n = DataPage::rowCount(pager.format(), page->data); r < n && !live; ++r)
            live = !DataPage::rawSlot(pager.format(), page->data, r).deleted();
        const std::string line = where + ": data page " + std::to_string(p) + " is missing from its usage map";
        if (live) problems.push_back(line);
        else notes.push_back(line + " (it holds no live row)");
    }
}

// The tree's entries in order against the sorted expected ones; false when
// the tree is too damaged to walk (reported as that one problem).
bool compareEntries(IndexTree& tree, const ExpectedEntries& want, bool byRowOnly, const std::string& where,
                    std::vector<std::string>& problems)
{
    CappedReport report(20);
    size_t j = 0;
    auto missing = [&](size_t at) { report.add(where + ": the row at " + rowText(want.refs[at].locator) + " has no entry"); };
    auto visitEntries = [&](const std::function<void(IndexEntry&)>& visit) {
        if (!byRowOnly) return tree.forEachEntry(visit);
        std::vector<IndexEntry> all;
        tree.forEachEntry([&](IndexEntry& e) {
            e.key.clear();
            all.push_back(std::move(e));
        });
        std::sort(all.begin(), all.end(), [](const IndexEntry& a, const IndexEntry& b) { return a.compare(b) < 0; });
        for (IndexEntry& e : all) visit(e);
    };
    try {
        visitEntries([&](IndexEntry& actual) {
            int c = 1;
            while (j < want.refs.size() && (c = want.compare(j, actual)) < 0) missing(j++);
            if (j < want.refs.size() && c == 0) {
                ++j;
                return;
            }
            report.add(where + ": an entry names page " + std::to_string(actual.page) + ", row " +
                       std::to_string(actual.row) + ", which is not a live row with that key");
        });
    } catch (const JetError& e) {
        problems.push_back(e.what());
        return false;
    }
    while (j < want.refs.size()) missing(j++);
    report.moveTo(problems, where);
    return true;
}

// What the rows say the index must not hold: a null key column where the
// index requires values, one key twice in a unique index. The first of each
// is reported.
void checkKeyRules(const TableDef& def, const RealIndex& index, const ExpectedEntries& want, bool byRowOnly,
                   const std::string& where, std::vector<std::string>& problems)
{
    if (def.indexRequiresValues(index)) {
        for (const auto& ref : want.refs)
            if (ref.holdsNull) {
                problems.push_back(where + ": the index admits no null, yet the row at " + rowText(ref.locator) +
                                   " has a null key column");
                break;
            }
    }
    if (index.isUnique() && !byRowOnly) {
        for (size_t n = 1; n < want.refs.size(); ++n)
            if (!want.refs[n].holdsNull && want.sameKey(n, n - 1)) {
                problems.push_back(where + ": a unique index holds one key twice (" + rowText(want.refs[n].locator) + ")");
                break;
            }
    }
}

void checkIndex(Pager& pager, const TableDef& def, const RealIndex& index, const std::string& tableWhere,
                ExpectedEntries want, bool byRowOnly, std::vector<std::string>& problems)
{
    want.sort();
    const std::string where = tableWhere + ", index '" + def.indexName(index) + "'";
    IndexTree tree(pager, def, index, tableWhere);
    if (!compareEntries(tree, want, byRowOnly, where, problems)) return;
    try {
        UsageMap own = UsageMap::read(pager, index.usageMapPointer, where);
        for (uint32_t p : tree.pages())
            if (!own.contains(p)) problems.push_back(where + ": index page " + std::to_string(p) + " is missing from its usage map");
    } catch (const JetError& e) {
        problems.push_back(e.what());
    }
    // The unique-entry count is not checked: Access itself lets it drift (it
    // stays high after deletes in every sample file's system tables, and is
    // stale in some), so readers cannot rely on it.
    checkKeyRules(def, index, want, byRowOnly, where, problems);
}

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
    std::map<uint32_t, std::vector<uint32_t>> ownedPages = dataPagesByOwner(db_, problems_, notes_);
    for (const std::string& name : names) {
        try {
            Table& table = db_.table(name);
            checkUsageMap(db_.pager(), table.def(), table.location(), ownedPages[table.def().firstPage], problems_,
                          notes_);
            checkRowsAndIndexes(table);
        } catch (const JetError& e) {
            problems_.push_back(e.what());
        }
    }
    return problems_;
}

void Checker::checkRowsAndIndexes(Table& table)
{
    const TableDef& def = table.def();
    const std::string& where = table.location();
    // Rows, one at a time: each adds its entry to what each index should hold.
    std::vector<ExpectedEntries> expected(def.realIndexes.size());
    // Indexes whose keys the engine cannot compute (a sort order other than
    // General, a column of a type it does not know) are checked by their
    // rows alone.
    std::vector<bool> byRowOnly(def.realIndexes.size());
    for (size_t k = 0; k < def.realIndexes.size(); ++k) byRowOnly[k] = def.unencodableColumn(def.realIndexes[k]);
    size_t rowCount = 0;
    table.scan([&](RowLocator at, std::vector<Value>& values) {
        ++rowCount;
        for (size_t k = 0; k < def.realIndexes.size(); ++k) {
            const RealIndex& index = def.realIndexes[k];
            if (byRowOnly[k]) {
                if (!indexLeavesOutRow(def, index, values))
                    expected[k].add(IndexEntry{{}, at.page, at.row}, indexKeyHoldsNull(def, index, values));
            } else if (auto e = indexEntryForRow(def, index, values, at.page, at.row)) {
                expected[k].add(*e, indexKeyHoldsNull(def, index, values));
            }
        }
        return true;
    });
    if (rowCount != def.rowCount) {
        std::string line = where + ": the definition counts " + std::to_string(def.rowCount) + " rows, the table has " +
                           std::to_string(rowCount);
        // Access lets the counts of its own system tables drift (its compact
        // sets them right); in a user table it is damage.
        if (def.tableType == kSystemTableType) notes_.push_back(line);
        else problems_.push_back(line);
    }
    for (size_t k = 0; k < def.realIndexes.size(); ++k)
        checkIndex(db_.pager(), def, def.realIndexes[k], where, std::move(expected[k]), byRowOnly[k], problems_);
}

} // namespace jet
