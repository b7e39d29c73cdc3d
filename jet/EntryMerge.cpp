#include "jet/EntryMerge.h"

#include <algorithm>

namespace jet {

EntryMerge::EntryMerge(std::vector<std::unique_ptr<EntrySource>> sources) : sources_(std::move(sources)) {}

bool EntryMerge::after(const Head& a, const Head& b)
{
    int c = a.entry.compare(b.entry);
    return c != 0 ? c > 0 : a.source > b.source;
}

void EntryMerge::pull(Head head)
{
    // The head's key buffer is reused for the source's next entry.
    if (!sources_[head.source]->next(head.entry, head.uniqueKey)) {
        sources_[head.source].reset(); // its buffers go as soon as it ends
        return;
    }
    heads_.push_back(std::move(head));
    std::push_heap(heads_.begin(), heads_.end(), after);
}

bool EntryMerge::next(IndexEntry& entry, bool& uniqueKey)
{
    if (!started_) {
        started_ = true;
        heads_.reserve(sources_.size());
        for (size_t i = 0; i < sources_.size(); ++i)
            if (sources_[i]) pull(Head{IndexEntry{}, false, i});
    }
    if (heads_.empty()) return false;
    std::pop_heap(heads_.begin(), heads_.end(), after);
    Head head = std::move(heads_.back());
    heads_.pop_back();
    std::swap(entry, head.entry);
    uniqueKey = head.uniqueKey;
    pull(std::move(head));
    return true;
}

} // namespace jet
