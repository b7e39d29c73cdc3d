#include "jet/IndexTree.h"

#include "jet/ByteOrder.h"
#include "jet/EntryMerge.h"
#include "jet/EntryRunFile.h"
#include "jet/IndexKey.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/PendingEntries.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_set>

namespace jet {

namespace {


bool entryLess(const IndexEntry& a, const IndexEntry& b) { return a.compare(b) < 0; }

// The entries of a sorted vector, moved out as they are read.
class VectorEntrySource : public EntrySource {
public:
    explicit VectorEntrySource(std::vector<IndexEntry> sorted) : entries_(std::move(sorted)) {}
    bool next(IndexEntry& entry, bool& uniqueKey) override
    {
        if (at_ == entries_.size()) {
            entries_ = std::vector<IndexEntry>();
            at_ = 0;
            return false;
        }
        entry = std::move(entries_[at_++]);
        uniqueKey = false;
        return true;
    }

private:
    std::vector<IndexEntry> entries_;
    size_t at_ = 0;
};

// The entries one level of a rewrite passes up to the next: in memory, or
// in the run file, when there is one, once they take a sixteenth of the
// memory the build gives entries.
class LevelEntries {
public:
    explicit LevelEntries(EntryRunFile* runs) : runs_(runs) {}
    void add(const IndexEntry& entry)
    {
        if (writer_) {
            writer_->add(entry, false);
            return;
        }
        held_.push_back(entry);
        heldBytes_ += sizeof(IndexEntry) + entry.key.size();
        if (runs_ && heldBytes_ > runs_->memory() / 16) {
            writer_ = runs_->write();
            for (const IndexEntry& e : held_) writer_->add(e, false);
            held_ = std::vector<IndexEntry>();
        }
    }
    std::unique_ptr<EntrySource> read()
    {
        if (writer_) return runs_->read(writer_->finish());
        return std::make_unique<VectorEntrySource>(std::move(held_));
    }

private:
    EntryRunFile* runs_;
    std::vector<IndexEntry> held_;
    size_t heldBytes_ = 0;
    std::unique_ptr<EntryRunFile::Writer> writer_;
};

// The merged entries of the tree and the additions, less the removals
// (each removal takes one equal entry). Entries the transaction added with
// a unique key are checked against each other here: the write's own check
// does not see the ones sorted out to a file.
class AppliedEntries : public EntrySource {
public:
    AppliedEntries(std::unique_ptr<EntrySource> merged, std::unique_ptr<EntrySource> removals,
                   std::function<JetError(const IndexEntry&)> noEntry, std::function<JetError()> duplicate)
        : merged_(std::move(merged)), removals_(std::move(removals)), noEntry_(std::move(noEntry)),
          duplicate_(std::move(duplicate))
    {
        bool ignored = false;
        haveRemoval_ = removals_->next(removal_, ignored);
    }

