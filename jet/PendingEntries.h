#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "jet/EntryRunFile.h"
#include "jet/IndexNode.h"

namespace jet {

// Index entries a write transaction adds (or removes) until the flush. A
// transaction may add a million of them: their keys share one buffer, which
// takes about a third of what as many IndexEntry objects take. An entry can
// be taken back by its row (a row added or changed, then changed or deleted
// in the same transaction) without searching the others.
//
// A build that outgrows its memory sorts the entries held into a run of a
// temporary file (spill); they leave memory, and takeBack and hasKey no
// longer see them: a row's entry that cannot be taken back is removed at
// the flush instead, and a duplicate of a unique key is found when the
// flush merges the runs (see `uniqueKey`).
class PendingEntries {
public:
    // `uniqueKey`: the entry belongs to a unique index and its key holds no
    // null, so that no other entry may have its key.
    void add(const IndexEntry& entry, bool uniqueKey = false);
    // Takes back the entry of `entry`'s row when it is here (not spilled)
    // with the same key; false when it is not.
    bool takeBack(const IndexEntry& entry);
    // Whether an entry not taken back and not spilled has this key (for the
    // checks of a unique index).
    bool hasKey(const Bytes& key);
    bool empty() const { return size() == 0; }
    size_t size() const { return live_ + spilledCount_; }
    bool spilled() const { return !runs_.empty(); }
    // About the bytes the entries take in memory (their buffers may hold
    // up to as much again in room for more).
    size_t memoryUse() const;
    // Sorts the entries held into a run of `file` and lets go of them,
    // keeping their buffers for the entries to come unless none came since
    // the last spill.
    void spill(EntryRunFile& file);
    // The entries not taken back, in the order added; leaves this empty.
    // Only for entries that were never spilled.
    std::vector<IndexEntry> release();
    // Every entry, spilled ones too, in index order; leaves this empty.
    // `file` is where they were spilled (may be null when none were).
    std::unique_ptr<EntrySource> releaseSorted(EntryRunFile* file);

private:
    struct Ref {
        uint32_t offset;  // of the key in keys_
        uint32_t locator; // RowLocator::packed() of the row
        uint16_t size;    // key bytes
        bool live;
        bool uniqueKey;
    };
    class Sorted;
    bool matches(const Ref& ref, const IndexEntry& entry) const;
    // Drops the entries taken back and sorts the others in index order.
    void sortLive();
    void rebuildKeySlots();
    void insertKeySlot(uint32_t ref);

    Bytes keys_;
    std::vector<Ref> refs_;
    // Row -> its latest entry in refs_; built on the first takeBack, so
    // that inserts alone never pay for it.
    std::unordered_map<uint32_t, uint32_t> byRow_;
    bool indexed_ = false;
    // Open addressing over refs_ by key (ref + 1; 0 = free), at most half
    // full; built on the first hasKey. Taken-back entries stay until the
    // table grows.
    std::vector<uint32_t> keySlots_;
    size_t keySlotsUsed_ = 0;
    bool keyed_ = false;
    size_t live_ = 0;
    std::vector<EntryRunFile::Run> runs_;
    size_t spilledCount_ = 0;
};

} // namespace jet
