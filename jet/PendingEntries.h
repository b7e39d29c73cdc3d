#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "jet/IndexNode.h"

namespace jet {

// Index entries a write transaction adds (or removes) until the flush. A
// transaction may add a million of them: their keys share one buffer, which
// takes about a third of what as many IndexEntry objects take. An entry can
// be taken back by its row (a row added or changed, then changed or deleted
// in the same transaction) without searching the others.
class PendingEntries {
public:
    void add(const IndexEntry& entry);
    // Takes back the entry of `entry`'s row when it is here with the same
    // key; false when it is not.
    bool takeBack(const IndexEntry& entry);
    // Whether an entry not taken back has this key (for the checks of a
    // unique index).
    bool hasKey(const Bytes& key);
    bool empty() const { return live_ == 0; }
    size_t size() const { return live_; }
    // The entries not taken back, in the order added; leaves this empty.
    std::vector<IndexEntry> release();

private:
    struct Ref {
        uint32_t offset;  // of the key in keys_
        uint32_t locator; // RowLocator::packed() of the row
        uint16_t size;    // key bytes
        bool live;
    };
    bool matches(const Ref& ref, const IndexEntry& entry) const;
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
};

} // namespace jet