    bool next(IndexEntry& entry, bool& uniqueKey) override
    {
        while (merged_->next(entry, uniqueKey)) {
            if (haveRemoval_) {
                int c = removal_.compare(entry);
                if (c < 0) throw noEntry_(removal_);
                if (c == 0) {
                    bool ignored = false;
                    haveRemoval_ = removals_->next(removal_, ignored);
                    continue;
                }
            }
            if (uniqueKey) {
                // Entries with one key are adjacent, whatever lies between the unique ones.
                if (haveUniqueKey_ && entry.key == lastUniqueKey_) throw duplicate_();
                lastUniqueKey_ = entry.key;
                haveUniqueKey_ = true;
            }
            return true;
        }
        if (haveRemoval_) throw noEntry_(removal_);
        return false;
    }

private:
    std::unique_ptr<EntrySource> merged_, removals_;
    std::function<JetError(const IndexEntry&)> noEntry_;
    std::function<JetError()> duplicate_;
    IndexEntry removal_;
    bool haveRemoval_ = false;
    Bytes lastUniqueKey_;
    bool haveUniqueKey_ = false;
};

} // namespace

IndexTree::IndexTree(Pager& pager, const TableDef& table, const RealIndex& index, std::string where)
    : pager_(pager), table_(table), index_(index), location_(std::move(where)),
      where_(location_ + ", index '" + table.indexName(index) + "'")
{
}

IndexNode IndexTree::load(uint32_t page) const
{
    if (page == 0 || page >= pager_.pageCount())
        throw JetError(where_ + ": the index names page " + std::to_string(page) + ", which does not exist");
    PageRef ref = pager_.read(page);
    return IndexNode::decode(pager_.format(), ref->data, page, where_);
}

IndexNode IndexTree::loadChecked(uint32_t page) const
{
    IndexNode node = load(page);
    auto fail = [&](const std::string& what) {
        return JetError(where_ + ": index page " + std::to_string(page) + ": " + what +
                        "; the index is damaged (jetdb check lists the damage)");
    };
    if (node.owner != table_.firstPage) throw fail("it belongs to another table");
    for (size_t i = 1; i < node.entries.size(); ++i)
        if (node.entries[i - 1].compare(node.entries[i]) >= 0) throw fail("its entries are out of order");
    return node;
}

std::vector<uint32_t> IndexTree::childrenOf(const IndexNode& node)
{
    std::vector<uint32_t> out;
    if (node.leaf) return out;
    for (const IndexEntry& e : node.entries) out.push_back(e.child);
    if (node.tail) out.push_back(node.tail);
    return out;
}

std::vector<IndexEntry> IndexTree::entries() const
{
    std::vector<IndexEntry> out;
    forEachEntry([&](IndexEntry& e) { out.push_back(std::move(e)); });
    return out;
}

void IndexTree::forEachEntry(const std::function<void(IndexEntry&)>& visit) const
{
    IndexEntry last; // the last entry visited, for the order across leaves
    bool any = false;
    std::unordered_set<uint32_t> seen;
    int leafDepth = -1;
    uint32_t previousLeaf = 0;
    auto fail = [&](uint32_t page, const std::string& what) {
        return JetError(where_ + ": index page " + std::to_string(page) + ": " + what);
    };
    // Depth-first, children in order; the explicit stack keeps a hostile
    // file from exhausting the call stack.
    struct Frame {
        uint32_t page;
        int depth;
        const IndexEntry* bound; // the parent's entry for this child (null for root/tail)
    };
    std::deque<IndexNode> parents; // kept alive (and in place) for the bounds
    std::vector<Frame> stack{{index_.rootPage, 0, nullptr}};
    while (!stack.empty()) {
        Frame f = stack.back();
        stack.pop_back();
        if (!seen.insert(f.page).second) throw fail(f.page, "the page is reached twice (a cycle or a shared child)");
        if (f.depth > 32) throw fail(f.page, "the tree is deeper than any index can be");
        IndexNode node = load(f.page);
        if (node.owner != table_.firstPage)
            throw fail(f.page, "the page belongs to another table (definition page " + std::to_string(node.owner) + ")");
        for (size_t i = 1; i < node.entries.size(); ++i)
            if (node.entries[i].compare(node.entries[i - 1]) < 0) throw fail(f.page, "its entries are out of order");
        if (f.bound && !node.entries.empty() && node.entries.back().compare(*f.bound) > 0)
            throw fail(f.page, "it holds entries beyond its parent's key");
        if (node.leaf) {
            if (leafDepth < 0) leafDepth = f.depth;
            else if (leafDepth != f.depth) throw fail(f.page, "the leaves are not all on one level");
            if (node.prev != previousLeaf && !(previousLeaf == 0 && node.prev == 0))
                throw fail(f.page, "its previous-page pointer is " + std::to_string(node.prev) + ", not " +
                                       std::to_string(previousLeaf));
            if (any && !node.entries.empty() && node.entries.front().compare(last) < 0)
                throw fail(f.page, "its entries are out of order with the previous page");
            previousLeaf = f.page;
            if (!node.entries.empty()) {
                any = true;
                last = node.entries.back();
            }
            for (IndexEntry& e : node.entries) visit(e);
            continue;
        }
        if (node.entries.empty() && !node.tail) throw fail(f.page, "an intermediate page without children");
        parents.push_back(std::move(node));
        const IndexNode& kept = parents.back();
        if (kept.tail) stack.push_back({kept.tail, f.depth + 1, f.bound});
        for (size_t i = kept.entries.size(); i-- > 0;)
            stack.push_back({kept.entries[i].child, f.depth + 1, &kept.entries[i]});
    }
}

std::vector<IndexEntry> IndexTree::entriesFrom(const IndexEntry& from, size_t count) const
{
    std::vector<IndexEntry> out;
    Path path = descend(from);
    IndexNode leaf = std::move(path.nodes.back());
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), from, entryLess);
    size_t steps = 0;
    while (out.size() < count) {
        if (it != leaf.entries.end()) {
            out.push_back(*it++);
            continue;
        }
        if (!leaf.next || ++steps > pager_.pageCount()) break;
        leaf = nextLeaf(leaf);
        it = leaf.entries.begin();
    }
    return out;
}

