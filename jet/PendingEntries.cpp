#include "jet/PendingEntries.h"

#include "jet/JetError.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace jet {

namespace {
uint32_t packedRow(const IndexEntry& e) { return (e.page << 8) | e.row; }

size_t hashKey(const uint8_t* data, size_t size)
{
    return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data), size));
}
} // namespace

// The entries held, sorted, as a stream that owns them.
class PendingEntries::Sorted : public EntrySource {
public:
    Sorted(Bytes keys, std::vector<Ref> refs) : keys_(std::move(keys)), refs_(std::move(refs)) {}
    bool next(IndexEntry& entry, bool& uniqueKey) override
    {
        if (at_ == refs_.size()) {
            keys_ = Bytes();
            refs_ = std::vector<Ref>();
            at_ = 0;
            return false;
        }
        const Ref& r = refs_[at_++];
        entry.key.assign(keys_.begin() + r.offset, keys_.begin() + r.offset + r.size);
        entry.page = r.locator >> 8;
        entry.row = uint8_t(r.locator & 0xFF);
        entry.child = 0;
        uniqueKey = r.uniqueKey;
        return true;
    }

private:
    Bytes keys_;
    std::vector<Ref> refs_;
    size_t at_ = 0;
};

void PendingEntries::add(const IndexEntry& entry, bool uniqueKey)
{
    if (keys_.size() + entry.key.size() > UINT32_MAX || refs_.size() >= UINT32_MAX || entry.key.size() > UINT16_MAX)
        throw JetError("one write changes more index entries than it can hold; write in several parts");
    uint32_t at = uint32_t(refs_.size());
    refs_.push_back(Ref{uint32_t(keys_.size()), packedRow(entry), uint16_t(entry.key.size()), true, uniqueKey});
    keys_.insert(keys_.end(), entry.key.begin(), entry.key.end());
    if (indexed_) byRow_[packedRow(entry)] = at;
    ++live_;
    if (keyed_) {
        if ((keySlotsUsed_ + 1) * 2 > keySlots_.size()) rebuildKeySlots();
        else insertKeySlot(at);
    }
}

void PendingEntries::insertKeySlot(uint32_t ref)
{
    size_t mask = keySlots_.size() - 1;
    size_t h = hashKey(keys_.data() + refs_[ref].offset, refs_[ref].size) & mask;
    while (keySlots_[h]) h = (h + 1) & mask;
    keySlots_[h] = ref + 1;
    ++keySlotsUsed_;
}

void PendingEntries::rebuildKeySlots()
{
    size_t capacity = 16;
    while (capacity < (live_ + 1) * 4) capacity *= 2;
    keySlots_.assign(capacity, 0);
    keySlotsUsed_ = 0;
    for (uint32_t i = 0; i < refs_.size(); ++i)
        if (refs_[i].live) insertKeySlot(i);
}

bool PendingEntries::hasKey(const Bytes& key)
{
    if (live_ == 0) return false;
    if (!keyed_) {
        keyed_ = true;
        rebuildKeySlots();
    }
    size_t mask = keySlots_.size() - 1;
    for (size_t h = hashKey(key.data(), key.size()) & mask; keySlots_[h]; h = (h + 1) & mask) {
        const Ref& r = refs_[keySlots_[h] - 1];
        if (r.live && r.size == key.size() && (r.size == 0 || std::memcmp(keys_.data() + r.offset, key.data(), r.size) == 0))
            return true;
    }
    return false;
}

bool PendingEntries::matches(const Ref& ref, const IndexEntry& entry) const
{
    return ref.live && ref.locator == packedRow(entry) && ref.size == entry.key.size() &&
           (ref.size == 0 || std::memcmp(keys_.data() + ref.offset, entry.key.data(), ref.size) == 0);
}

