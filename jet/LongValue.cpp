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
    slot = DataPage::slot(keep->data, DataPage::pointerRow(pointer), pageNo, pager.path());
    if (le32(keep->data + DataPage::kOwnerOffset) != DataPage::kLongValueOwner)
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

} // namespace jet::LongValue
