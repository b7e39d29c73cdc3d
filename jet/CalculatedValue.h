#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

// The stored value of an ACE calculated column (extended flags 0xC0), which
// Access computes from an expression when it writes the row. Whatever the
// column's type, the value lies in the row's variable area (the column is
// never fixed; Booleans are not kept in the null mask), wrapped:
//
//   offset  size  meaning
//   0       16    zero
//   16      4     n, the length of the value's bytes
//   20      n     the value's bytes
//   20+n    3     zero
//
// The value's bytes are those a column of the type stores (a text as its
// text bytes, a Long as 4 bytes, a Boolean as one byte, 0 for No), except
// Numeric, which is 16 bytes as Windows keeps a DECIMAL: 2 bytes (0x000E or
// 0), the scale, the sign (0x80: negative), the top 32 bits of the 96-bit
// magnitude, then its low 64 bits, little-endian. A Memo column keeps the
// wrapped bytes as its long value. A value without bytes (n = 0) is null.
// The type of the value is the column's ResultType property (Table.h).
class CalculatedValue {
public:
    static constexpr size_t kHeaderSize = 20;
    static constexpr size_t kTrailerSize = 3;

    // The value's bytes inside wrapped ones (all of them when too short to
    // be wrapped).
    static void unwrap(const uint8_t*& data, size_t& size);
    // The value of the column from its (unwrapped) bytes; throws JetError
    // naming `where` when they do not fit the type.
    static Value decode(const TableDef& def, const ColumnDef& column, const uint8_t* data, size_t size,
                        const std::string& where);
    // The wrapped bytes of a value of the column (not null; a Memo's text
    // bytes are wrapped before they go to a long value).
    static Bytes encode(const TableDef& def, const ColumnDef& column, const Value& value, const std::string& where);
    static Bytes wrap(const Bytes& valueBytes);
};

} // namespace jet