bool IndexTree::containsKey(const Bytes& key) const
{
    IndexEntry probe;
    probe.key = key; // page 0, row 0: before every entry of the key
    for (const IndexEntry& e : entriesFrom(probe, 1))
        if (e.key == key) return true;
    return false;
}

std::optional<IndexEntry> IndexTree::entryOfRow(uint32_t page, uint8_t row) const
{
    IndexNode leaf = std::move(descend(IndexEntry{}).nodes.back()); // the first leaf
    for (size_t steps = 0;; ++steps) {
        for (IndexEntry& e : leaf.entries)
            if (e.page == page && e.row == row) return std::move(e);
        if (!leaf.next) return std::nullopt;
        if (steps > pager_.pageCount())
            throw JetError(where_ + ": index page " + std::to_string(leaf.pageNumber) + ": the leaves form a cycle");
        leaf = nextLeaf(leaf);
    }
}

std::vector<IndexEntry> IndexTree::entriesWithKeyPrefix(const Bytes& prefix) const
{
    std::vector<IndexEntry> out;
    IndexEntry from;
    from.key = prefix; // before every entry with this prefix (row 0 of page 0)
    Path path = descend(from);
    IndexNode leaf = std::move(path.nodes.back());
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), from, entryLess);
    auto hasPrefix = [&](const IndexEntry& e) {
        return e.key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), e.key.begin());
    };
    size_t steps = 0;
    for (;;) {
        for (; it != leaf.entries.end(); ++it) {
            if (!hasPrefix(*it)) return out;
            out.push_back(std::move(*it));
        }
        if (!leaf.next) return out;
        if (++steps > pager_.pageCount())
            throw JetError(where_ + ": index page " + std::to_string(leaf.pageNumber) + ": the leaves form a cycle");
        leaf = nextLeaf(leaf);
        it = leaf.entries.begin();
    }
}

std::vector<uint32_t> IndexTree::pages() const
{
    std::vector<uint32_t> out;
    std::unordered_set<uint32_t> seen;
    std::vector<uint32_t> queue{index_.rootPage};
    for (size_t i = 0; i < queue.size(); ++i) {
        uint32_t p = queue[i];
        if (!seen.insert(p).second) throw JetError(where_ + ": index page " + std::to_string(p) + " is reached twice");
        out.push_back(p);
        for (uint32_t c : childrenOf(load(p))) queue.push_back(c);
    }
    return out;
}

int IndexTree::depth() const
{
    int d = 1;
    IndexNode node = load(index_.rootPage);
    while (!node.leaf) {
        std::vector<uint32_t> children = childrenOf(node);
        if (children.empty() || ++d > 32) throw JetError(where_ + ": index page " + std::to_string(node.pageNumber) + " is damaged");
        node = load(children.front());
    }
    return d;
}

