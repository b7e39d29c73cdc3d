#include "jet/PendingEntries.h"

#include "jet/JetError.h"

#include <cstring>

namespace jet {

namespace {
uint32_t packedRow(const IndexEntry& e) { return (e.page << 8) | e.row; }
} // namespace

void PendingEntries::add(const IndexEntry& entry)
{
    if (keys_.size() + entry.key.size() > UINT32_MAX || refs_.size() >= UINT32_MAX || entry.key.size() > UINT16_MAX)
        throw JetError("one write changes more index entries than it can hold; write in several parts");
    uint32_t at = uint32_t(refs_.size());
    refs_.push_back(Ref{uint32_t(keys_.size()), packedRow(entry), uint16_t(entry.key.size()), true});
    keys_.insert(keys_.end(), entry.key.begin(), entry.key.end());
    if (indexed_) byRow_[packedRow(entry)] = at;
    ++live_;
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

std::vector<IndexEntry> PendingEntries::release()
{
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
