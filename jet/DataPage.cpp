#include "jet/DataPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"

namespace jet::DataPage {

unsigned rowCount(const uint8_t* page) { return le16(page + kRowCountOffset); }

Slot slot(const uint8_t* page, unsigned row, uint32_t pageNumber, const std::string& fileName)
{
    auto fail = [&](const std::string& what) {
        return JetError("'" + fileName + "': data page " + std::to_string(pageNumber) + ", row " +
                        std::to_string(row) + ": " + what);
    };
    if (page[0] != kType) throw fail("the page is not a data page (type " + std::to_string(page[0]) + ")");
    unsigned count = rowCount(page);
    if (count > kMaxRows || kSlotsOffset + size_t(count) * 2 > kPageSize) throw fail("the row count is damaged");
    if (row >= count) throw fail("no such row (the page has " + std::to_string(count) + ")");
    Slot s;
    s.raw = le16(page + kSlotsOffset + row * 2);
    s.start = s.raw & kOffsetMask;
    s.end = row == 0 ? kPageSize : (le16(page + kSlotsOffset + (row - 1) * 2) & kOffsetMask);
    if (s.deleted()) {
        s.end = s.start < s.end ? s.end : s.start;
        if (s.start > kPageSize) throw fail("the row offset lies past the page end");
        return s;
    }
    size_t slotsEnd = kSlotsOffset + size_t(count) * 2;
    if (s.start < slotsEnd || s.start > s.end || s.end > kPageSize)
        throw fail("the row offsets are damaged (" + std::to_string(s.start) + ".." + std::to_string(s.end) + ")");
    return s;
}

} // namespace jet::DataPage