bool PendingEntries::takeBack(const IndexEntry& entry)
{
    if (live_ == 0) return false;
    if (!indexed_) {
        byRow_.reserve(refs_.size());
        for (uint32_t i = 0; i < refs_.size(); ++i)
            if (refs_[i].live) byRow_[refs_[i].locator] = i;
        indexed_ = true;
    }
    auto it = byRow_.find(packedRow(entry));
    if (it == byRow_.end() || !matches(refs_[it->second], entry)) return false;
    refs_[it->second].live = false;
    byRow_.erase(it);
    --live_;
    return true;
}

size_t PendingEntries::memoryUse() const
{
    // A node of the map takes about its pair and two pointers; a bucket one
    // pointer. Room the vectors keep for more entries is not counted.
    return keys_.size() + refs_.size() * sizeof(Ref) + keySlots_.size() * sizeof(uint32_t) +
           byRow_.size() * (sizeof(std::pair<uint32_t, uint32_t>) + 2 * sizeof(void*)) +
           byRow_.bucket_count() * sizeof(void*);
}

void PendingEntries::sortLive()
{
    std::erase_if(refs_, [](const Ref& r) { return !r.live; });
    const uint8_t* keys = keys_.data();
    // The order of IndexEntry::compare: key bytes, then the row.
    std::sort(refs_.begin(), refs_.end(), [keys](const Ref& a, const Ref& b) {
        const size_t common = std::min(a.size, b.size);
        const int c = common ? std::memcmp(keys + a.offset, keys + b.offset, common) : 0;
        if (c != 0) return c < 0;
        if (a.size != b.size) return a.size < b.size;
        return a.locator < b.locator;
    });
}

void PendingEntries::spill(EntryRunFile& file)
{
    if (live_ == 0) {
        // Nothing came since the last spill: the buffers kept for reuse go.
        std::vector<EntryRunFile::Run> runs = std::move(runs_);
        const size_t count = spilledCount_;
        *this = PendingEntries();
        runs_ = std::move(runs);
        spilledCount_ = count;
        return;
    }
    sortLive();
    std::unique_ptr<EntryRunFile::Writer> out = file.write();
    IndexEntry entry;
    for (const Ref& r : refs_) {
        entry.key.assign(keys_.begin() + r.offset, keys_.begin() + r.offset + r.size);
        entry.page = r.locator >> 8;
        entry.row = uint8_t(r.locator & 0xFF);
        out->add(entry, r.uniqueKey);
    }
    runs_.push_back(out->finish());
    spilledCount_ += live_;
    // The buffers stay for the entries to come: growing them anew after
    // every spill leaves the memory allocator holes it cannot give back.
    live_ = 0;
    keys_.clear();
    refs_.clear();
    byRow_.clear();
    indexed_ = false;
    keySlots_.clear();
    keySlotsUsed_ = 0;
    keyed_ = false;
}

std::unique_ptr<EntrySource> PendingEntries::releaseSorted(EntryRunFile* file)
{
    sortLive();
    std::unique_ptr<EntrySource> held = std::make_unique<Sorted>(std::move(keys_), std::move(refs_));
    std::vector<EntryRunFile::Run> runs = std::move(runs_);
    *this = PendingEntries();
    if (runs.empty()) return held;
    if (!file) throw JetError("internal error: index entries were sorted out to a file that is gone");
    return file->merge(std::move(runs), std::move(held));
}

std::vector<IndexEntry> PendingEntries::release()
{
    if (spilled()) throw JetError("internal error: index entries sorted out to a file taken back as a list");
    std::vector<IndexEntry> out;
    out.reserve(live_);
    for (const Ref& r : refs_) {
        if (!r.live) continue;
        IndexEntry e;
        e.key.assign(keys_.begin() + r.offset, keys_.begin() + r.offset + r.size);
        e.page = r.locator >> 8;
        e.row = uint8_t(r.locator & 0xFF);
        out.push_back(std::move(e));
    }
    *this = PendingEntries();
    return out;
}

} // namespace jet
