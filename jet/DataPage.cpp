#include "jet/DataPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"

#include <algorithm>
#include <cstring>

namespace jet::DataPage {

namespace {
uint16_t rawSlotWord(const Format& f, const uint8_t* page, unsigned row)
{
    return le16(page + f.dataPage.slotTable + size_t(row) * 2);
}

// Where the lowest row starts (the page end when there is none).
size_t lowestRow(const Format& f, const uint8_t* page)
{
    unsigned count = rowCount(f, page);
    return count == 0 ? f.pageSize : (rawSlotWord(f, page, count - 1) & kOffsetMask);
}

void setFreeSpace(const Format& f, uint8_t* page) { put16(page + f.dataPage.freeSpace, uint16_t(freeSpace(f, page))); }
} // namespace

unsigned rowCount(const Format& f, const uint8_t* page) { return le16(page + f.dataPage.rowCount); }

uint32_t owner(const Format& f, const uint8_t* page) { return le32(page + f.dataPage.owner); }

bool isOwnedBy(const Format& f, const uint8_t* page, uint32_t ownerPage)
{
    return page[0] == kType && owner(f, page) == ownerPage;
}

Slot slot(const Format& f, const uint8_t* page, unsigned row, uint32_t pageNumber, const std::string& fileName)
{
    auto fail = [&](const std::string& what) {
        return JetError("'" + fileName + "': data page " + std::to_string(pageNumber) + ", row " +
                        std::to_string(row) + ": " + what);
    };
    if (page[0] != kType) throw fail("the page is not a data page (type " + std::to_string(page[0]) + ")");
    unsigned count = rowCount(f, page);
    if (count > kMaxRows || f.dataPage.slotTable + size_t(count) * 2 > f.pageSize) throw fail("the row count is damaged");
    if (row >= count) throw fail("no such row (the page has " + std::to_string(count) + ")");
    Slot s;
    s.raw = rawSlotWord(f, page, row);
    s.start = s.raw & kOffsetMask;
    s.end = row == 0 ? f.pageSize : (rawSlotWord(f, page, row - 1) & kOffsetMask);
    if (s.deleted()) {
        s.end = s.start < s.end ? s.end : s.start;
        if (s.start > f.pageSize) throw fail("the row offset lies past the page end");
        return s;
    }
    size_t slotsEnd = f.dataPage.slotTable + size_t(count) * 2;
    if (s.start < slotsEnd || s.start > s.end || s.end > f.pageSize)
        throw fail("the row offsets are damaged (" + std::to_string(s.start) + ".." + std::to_string(s.end) + ")");
    return s;
}

void init(const Format& f, uint8_t* page, uint32_t ownerPage)
{
    std::memset(page, 0, f.pageSize);
    page[0] = kType;
    page[1] = 0x01;
    put32(page + f.dataPage.owner, ownerPage);
    setFreeSpace(f, page);
}

Slot rawSlot(const Format& f, const uint8_t* page, unsigned row)
{
    Slot s;
    s.raw = rawSlotWord(f, page, row);
    s.start = s.raw & kOffsetMask;
    size_t end = row == 0 ? f.pageSize : (rawSlotWord(f, page, row - 1) & kOffsetMask);
    s.end = std::max(s.start, end);
    return s;
}

size_t freeSpace(const Format& f, const uint8_t* page)
{
    size_t lowest = lowestRow(f, page);
    size_t slotsEnd = f.dataPage.slotTable + size_t(rowCount(f, page)) * 2;
    return lowest > slotsEnd ? lowest - slotsEnd : 0;
}

bool hasRoomFor(const Format& f, const uint8_t* page, size_t size)
{
    return rowCount(f, page) < kMaxRows && freeSpace(f, page) >= size + 2;
}

unsigned append(const Format& f, uint8_t* page, const uint8_t* bytes, size_t size, uint16_t flags)
{
    unsigned count = rowCount(f, page);
    size_t start = lowestRow(f, page) - size;
    if (size) std::memcpy(page + start, bytes, size);
    put16(page + f.dataPage.slotTable + size_t(count) * 2, uint16_t(flags | start));
    put16(page + f.dataPage.rowCount, uint16_t(count + 1));
    setFreeSpace(f, page);
    return count;
}

void replace(const Format& f, uint8_t* page, unsigned row, const uint8_t* bytes, size_t size, uint16_t flags)
{
    unsigned count = rowCount(f, page);
    Slot s = rawSlot(f, page, row);
    size_t lowest = std::min(lowestRow(f, page), s.start);
    ptrdiff_t shift = ptrdiff_t(s.size()) - ptrdiff_t(size); // rows below move up by this much
    if (shift != 0) {
        std::memmove(page + lowest + shift, page + lowest, s.start - lowest);
        for (unsigned j = row + 1; j < count; ++j) {
            uint8_t* word = page + f.dataPage.slotTable + size_t(j) * 2;
            uint16_t raw = le16(word);
            put16(word, uint16_t((raw & kFlagsMask) | ((raw & kOffsetMask) + shift)));
        }
        if (shift > 0) std::memset(page + lowest, 0, size_t(shift));
    }
    size_t newStart = s.end - size;
    if (size) std::memcpy(page + newStart, bytes, size);
    put16(page + f.dataPage.slotTable + size_t(row) * 2, uint16_t(flags | newStart));
    setFreeSpace(f, page);
}

} // namespace jet::DataPage