void IndexTree::rowsInOrder(std::vector<uint32_t>& rows, std::vector<std::pair<size_t, size_t>>& equalKeyRuns) const
{
    auto fail = [&](uint32_t page, const std::string& what) {
        return JetError(where_ + ": index page " + std::to_string(page) + ": " + what +
                        "; the index is damaged (jetdb check lists the damage)");
    };
    // Down the first children to the first leaf.
    uint32_t page = index_.rootPage;
    for (int level = 0;; ++level) {
        if (level > 32) throw fail(page, "the tree is too deep");
        IndexNode node = loadChecked(page);
        if (node.leaf) break;
        if (!node.entries.empty()) page = node.entries.front().child;
        else if (node.tail) page = node.tail;
        else throw fail(page, "an intermediate page without children");
    }
    const Format& format = pager_.format();
    std::unordered_set<uint32_t> seen;
    uint8_t previous[kMaxPageSize];
    size_t previousLength = 0;
    uint32_t previousRow = 0;  // packed
    bool any = false;
    size_t runStart = rows.size();
    uint32_t previousLeaf = 0;
    while (page != 0) {
        if (page >= pager_.pageCount())
            throw JetError(where_ + ": the index names page " + std::to_string(page) + ", which does not exist");
        if (!seen.insert(page).second) throw fail(page, "the leaf chain runs in a circle");
        PageRef ref = pager_.read(page);
        const uint8_t* p = ref->data;
        if (p[0] != IndexNode::kLeaf) throw fail(page, "the leaf chain leads to a page that is not a leaf");
        if (le32(p + format.indexPage.owner) != table_.firstPage) throw fail(page, "it belongs to another table");
        if (le32(p + format.indexPage.prev) != previousLeaf)
            throw fail(page, "its previous-page pointer does not name the leaf before it");
        IndexNode::forEachLeafEntry(format, p, page, where_,
                                    [&](const uint8_t* key, size_t keyLength, uint32_t dataPage, uint8_t row) {
            const uint32_t packed = dataPage << 8 | row;
            // Entries order by key, then by row.
            int c = 1;
            if (any) {
                const size_t common = std::min(previousLength, keyLength);
                c = common ? std::memcmp(key, previous, common) : 0;
                if (c == 0) c = keyLength == previousLength ? 0 : (keyLength > previousLength ? 1 : -1);
                if (c < 0 || (c == 0 && packed <= previousRow)) throw fail(page, "its entries are out of order");
            }
            if (c != 0) {
                if (rows.size() - runStart > 1) equalKeyRuns.emplace_back(runStart, rows.size());
                runStart = rows.size();
                std::memcpy(previous, key, keyLength);
                previousLength = keyLength;
            }
            previousRow = packed;
            any = true;
            rows.push_back(packed);
        });
        previousLeaf = page;
        page = le32(p + format.indexPage.next);
    }
    if (rows.size() - runStart > 1) equalKeyRuns.emplace_back(runStart, rows.size());
}

IndexNode IndexTree::nextLeaf(const IndexNode& leaf) const
{
    IndexNode next = loadChecked(leaf.next);
    if (!next.leaf)
        throw JetError(where_ + ": index page " + std::to_string(leaf.pageNumber) +
                       ": the next-page pointer leads out of the index's leaves");
    if (!leaf.entries.empty() && !next.entries.empty() && leaf.entries.back().compare(next.entries.front()) >= 0)
        throw JetError(where_ + ": index pages " + std::to_string(leaf.pageNumber) + " and " +
                       std::to_string(next.pageNumber) +
                       ": the entries are out of order; the index is damaged (jetdb check lists the damage)");
    return next;
}

