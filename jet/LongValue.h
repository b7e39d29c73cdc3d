#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jet/Value.h"

namespace jet {

class Pager;

// Memo and OLE values. In the row they are a 12-byte reference:
//
//   offset  size  meaning
//   0       4     low 30 bits: total length of the value in bytes; top two bits
//                 the kind: 0x80 the value follows inline, 0x40 it is one row of
//                 an LVAL page, 0x00 it is a chain of LVAL rows
//   4       4     row pointer of the (first) LVAL row, 0 when inline
//   8       4     unknown, 0
//   12      n     inline: the value itself
//
// A chained LVAL row starts with the 4-byte row pointer of the next row (0 at
// the end) followed by its part of the value. LVAL rows live on data pages
// whose owner field reads "LVAL".
namespace LongValue {
constexpr size_t kReferenceSize = 12;
constexpr uint8_t kInline = 0x80;
constexpr uint8_t kSingleRow = 0x40;
constexpr uint8_t kChained = 0x00;
// The longest value written: the 24 bits every reader takes the length from.
constexpr size_t kMaxLength = 0xFFFFFF;

// The stored bytes of a long value; throws JetError with `where` on damage.
Bytes read(Pager& pager, const uint8_t* reference, size_t available, const std::string& where);

// Every LVAL row the reference uses (for freeing and for checks).
std::vector<uint32_t> rowPointers(Pager& pager, const uint8_t* reference, size_t available, const std::string& where);

// Stores a value inside a write: short values inline, longer ones on LVAL
// pages (one row, or a chain of rows), and returns the reference with any
// inline bytes, for the row. `page` is the LVAL page the write used last
// (0 at first): values of one write share pages while they have room.
Bytes write(Pager& pager, const Bytes& value, uint32_t& page, const std::string& where);
// Marks the LVAL rows of a reference deleted (the value is being replaced or its row deleted).
void release(Pager& pager, const uint8_t* reference, size_t available, const std::string& where);
} // namespace LongValue

} // namespace jet
