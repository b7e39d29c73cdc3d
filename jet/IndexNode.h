#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/Format.h"
#include "jet/Value.h"

namespace jet {

class Pager;

// One page of an index B-tree, decoded. Offsets are the format's
// (Format::indexPage); in Jet 4:
//
//   offset  size  meaning
//   0x00    1     page type: 0x03 intermediate, 0x04 leaf
//   0x01    1     0x01
//   0x02    2     free space
//   0x04    4     definition page of the table
//   0x08    4     unknown, 0
//   0x0C    4     previous page on this level (0 = none)
//   0x10    4     next page on this level (0 = none)
//   0x14    4     intermediate pages: the tail child, the last child, which
//                 has no entry of its own (0 = none)
//   0x18    2     length of the prefix shared by every entry's key
//   0x1A    1     unknown, 0
//   0x1B    453   bitmask over the entry area, lowest bit first: a set bit k
//                 marks the end of an entry at 0x1E0 + k
//   0x1E0   ...   entries; the first is stored whole, the others without the
//                 shared prefix
// Entry: key bytes, then the row it names: data page (3 bytes big-endian) and
// row (1 byte); intermediate entries add their child page (4 bytes
// big-endian). The key of an intermediate entry is the last key of its child.
struct IndexEntry {
    Bytes key;          // the encoded key, flag bytes included
    uint32_t page = 0;  // data page of the row
    uint8_t row = 0;    // row on that page
    uint32_t child = 0; // intermediate pages only

    // Entries order by key bytes, then by row location.
    int compare(const IndexEntry& other) const;
    bool sameRow(const IndexEntry& other) const { return page == other.page && row == other.row; }
};

struct IndexNode {
    static constexpr uint8_t kIntermediate = 0x03;
    static constexpr uint8_t kLeaf = 0x04;

    uint32_t pageNumber = 0;
    bool leaf = true;
    uint32_t owner = 0; // table definition page
    uint32_t prev = 0, next = 0;
    uint32_t tail = 0;  // intermediate: the tail child (not in entries)
    std::vector<IndexEntry> entries;

    // Throws JetError with `where` when the page is not an index page or its entries are damaged.
    static IndexNode decode(const Format& format, const uint8_t* page, uint32_t pageNumber, const std::string& where);
    // The prefix a page's entries share, from its first and last key: at
    // most 255 bytes, what Jet 3's one-byte field holds (a shorter prefix
    // than possible is always valid).
    static size_t sharedPrefix(const Bytes& first, const Bytes& last);
    // Bytes the entries take on a page (prefix compression applied).
    size_t encodedSize() const;
    bool fits(const Format& format) const { return encodedSize() <= format.indexCapacity(); }
    // Writes the node into a page buffer; the caller checks fits() first.
    void encode(const Format& format, uint8_t* page) const;
};

} // namespace jet
