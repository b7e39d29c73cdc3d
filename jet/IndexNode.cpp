#include "jet/IndexNode.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {
size_t commonPrefix(const Bytes& a, const Bytes& b)
{
    size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}
} // namespace

size_t IndexNode::sharedPrefix(const Bytes& a, const Bytes& b) { return std::min<size_t>(commonPrefix(a, b), 0xFF); }

int IndexEntry::compare(const IndexEntry& o) const
{
    size_t n = std::min(key.size(), o.key.size());
    int c = n ? std::memcmp(key.data(), o.key.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    if (key.size() != o.key.size()) return key.size() < o.key.size() ? -1 : 1;
    uint32_t a = (page << 8) | row, b = (o.page << 8) | o.row;
    return a < b ? -1 : (a > b ? 1 : 0);
}

void IndexNode::throwEntryError(const std::string& where, uint32_t pageNumber, const std::string& what)
{
    throw JetError(where + ": index page " + std::to_string(pageNumber) + ": " + what);
}

IndexNode IndexNode::decode(const Format& f, const uint8_t* p, uint32_t pageNumber, const std::string& where)
{
    const Format::IndexPageLayout& layout = f.indexPage;
    auto fail = [&](const std::string& what) {
        return JetError(where + ": index page " + std::to_string(pageNumber) + ": " + what);
    };
    IndexNode n;
    n.pageNumber = pageNumber;
    if (p[0] != kLeaf && p[0] != kIntermediate) throw fail("not an index page (type " + std::to_string(p[0]) + ")");
    n.leaf = p[0] == kLeaf;
    n.owner = le32(p + layout.owner);
    n.prev = le32(p + layout.prev);
    n.next = le32(p + layout.next);
    n.tail = n.leaf ? 0 : le32(p + layout.tail);
    size_t prefix = layout.prefixLengthSize == 2 ? le16(p + layout.prefixLength) : p[layout.prefixLength];
    size_t pointerSize = n.leaf ? 4 : 8;
    size_t start = 0;
    Bytes first;
    for (size_t bit = 0; bit < layout.maskSize * 8; ++bit) {
        if (!(p[layout.mask + bit / 8] & (1 << (bit % 8)))) continue;
        size_t end = bit;
        if (layout.entries + end > f.pageSize) throw fail("an entry runs past the end of the page");
        const uint8_t* e = p + layout.entries + start;
        size_t len = end - start;
        Bytes full;
        if (n.entries.empty()) {
            full.assign(e, e + len);
            if (prefix > len) throw fail("the shared prefix is longer than the first entry");
        } else {
            full.reserve(prefix + len);
            full.assign(first.begin(), first.begin() + long(prefix));
            full.insert(full.end(), e, e + len);
        }
        if (full.size() < pointerSize + 1) throw fail("an entry is too short");
        IndexEntry entry;
        size_t keyLen = full.size() - pointerSize;
        entry.page = be24(&full[keyLen]);
        entry.row = full[keyLen + 3];
        if (!n.leaf) entry.child = be32(&full[keyLen + 4]);
        if (n.entries.empty()) first = full;
        full.resize(keyLen);
        entry.key = std::move(full);
        n.entries.push_back(std::move(entry));
        start = end;
    }
    return n;
}

size_t IndexNode::encodedSize() const
{
    if (entries.empty()) return 0;
    size_t prefix = sharedPrefix(entries.front().key, entries.back().key);
    size_t pointerSize = leaf ? 4 : 8;
    size_t total = 0;
    for (const IndexEntry& e : entries) total += e.key.size() + pointerSize;
    return total - prefix * (entries.size() - 1);
}

void IndexNode::encode(const Format& f, uint8_t* p) const
{
    const Format::IndexPageLayout& layout = f.indexPage;
    std::memset(p, 0, f.pageSize);
    p[0] = leaf ? kLeaf : kIntermediate;
    p[1] = 0x01;
    put32(p + layout.owner, owner);
    put32(p + layout.prev, prev);
    put32(p + layout.next, next);
    put32(p + layout.tail, leaf ? 0 : tail);
    size_t prefix = entries.empty() ? 0 : sharedPrefix(entries.front().key, entries.back().key);
    if (layout.prefixLengthSize == 2) put16(p + layout.prefixLength, uint16_t(prefix));
    else p[layout.prefixLength] = uint8_t(prefix);
    size_t pos = 0;
    bool firstEntry = true;
    for (const IndexEntry& e : entries) {
        size_t skip = firstEntry ? 0 : prefix;
        uint8_t* out = p + layout.entries + pos;
        if (e.key.size() > skip) std::memcpy(out, e.key.data() + skip, e.key.size() - skip);
        size_t o = e.key.size() - skip;
        putBe24(out + o, e.page);
        out[o + 3] = e.row;
        o += 4;
        if (!leaf) {
            putBe32(out + o, e.child);
            o += 4;
        }
        pos += o;
        p[layout.mask + pos / 8] |= uint8_t(1 << (pos % 8));
        firstEntry = false;
    }
    put16(p + layout.freeSpace, uint16_t(f.indexCapacity() - pos));
}

} // namespace jet
