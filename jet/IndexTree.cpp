#include "jet/IndexTree.h"

#include "jet/ByteOrder.h"
#include "jet/IndexKey.h"
#include "jet/JetError.h"
#include "jet/Pager.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_set>

namespace jet {

namespace {


bool entryLess(const IndexEntry& a, const IndexEntry& b) { return a.compare(b) < 0; }

// Where each page-sized group of sorted entries starts, filling each page
// (the first start is 0; no entries give one empty group).
std::vector<size_t> packBounds(const std::vector<IndexEntry>& entries, bool leaf, size_t capacity)
{
    const size_t pointerSize = leaf ? 4 : 8;
    std::vector<size_t> starts{0};
    size_t sum = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        size_t len = e.key.size() + pointerSize;
        if (len > capacity) throw JetError("an index key of " + std::to_string(e.key.size()) + " bytes is too long");
        size_t count = i - starts.back(); // entries in the current group
        if (count > 0) {
            size_t prefix = IndexNode::sharedPrefix(entries[starts.back()].key, e.key);
            if (sum + len - prefix * count > capacity) {
                starts.push_back(i);
                sum = 0;
            }
        }
        sum += len;
    }
    return starts;
}

// The groups themselves.
std::vector<std::vector<IndexEntry>> pack(std::vector<IndexEntry> entries, bool leaf, size_t capacity)
{
    std::vector<size_t> starts = packBounds(entries, leaf, capacity);
    std::vector<std::vector<IndexEntry>> groups;
    for (size_t g = 0; g < starts.size(); ++g) {
        auto from = entries.begin() + long(starts[g]);
        auto to = g + 1 < starts.size() ? entries.begin() + long(starts[g + 1]) : entries.end();
        groups.emplace_back(std::make_move_iterator(from), std::make_move_iterator(to));
    }
    return groups;
}

} // namespace

IndexTree::IndexTree(Pager& pager, const TableDef& table, const RealIndex& index, std::string where)
    : pager_(pager), table_(table), index_(index), where_(std::move(where) + ", index '" + table.indexName(index) + "'")
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

IndexTree::Change IndexTree::apply(std::vector<IndexEntry> removals, std::vector<IndexEntry> additions)
{
    constexpr size_t kInPlaceLimit = 64;
    size_t done = 0;
    const size_t removalCount = removals.size();
    const size_t total = removalCount + additions.size();
    int64_t delta = 0;
    if (total <= kInPlaceLimit) {
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
    }
    // The rest by a rewrite: the tree's entries, streamed, less the removals
    // and merged with the additions into one vector (a big index has no room
    // for copies).
    auto noEntry = [&](const IndexEntry& e) {
        return JetError(where_ + ": the index has no entry for the row at page " + std::to_string(e.page) + ", row " +
                        std::to_string(e.row));
    };
    removals.erase(removals.begin(), removals.begin() + long(std::min(done, removalCount)));
    std::sort(removals.begin(), removals.end(), entryLess);
    size_t addFrom = done > removalCount ? done - removalCount : 0;
    additions.erase(additions.begin(), additions.begin() + long(addFrom));
    std::sort(additions.begin(), additions.end(), entryLess);
    std::vector<IndexEntry> all;
    // The table's row count (already counting this write) is about the size
    // of the result; a damaged count cannot exceed what the file's pages hold.
    all.reserve(std::max(additions.size(), std::min<size_t>(table_.rowCount, size_t(pager_.pageCount()) * 256)));
    size_t g = 0, a = 0;
    forEachEntry([&](IndexEntry& e) {
        if (g < removals.size()) {
            int c = removals[g].compare(e);
            if (c < 0) throw noEntry(removals[g]);
            if (c == 0) {
                ++g;
                return;
            }
        }
        while (a < additions.size() && additions[a].compare(e) < 0) all.push_back(std::move(additions[a++]));
        all.push_back(std::move(e));
    });
    if (g < removals.size()) throw noEntry(removals[g]);
    removals = std::vector<IndexEntry>();
    while (a < additions.size()) all.push_back(std::move(additions[a++]));
    additions = std::vector<IndexEntry>();
    return rewrite(std::move(all));
}

