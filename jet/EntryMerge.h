#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "jet/EntrySource.h"

namespace jet {

// Sorted sources of index entries merged into one stream in index order
// (entries that compare equal come in the order of their sources). Holds one
// entry of each source.
class EntryMerge : public EntrySource {
public:
    explicit EntryMerge(std::vector<std::unique_ptr<EntrySource>> sources);
    bool next(IndexEntry& entry, bool& uniqueKey) override;

private:
    struct Head {
        IndexEntry entry;
        bool uniqueKey = false;
        size_t source = 0;
    };
    // A min-heap: whether `a` comes after `b`.
    static bool after(const Head& a, const Head& b);
    void pull(Head head);

    std::vector<std::unique_ptr<EntrySource>> sources_;
    std::vector<Head> heads_;
    bool started_ = false;
};

} // namespace jet
