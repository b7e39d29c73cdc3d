#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jet/Value.h"

namespace jet {

class Pager;

// A page usage map: which pages belong to a table or an index (or, for the
// map of the whole file on page 1, which pages are free). It is a row on a
// data page, referenced by a row pointer, in one of two kinds:
//
// Inline (type 0):
//   offset  size  meaning
//   0       1     0x00
//   1       4     number of the page that bit 0 stands for
//   5       n     bitmap, lowest bit first: bit k set = page (start + k) is in the map
//
// Page-bitmap (type 1), for maps too large for a row:
//   0       1     0x01
//   1       4*n   numbers of map pages (0 = none); map page i covers the pages
//                 from i * Format::pagesPerMapPage() on (32736 in Jet 4).
//                 Access leaves values past the end of the file in the map
//                 of free pages (0xFFFFFF80 in a slot for pages no file
//                 reaches): there they name no map page.
// Map page (type 0x05):
//   0x00    1     0x05
//   0x01    1     0x01
//   0x02    2     0
//   0x04    ...   bitmap to the end of the page, lowest bit first
class UsageMap {
public:
    // Row pointer of the map of the file's free pages (page 1, row 0).
    static constexpr uint32_t kFreePages = (1u << 8) | 0;
    // The inline map a new table or index gets: 64 bytes of bitmap from page 0.
    static constexpr size_t kInlineRowSize = 69;

    // Reads the map whose row the pointer names; throws JetError with `where` on damage.
    static UsageMap read(Pager& pager, uint32_t rowPointer, const std::string& where);
    // Reads the map of the file's free pages, whose map-page slots may name
    // pages past the end of the file as Access leaves them: such a slot
    // reads as empty (slotsPastEnd() lists it) and is never read or written
    // through; a page it would cover gets a new map page.
    static UsageMap readFreePages(Pager& pager, const std::string& where);

    std::vector<uint32_t> pages() const;
    bool contains(uint32_t page) const;
    bool isPageBitmap() const { return type_ == 1; }
    struct Slot {
        size_t index;
        uint32_t value;
    };
    const std::vector<Slot>& slotsPastEnd() const { return slotsPastEnd_; }
    uint32_t rowPointer() const { return rowPointer_; }

    // Appends a new inline map naming `pages` to a data page of the
    // pager's write (the caller has checked the room); returns its row pointer.
    static uint32_t appendInline(Pager& pager, uint32_t pageNumber, const std::vector<uint32_t>& pages);

    // Changes, written to the pager's current transaction. An inline map
    // that cannot hold a page moves its window (when the pages in it still
    // fit) or becomes a page-bitmap map.
    void add(Pager& pager, uint32_t page);
    void remove(Pager& pager, uint32_t page);

private:
    static UsageMap read(Pager& pager, uint32_t rowPointer, const std::string& where, bool slotsMayPassEnd);
    void writeInline(Pager& pager);
    void convertToPageBitmap(Pager& pager);
    void setBitInMapPages(Pager& pager, uint32_t page, bool on);

    uint32_t rowPointer_ = 0;
    uint32_t pagesPerMapPage_ = 0;
    uint8_t type_ = 0;
    size_t rowSize_ = 0;            // bytes of the row
    uint32_t startPage_ = 0;        // inline
    std::vector<uint8_t> bitmap_;   // inline
    std::vector<uint32_t> mapPages_; // page-bitmap
    std::vector<std::vector<uint8_t>> mapBits_; // page-bitmap: each map page's bitmap
    std::vector<Slot> slotsPastEnd_;            // page-bitmap: slots read as empty
    std::string where_;
};

} // namespace jet