IndexTree::Path IndexTree::descend(const IndexEntry& target) const
{
    Path path;
    uint32_t page = index_.rootPage;
    // The entry of the parent that names the page: the last key the page may hold.
    IndexEntry bound;
    bool bounded = false;
    for (int level = 0;; ++level) {
        if (level > 32) throw JetError(where_ + ": index page " + std::to_string(page) + ": the tree is too deep");
        IndexNode node = loadChecked(page);
        if (bounded && !node.entries.empty() && node.entries.back().compare(bound) > 0)
            throw JetError(where_ + ": index page " + std::to_string(page) +
                           ": it holds keys beyond its parent's entry; the index is damaged (jetdb check lists the "
                           "damage)");
        if (node.leaf) {
            path.nodes.push_back(std::move(node));
            return path;
        }
        size_t slot = 0;
        while (slot < node.entries.size() && node.entries[slot].compare(target) < 0) ++slot;
        uint32_t next;
        bounded = false;
        if (slot < node.entries.size()) {
            next = node.entries[slot].child;
            bound = node.entries[slot];
            bounded = true;
        } else if (node.tail) {
            next = node.tail;
        } else if (!node.entries.empty()) {
            next = node.entries[--slot].child;
            bound = node.entries[slot];
            bounded = true;
        } else {
            throw JetError(where_ + ": index page " + std::to_string(page) + " has no children");
        }
        path.slots.push_back(slot);
        path.nodes.push_back(std::move(node));
        page = next;
    }
}

void IndexTree::store(const IndexNode& node)
{
    node.encode(pager_.format(), pager_.modify(node.pageNumber));
}

// Whether the entry before position `before` or the one at `after` of a
// leaf (looking into the previous / next leaf at the ends) has `key`.
// Entries with one key are adjacent, so the direct neighbours decide.
bool IndexTree::neighbourHasKey(const IndexNode& leaf, size_t before, size_t after, const Bytes& key) const
{
    const auto& es = leaf.entries;
    if (before > 0) {
        if (es[before - 1].key == key) return true;
    } else if (leaf.prev) {
        IndexNode prev = load(leaf.prev);
        if (!prev.entries.empty() && prev.entries.back().key == key) return true;
    }
    if (after < es.size()) return es[after].key == key;
    if (leaf.next) {
        IndexNode next = load(leaf.next);
        if (!next.entries.empty() && next.entries.front().key == key) return true;
    }
    return false;
}

bool IndexTree::tryInPlace(const IndexEntry& entry, bool add, int64_t& distinctDelta)
{
    Path path = descend(entry);
    IndexNode& leaf = path.nodes.back();
    auto& es = leaf.entries;
    auto it = std::lower_bound(es.begin(), es.end(), entry, entryLess);
    size_t at = size_t(it - es.begin());
    if (!add && (it == es.end() || it->compare(entry) != 0))
        throw JetError(where_ + ": the index has no entry for the row at page " + std::to_string(entry.page) +
                       ", row " + std::to_string(entry.row) + " (index page " + std::to_string(leaf.pageNumber) + ")");
    // Added before `at`, or removed from `at`: the neighbours are at - 1 and
    // at (add) or at + 1 (remove).
    bool keyElsewhere = neighbourHasKey(leaf, at, add ? at : at + 1, entry.key);
    IndexEntry oldLast = es.empty() ? IndexEntry{} : es.back();
    bool hadEntries = !es.empty();
    if (add) {
        es.insert(it, entry);
        if (!leaf.fits(pager_.format())) return false;
    } else {
        es.erase(it);
        if (es.empty() && path.nodes.size() > 1) return false;
    }
    std::vector<IndexNode*> changed{&leaf};
    bool lastChanged = es.empty() || !hadEntries || es.back().compare(oldLast) != 0;
    // A changed last entry is the key the levels above hold for this page.
    for (size_t level = path.slots.size(); lastChanged && level-- > 0;) {
        IndexNode& parent = path.nodes[level];
        size_t slot = path.slots[level];
        const IndexEntry& newLast = path.nodes[level + 1].entries.back();
        bool isTail = slot >= parent.entries.size();
        bool isLastChild = isTail || (slot + 1 == parent.entries.size() && parent.tail == 0);
        if (!isTail) {
            IndexEntry& pe = parent.entries[slot];
            pe.key = newLast.key;
            pe.page = newLast.page;
            pe.row = newLast.row;
            if (!parent.fits(pager_.format())) return false;
            changed.push_back(&parent);
        }
        lastChanged = isLastChild;
    }
    for (IndexNode* n : changed) store(*n);
    if (!keyElsewhere) distinctDelta += add ? 1 : -1;
    return true;
}