IndexTree::Change IndexTree::rewrite(std::vector<IndexEntry> sorted)
{
    Change change;
    change.recounted = true;
    for (size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key) ++change.distinctKeys;
    std::vector<uint32_t> old = pages();
    // Build the levels bottom-up with provisional node ids, then give the
    // top node the root page (the definition names it) and the others the
    // tree's old pages, then new ones.
    struct Built {
        IndexNode node;
        std::vector<size_t> children; // ids of child nodes, aligned with entries (+ tail last)
    };
    // Leaves stay ranges of `sorted` until they are written, one at a time,
    // so that their entries are never held twice.
    std::vector<size_t> leafStart = packBounds(sorted, true, pager_.format().indexCapacity());
    const size_t leafCount = leafStart.size();
    leafStart.push_back(sorted.size());
    std::vector<Built> nodes(leafCount);
    std::vector<size_t> level;
    std::vector<std::pair<size_t, size_t>> levels; // [first, last + 1) node ids of each level
    for (size_t id = 0; id < leafCount; ++id) level.push_back(id);
    levels.emplace_back(0, leafCount);
    while (level.size() > 1) {
        std::vector<IndexEntry> up;
        up.reserve(level.size());
        for (size_t id : level) {
            IndexEntry e = id < leafCount ? sorted[leafStart[id + 1] - 1] : nodes[id].node.entries.back();
            e.child = uint32_t(id); // provisional: the node id
            up.push_back(std::move(e));
        }
        std::vector<size_t> next;
        auto groups = pack(std::move(up), false, pager_.format().indexCapacity());
        for (size_t gi = 0; gi < groups.size(); ++gi) {
            Built b;
            b.node.leaf = false;
            b.node.entries = std::move(groups[gi]);
            for (const IndexEntry& e : b.node.entries) b.children.push_back(e.child);
            next.push_back(nodes.size());
            nodes.push_back(std::move(b));
        }
        levels.emplace_back(next.front(), next.back() + 1);
        level = std::move(next);
    }
    // Page numbers: the top node last built is the root.
    std::vector<uint32_t> pageOf(nodes.size());
    size_t reuse = 0;
    std::vector<uint32_t> pool;
    for (uint32_t p : old)
        if (p != index_.rootPage) pool.push_back(p);
    std::sort(pool.begin(), pool.end());
    for (size_t id = 0; id < nodes.size(); ++id) {
        if (id + 1 == nodes.size()) pageOf[id] = index_.rootPage;
        else if (reuse < pool.size()) pageOf[id] = pool[reuse++];
        else {
            pageOf[id] = pager_.allocate();
            change.allocated.push_back(pageOf[id]);
        }
    }
    change.released.assign(pool.begin() + long(reuse), pool.end());
    // Links: previous/next along each level, children, tails.
    for (size_t id = 0; id < nodes.size(); ++id) {
        IndexNode& n = nodes[id].node;
        n.pageNumber = pageOf[id];
        n.owner = table_.firstPage;
        for (size_t i = 0; i < n.entries.size(); ++i)
            if (!n.leaf) n.entries[i].child = pageOf[nodes[id].children[i]];
    }
    for (auto [start, end] : levels) {
        for (size_t id = start; id < end; ++id) {
            IndexNode& n = nodes[id].node;
            n.prev = id > start ? pageOf[id - 1] : 0;
            n.next = id + 1 < end ? pageOf[id + 1] : 0;
        }
        // The rightmost intermediate page keeps its last child as the tail.
        IndexNode& last = nodes[end - 1].node;
        if (!last.leaf && last.entries.size() >= 2) {
            last.tail = last.entries.back().child;
            last.entries.pop_back();
        }
    }
    for (size_t id = 0; id < nodes.size(); ++id) {
        IndexNode& n = nodes[id].node;
        if (id < leafCount)
            n.entries.assign(std::make_move_iterator(sorted.begin() + long(leafStart[id])),
                             std::make_move_iterator(sorted.begin() + long(leafStart[id + 1])));
        store(n);
        if (id < leafCount) n.entries = std::vector<IndexEntry>();
    }
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
