#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/Format.h"

namespace jet {

// A data page (type 0x01), which holds table rows, long values ("LVAL"
// instead of the owner) and usage maps. Offsets are the format's
// (Format::dataPage); in Jet 4:
//
//   offset  size  meaning
//   0x00    1     page type 0x01
//   0x01    1     0x01
//   0x02    2     free space
//   0x04    4     definition page of the owning table, or "LVAL"
//   0x08    4     unknown, 0
//   0x0C    2     number of row slots
//   0x0E    2*n   row slots: offset of the row in the low 13 bits, flags in the top
//                 bits: 0x4000 alone = the row holds a 4-byte pointer to an
//                 overflow row, 0x8000 alone = an overflow row, both = deleted
//
// Rows fill the page from its end downwards: row i ends where row i-1 starts
// (row 0 ends at the end of the page).
namespace DataPage {
constexpr uint8_t kType = 0x01;
constexpr uint16_t kOffsetMask = 0x1FFF;
constexpr uint16_t kFlagsMask = 0xC000;
constexpr uint16_t kOverflowPointerFlag = 0x4000;
constexpr uint16_t kOverflowRowFlag = 0x8000;
constexpr uint16_t kDeletedFlags = 0xC000;
constexpr uint32_t kLongValueOwner = 0x4C41564C; // "LVAL"
constexpr unsigned kMaxRows = 255;

struct Slot {
    uint16_t raw = 0;
    size_t start = 0;
    size_t end = 0;
    uint16_t flags() const { return raw & kFlagsMask; }
    bool deleted() const { return (raw & kFlagsMask) == kDeletedFlags; }
    bool overflowPointer() const { return (raw & kFlagsMask) == kOverflowPointerFlag; }
    bool overflowRow() const { return (raw & kFlagsMask) == kOverflowRowFlag; }
    size_t size() const { return end - start; }
};

unsigned rowCount(const Format& f, const uint8_t* page);
uint32_t owner(const Format& f, const uint8_t* page);
// Whether the page is a data page of the given owner.
bool isOwnedBy(const Format& f, const uint8_t* page, uint32_t owner);
// The slot of a row with its byte range, bounds checked against the page.
// Throws JetError naming the file and page when the page is damaged.
Slot slot(const Format& f, const uint8_t* page, unsigned row, uint32_t pageNumber, const std::string& fileName);

// Slot editing, for pages a write has already read whole (unchecked):
//
// An empty data page of the owner.
void init(const Format& f, uint8_t* page, uint32_t owner);
// The slot's byte range and flags; a deleted row's range is empty.
Slot rawSlot(const Format& f, const uint8_t* page, unsigned row);
// Bytes between the slot table and the lowest row.
size_t freeSpace(const Format& f, const uint8_t* page);
// Whether a row of `size` bytes fits (slot included).
bool hasRoomFor(const Format& f, const uint8_t* page, size_t size);
// Appends a row (the caller has checked the room); returns its slot.
unsigned append(const Format& f, uint8_t* page, const uint8_t* bytes, size_t size, uint16_t flags);
// Replaces the bytes of a slot (nothing for a deleted row), moving the rows
// stored below it; the caller has checked the room.
void replace(const Format& f, uint8_t* page, unsigned row, const uint8_t* bytes, size_t size, uint16_t flags);

// Row pointers as stored in rows, usage map references and overflow slots:
// the row number in the low byte, the page number in the upper three.
inline uint32_t makeRowPointer(uint32_t page, unsigned row) { return (page << 8) | (row & 0xFF); }
inline uint32_t pointerPage(uint32_t pointer) { return pointer >> 8; }
inline unsigned pointerRow(uint32_t pointer) { return pointer & 0xFF; }
} // namespace DataPage

} // namespace jet