IndexTree::Change IndexTree::apply(PendingEntries& removalsQueued, PendingEntries& additionsQueued, EntryRunFile* runs)
{
    constexpr size_t kInPlaceLimit = 64;
    const size_t total = removalsQueued.size() + additionsQueued.size();
    if (total > kInPlaceLimit || removalsQueued.spilled() || additionsQueued.spilled())
        return replaceEntries(removalsQueued.releaseSorted(runs), additionsQueued.releaseSorted(runs), runs);
    std::vector<IndexEntry> removals = removalsQueued.release();
    std::vector<IndexEntry> additions = additionsQueued.release();
    size_t done = 0;
    const size_t removalCount = removals.size();
    int64_t delta = 0;
    for (; done < total; ++done) {
        bool add = done >= removals.size();
        const IndexEntry& e = add ? additions[done - removals.size()] : removals[done];
        if (!tryInPlace(e, add, delta)) break;
    }
    if (done == total) {
        Change change;
        change.distinctDelta = delta;
        return change;
    }
    // The rest by a rewrite.
    removals.erase(removals.begin(), removals.begin() + long(std::min(done, removalCount)));
    std::sort(removals.begin(), removals.end(), entryLess);
    size_t addFrom = done > removalCount ? done - removalCount : 0;
    additions.erase(additions.begin(), additions.begin() + long(addFrom));
    std::sort(additions.begin(), additions.end(), entryLess);
    return replaceEntries(std::make_unique<VectorEntrySource>(std::move(removals)),
                          std::make_unique<VectorEntrySource>(std::move(additions)), runs);
}

IndexTree::Change IndexTree::replaceEntries(std::unique_ptr<EntrySource> removals,
                                            std::unique_ptr<EntrySource> additions, EntryRunFile* runs)
{
    // The tree's entries are read whole before the rewrite writes over its
    // pages: into a run when there is a file for them, else into memory.
    std::unique_ptr<EntrySource> current;
    if (runs) {
        std::unique_ptr<EntryRunFile::Writer> out = runs->write();
        forEachEntry([&](IndexEntry& e) { out->add(e, false); });
        current = runs->read(out->finish());
    } else {
        current = std::make_unique<VectorEntrySource>(entries());
    }
    std::vector<std::unique_ptr<EntrySource>> both;
    both.push_back(std::move(current));
    both.push_back(std::move(additions));
    AppliedEntries applied(
        std::make_unique<EntryMerge>(std::move(both)), std::move(removals),
        [&](const IndexEntry& e) {
            return JetError(where_ + ": the index has no entry for the row at page " + std::to_string(e.page) +
                            ", row " + std::to_string(e.row));
        },
        [&] {
            return JetError(location_ + ": the change would create a duplicate value in index '" +
                            table_.indexName(index_) + "', which allows each value once");
        });
    return rewrite(applied, runs);
}

