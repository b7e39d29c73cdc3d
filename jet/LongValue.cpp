#include "jet/LongValue.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/JetError.h"
#include "jet/Pager.h"

#include <algorithm>
#include <set>

namespace jet::LongValue {

namespace {
const uint8_t* lvalRow(Pager& pager, uint32_t pointer, PageRef& keep, DataPage::Slot& slot, const std::string& where)
{
    uint32_t pageNo = DataPage::pointerPage(pointer);
    if (pageNo == 0 || pageNo >= pager.pageCount())
        throw JetError(where + ": a long value points at page " + std::to_string(pageNo) + ", which does not exist");
    keep = pager.read(pageNo);
    slot = DataPage::slot(pager.format(), keep->data, DataPage::pointerRow(pointer), pageNo, pager.path());
    if (DataPage::owner(pager.format(), keep->data) != DataPage::kLongValueOwner)
        throw JetError(where + ": a long value points at page " + std::to_string(pageNo) +
                       ", which is not a long value page");
    if (slot.deleted())
        throw JetError(where + ": a long value points at a deleted row (page " + std::to_string(pageNo) + ")");
    return keep->data + slot.start;
}

template <typename Visit>
void walk(Pager& pager, const uint8_t* ref, size_t available, const std::string& where, Visit visit)
{
    if (available < kReferenceSize) throw JetError(where + ": a long value reference is cut short");
    uint32_t length = le32(ref) & 0x3FFFFFFFu;
    uint8_t kind = ref[3] & 0xC0;
    uint32_t pointer = le32(ref + 4);
    if (kind & kInline) {
        if (length > available - kReferenceSize)
            throw JetError(where + ": an inline long value is longer than its row");
        visit(0u, ref + kReferenceSize, size_t(length));
        return;
    }
    if (kind & kSingleRow) {
        PageRef keep;
        DataPage::Slot slot;
        const uint8_t* row = lvalRow(pager, pointer, keep, slot, where);
        if (slot.size() < length) throw JetError(where + ": a long value row is shorter than its length");
        visit(pointer, row, size_t(length));
        return;
    }
    if (kind != kChained) throw JetError(where + ": a long value has an unknown kind " + std::to_string(kind));
    std::set<uint32_t> seen;
    size_t remaining = length;
    while (pointer != 0 && remaining > 0) {
        if (!seen.insert(pointer).second) throw JetError(where + ": a long value's page chain forms a cycle");
        PageRef keep;
        DataPage::Slot slot;
        const uint8_t* row = lvalRow(pager, pointer, keep, slot, where);
        if (slot.size() < 4) throw JetError(where + ": a long value row is cut short");
        size_t part = std::min(remaining, slot.size() - 4);
        visit(pointer, row + 4, part);
        remaining -= part;
        pointer = le32(row);
    }
    if (remaining > 0) throw JetError(where + ": a long value's page chain ends early");
}
} // namespace

Bytes read(Pager& pager, const uint8_t* reference, size_t available, const std::string& where)
{
    Bytes out;
    out.reserve(std::min<size_t>(le32(reference) & 0x3FFFFFFFu, 1u << 24));
    walk(pager, reference, available, where,
         [&](uint32_t, const uint8_t* data, size_t n) { out.insert(out.end(), data, data + n); });
    return out;
}

std::vector<uint32_t> rowPointers(Pager& pager, const uint8_t* reference, size_t available, const std::string& where)
{
    std::vector<uint32_t> out;
    walk(pager, reference, available, where, [&](uint32_t pointer, const uint8_t*, size_t) {
        if (pointer) out.push_back(pointer);
    });
    return out;
}

namespace {
// An LVAL page with room for a row of `size` bytes: the one last used, or a new one.
uint32_t pageWithRoom(Pager& pager, uint32_t& page, size_t size)
{
    const Format& f = pager.format();
    if (page != 0 && page < pager.pageCount()) {
        PageRef current = pager.read(page);
        if (DataPage::isOwnedBy(f, current->data, DataPage::kLongValueOwner) &&
            DataPage::hasRoomFor(f, current->data, size))
            return page;
    }
    page = pager.allocate();
    DataPage::init(f, pager.modify(page), DataPage::kLongValueOwner);
    return page;
}
} // namespace

Bytes write(Pager& pager, const Bytes& value, uint32_t& page, const std::string& where)
{
    const Format& f = pager.format();
    Bytes reference(kReferenceSize, 0);
    // The length shares its 32 bits with the kind's flag bits: readers take
    // 24 bits of it, so a longer value would read back empty or damaged.
    if (value.size() > kMaxLength)
        throw JetError(where + ": the value is " + std::to_string(value.size()) +
                       " bytes long; a memo or OLE value in an Access file holds at most " +
                       std::to_string(kMaxLength) + " bytes (16 MB)");
    if (value.size() <= f.maxInlineLongValue) {
        put32(reference.data(), uint32_t(value.size()) | (uint32_t(kInline) << 24));
        reference.insert(reference.end(), value.begin(), value.end());
        return reference;
    }
    // LVAL rows, written back to front so that each knows the next.
    const size_t partSize = f.maxLongValueRow();
    const size_t parts = (value.size() + partSize - 1) / partSize;
    const bool single = parts == 1;
    uint32_t next = 0;
    for (size_t k = parts; k-- > 0;) {
        size_t from = k * partSize;
        size_t n = std::min(partSize, value.size() - from);
        Bytes row;
        if (!single) {
            row.resize(4);
            put32(row.data(), next);
        }
        row.insert(row.end(), value.begin() + long(from), value.begin() + long(from + n));
        uint32_t p = pageWithRoom(pager, page, row.size());
        unsigned slot = DataPage::append(f, pager.modify(p), row.data(), row.size(), 0);
        next = DataPage::makeRowPointer(p, slot);
    }
    put32(reference.data(), uint32_t(value.size()) | (uint32_t(single ? kSingleRow : kChained) << 24));
    put32(reference.data() + 4, next);
    return reference;
}

void release(Pager& pager, const uint8_t* reference, size_t available, const std::string& where)
{
    for (uint32_t pointer : rowPointers(pager, reference, available, where)) {
        uint32_t p = DataPage::pointerPage(pointer);
        unsigned r = DataPage::pointerRow(pointer);
        uint8_t* page = pager.modify(p);
        if (r < DataPage::rowCount(pager.format(), page))
            DataPage::replace(pager.format(), page, r, nullptr, 0, DataPage::kDeletedFlags);
    }
}

} // namespace jet::LongValue
