#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
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
    [[noreturn]] static void throwEntryError(const std::string& where, uint32_t pageNumber, const std::string& what);
    // The entries of a leaf page in page order without decoding them into
    // nodes: visit(key, keyLength, dataPage, row) sees each key rebuilt in a
    // buffer that the next entry reuses. For walks over whole indexes, where
    // a node per page would cost an allocation per entry. Throws as decode.
    template <typename Visit>
    static void forEachLeafEntry(const Format& format, const uint8_t* page, uint32_t pageNumber,
                                 const std::string& where, Visit&& visit);
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

template <typename Visit>
void IndexNode::forEachLeafEntry(const Format& f, const uint8_t* p, uint32_t pageNumber, const std::string& where,
                                 Visit&& visit)
{
    const Format::IndexPageLayout& layout = f.indexPage;
    const size_t prefix = layout.prefixLengthSize == 2 ? size_t(p[layout.prefixLength] | p[layout.prefixLength + 1] << 8)
                                                       : p[layout.prefixLength];
    uint8_t full[kMaxPageSize];
    size_t start = 0;
    bool first = true;
    for (size_t byte = 0; byte < layout.maskSize; ++byte) {
        for (unsigned bits = p[layout.mask + byte]; bits != 0; bits &= bits - 1) {
            const size_t end = byte * 8 + size_t(std::countr_zero(bits));
            if (layout.entries + end > f.pageSize)
                throwEntryError(where, pageNumber, "an entry runs past the end of the page");
            const uint8_t* e = p + layout.entries + start;
            const size_t len = end - start;
            size_t size;
            if (first) {
                if (prefix > len) throwEntryError(where, pageNumber, "the shared prefix is longer than the first entry");
                std::memcpy(full, e, len);
                size = len;
                first = false;
            } else {
                std::memcpy(full + prefix, e, len);
                size = prefix + len;
            }
            if (size < 5) throwEntryError(where, pageNumber, "an entry is too short");
            const size_t keyLen = size - 4;
            visit(static_cast<const uint8_t*>(full), keyLen,
                  uint32_t(full[keyLen]) << 16 | uint32_t(full[keyLen + 1]) << 8 | full[keyLen + 2], full[keyLen + 3]);
            start = end;
        }
    }
}

} // namespace jet
