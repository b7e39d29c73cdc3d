#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/EntrySource.h"
#include "jet/IndexNode.h"
#include "jet/TableDef.h"

namespace jet {

class EntryRunFile;
class Pager;
class PendingEntries;

// One physical index as a B-tree of index pages (IndexNode). Intermediate
// entries carry the last entry of their child; the rightmost page of an
// intermediate level may hold its last child as the tail pointer instead of
// an entry. Leaves on one level are chained by previous/next pointers.
//
// Reading walks the tree from the root and checks what it meets (page kinds,
// order, links, cycles), so a damaged index gives a JetError naming the page.
// Writing either edits one leaf (and the keys above it) in place, or, when a
// change does not fit, rewrites the whole tree from its sorted entries,
// reusing the tree's pages and appending new ones. A rewrite reads the
// entries as a stream and builds the tree bottom-up, a level at a time, so
// that it holds one node and the keys of the level above, not the entries.
class IndexTree {
public:
    // `where` names the table for messages; the tree adds the index name.
    IndexTree(Pager& pager, const TableDef& table, const RealIndex& index, std::string where);

    // Every entry in index order, checking the tree's structure on the way.
    std::vector<IndexEntry> entries() const;
    // The same, one entry at a time (the visitor may take the entry's key),
    // without holding them all.
    void forEachEntry(const std::function<void(IndexEntry&)>& visit) const;
    // The rows in index order (RowLocator::packed), from the first leaf
    // along the leaf chain, without building entries; appended to `rows`,
    // and the runs of equal keys among them as [begin, end) ranges of
    // `rows`. The walk checks what lookups check (page kinds, owner, key
    // order within and across leaves, the chain's back links, cycles).
    void rowsInOrder(std::vector<uint32_t>& rows, std::vector<std::pair<size_t, size_t>>& equalKeyRuns) const;
    // Up to `count` entries from the first one not before `from`, in order.
    std::vector<IndexEntry> entriesFrom(const IndexEntry& from, size_t count) const;
    // The pages of the tree, root first.
    std::vector<uint32_t> pages() const;
    // Depth of the tree (1 = the root is a leaf).
    int depth() const;

    // Whether an entry has exactly this key (the unique check of a write).
    bool containsKey(const Bytes& key) const;
    // The entry of a row, found by walking the leaves (for indexes whose
    // keys the engine cannot compute); nothing when the index has none.
    std::optional<IndexEntry> entryOfRow(uint32_t page, uint8_t row) const;

    // Entries whose key starts with `prefix` (all of them, in order): the
    // rows with one value in the index's first column, found by walking
    // down to the first one instead of reading the whole tree.
    std::vector<IndexEntry> entriesWithKeyPrefix(const Bytes& prefix) const;

    // Removes / adds the entries a write transaction queued, leaving both
    // empty. `runs` is the file the transaction sorted entries out to, if
    // any: it then also takes the tree's own entries during a rewrite, which
    // otherwise are held in memory. Returns the pages the tree no longer
    // uses (after a rewrite) and reports new pages through `allocated`. The
    // root page never changes.
    //
    // It also tells how the number of distinct keys (the index's
    // unique-entry count) changed: a rewrite counts them all; edits in place
    // only know the change, from the neighbours of each entry (a key is new
    // or gone when no neighbour has it), so a count that was already off
    // stays off by as much.
    struct Change {
        std::vector<uint32_t> allocated;
        std::vector<uint32_t> released;
        bool recounted = false;
        uint32_t distinctKeys = 0;  // when recounted
        int64_t distinctDelta = 0;  // otherwise
    };
    Change apply(PendingEntries& removals, PendingEntries& additions, EntryRunFile* runs = nullptr);

    // Writes `sorted` as the whole content of the tree, counting its
    // distinct keys. The entries must not come from the tree's own pages,
    // which the rewrite writes over. Nodes are numbered leaves first, left
    // to right, then each level above in turn; the top node takes the root
    // page, the others the tree's old pages in ascending order, then new
    // ones. The entries a level passes up go to `runs` when there are many.
    Change rewrite(EntrySource& sorted, EntryRunFile* runs = nullptr);

private:
    struct Path {
        std::vector<IndexNode> nodes; // root ... leaf
        std::vector<size_t> slots;    // in each intermediate node: the entry followed (entries.size() = tail)
    };
    IndexNode load(uint32_t page) const;
    // A page a lookup passes through: of this table, its entries in order.
    IndexNode loadChecked(uint32_t page) const;
    // The leaf after `leaf`, checked to continue its order.
    IndexNode nextLeaf(const IndexNode& leaf) const;
    Path descend(const IndexEntry& target) const;
    bool tryInPlace(const IndexEntry& entry, bool add, int64_t& distinctDelta);
    bool neighbourHasKey(const IndexNode& leaf, size_t before, size_t after, const Bytes& key) const;
    void store(const IndexNode& node);
    static std::vector<uint32_t> childrenOf(const IndexNode& node);
    // The tree's entries merged with `additions`, less `removals`: what a
    // rewrite writes.
    Change replaceEntries(std::unique_ptr<EntrySource> removals, std::unique_ptr<EntrySource> additions,
                          EntryRunFile* runs);

    Pager& pager_;
    const TableDef& table_;
    const RealIndex& index_;
    std::string location_; // of the table
    std::string where_;    // of the index
};

// Whether a row's key in the index has a null column. Jet never counts such
// keys as the same key, so a unique index may hold any number of them.
bool indexKeyHoldsNull(const TableDef& def, const RealIndex& index, const std::vector<Value>& row);
// Whether the index leaves the row out: all its columns null in an index
// that ignores nulls.
bool indexLeavesOutRow(const TableDef& def, const RealIndex& index, const std::vector<Value>& row);
// The entry a row has in an index, or nothing when the index leaves the row
// out.
std::optional<IndexEntry> indexEntryForRow(const TableDef& def, const RealIndex& index, const std::vector<Value>& row,
                                           uint32_t page, uint8_t slot);

} // namespace jet