IndexTree::Change IndexTree::rewrite(EntrySource& sorted, EntryRunFile* runs)
{
    Change change;
    change.recounted = true;
    std::vector<uint32_t> pool;
    for (uint32_t p : pages())
        if (p != index_.rootPage) pool.push_back(p);
    std::sort(pool.begin(), pool.end());
    size_t reused = 0;
    auto nextPage = [&] {
        if (reused < pool.size()) return pool[reused++];
        uint32_t p = pager_.allocate();
        change.allocated.push_back(p);
        return p;
    };
    const size_t capacity = pager_.format().indexCapacity();

    std::unique_ptr<EntrySource> above; // the entries of the level being built, but for the leaves
    for (bool leaves = true;; leaves = false) {
        EntrySource& input = leaves ? sorted : *above;
        LevelEntries up(runs);
        const size_t pointerSize = leaves ? 4 : 8;
        IndexNode node;
        node.leaf = leaves;
        node.owner = table_.firstPage;
        size_t nodes = 0; // written on this level
        size_t sum = 0;   // the node's entry bytes, no prefix shared
        Bytes lastKey;
        // A node is written once it is known whether another follows, and
        // that one's page.
        auto finish = [&](bool last) {
            if (last && nodes == 0) {
                node.pageNumber = index_.rootPage; // the top
            } else if (nodes == 0) {
                node.pageNumber = nextPage();
            }
            const uint32_t following = last ? 0 : nextPage();
            node.next = following;
            if (!(last && nodes == 0)) {
                IndexEntry e = node.entries.back();
                e.child = node.pageNumber;
                up.add(e);
            }
            // The rightmost intermediate page keeps its last child as the tail.
            if (last && !node.leaf && node.entries.size() >= 2) {
                node.tail = node.entries.back().child;
                node.entries.pop_back();
            }
            store(node);
            pager_.spillIfLarge();
            ++nodes;
            node.prev = node.pageNumber;
            node.pageNumber = following;
            node.entries.clear();
            sum = 0;
        };
        IndexEntry e;
        bool uniqueKey = false;
        while (input.next(e, uniqueKey)) {
            const size_t length = e.key.size() + pointerSize;
            if (length > capacity) throw JetError("an index key of " + std::to_string(e.key.size()) + " bytes is too long");
            if (!node.entries.empty()) {
                const size_t prefix = IndexNode::sharedPrefix(node.entries.front().key, e.key);
                if (sum + length - prefix * node.entries.size() > capacity) finish(false);
            }
            if (leaves && (change.distinctKeys == 0 || e.key != lastKey)) {
                ++change.distinctKeys;
                lastKey = e.key;
            }
            sum += length;
            node.entries.push_back(std::move(e));
        }
        const bool top = nodes == 0;
        finish(true);
        if (top) break;
        above = up.read();
    }
    change.released.assign(pool.begin() + long(reused), pool.end());
    return change;
}

bool indexKeyHoldsNull(const TableDef& def, const RealIndex& index, const std::vector<Value>& row)
{
    for (const IndexColumn& ic : index.columns) {
        size_t at = def.columnIndex(ic.columnNumber);
        if (at >= row.size() || isNull(row[at])) return true;
    }
    return false;
}

bool indexLeavesOutRow(const TableDef& def, const RealIndex& index, const std::vector<Value>& row)
{
    if (!index.ignoresNulls()) return false;
    for (const IndexColumn& ic : index.columns) {
        size_t at = def.columnIndex(ic.columnNumber);
        if (at < row.size() && !isNull(row[at])) return false;
    }
    return true;
}

std::optional<IndexEntry> indexEntryForRow(const TableDef& def, const RealIndex& index, const std::vector<Value>& row,
                                           uint32_t page, uint8_t slot)
{
    std::vector<Value> values;
    std::vector<IndexKeyColumn> columns;
    bool allNull = true;
    for (const IndexColumn& ic : index.columns) {
        size_t at = def.columnIndex(ic.columnNumber);
        if (at >= def.columns.size())
            throw JetError("table '" + def.name + "': an index names column number " + std::to_string(ic.columnNumber) +
                           ", which the table does not have");
        values.push_back(at < row.size() ? row[at] : Value{});
        if (!isNull(values.back())) allNull = false;
        columns.push_back(def.keyColumn(def.columns[at], ic.ascending));
    }
    if (allNull && index.ignoresNulls()) return std::nullopt;
    IndexEntry e;
    e.key = encodeIndexKey(values, columns);
    e.page = page;
    e.row = slot;
    return e;
}

} // namespace jet
