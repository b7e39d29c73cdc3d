#pragma once
#include "jet/IndexNode.h"

namespace jet {

// Index entries in index order, one at a time: what builds a tree without
// holding all of its entries (a sorted run in a file, a merge of runs, a
// tree's own entries).
class EntrySource {
public:
    virtual ~EntrySource() = default;
    // The next entry, or false at the end. `uniqueKey` tells an entry a
    // transaction added to a unique index with a key that holds no null:
    // two such entries with one key are a duplicate that the write's own
    // check could not see (their keys were sorted out to a file).
    virtual bool next(IndexEntry& entry, bool& uniqueKey) = 0;
};

} // namespace jet
