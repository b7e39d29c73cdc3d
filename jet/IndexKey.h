#pragma once
#include <vector>

#include "jet/GeneralSortOrder.h"
#include "jet/Value.h"

namespace jet {

// Index key encoding of Jet 4: the bytes of an index entry before its
// 3-byte page / 1-byte row pointer. Keys compare as unsigned byte strings in
// index order (memcmp), which is how Jet orders and searches the B-tree.
//
// Each column contributes a flag byte and, unless the value is null, the
// encoded value:
//
//   flag: 0x7F value (ascending), 0x80 value (descending),
//         0x00 null (ascending),  0xFF null (descending).
//
//   Byte            the unsigned byte.
//   Integer, Long,  big-endian two's complement with the sign bit flipped.
//   BigInt, Complex (a complex column is keyed by its 4-byte key)
//   Currency        the 64-bit count of 1/10000 likewise.
//   Single, Double, the IEEE value big-endian; positive (sign bit clear): sign
//   Date/Time       bit flipped; negative: every byte inverted.
//   Boolean         never null (a null is keyed as No): 0x00 for Yes, 0xFF for No.
//   Numeric         Jet 4's legacy encoding, 17 bytes: 0xFF then the 16-byte
//                   big-endian unscaled magnitude for a value >= 0; 0x00 then the
//                   inverted magnitude for a value < 0. The value must already be
//                   at the column's scale (as the row stores it). ACE's
//                   encoding differs only in descending indexes (below).
//   Guid            the 16 bytes in textual order (first three groups
//                   big-endian), written as binary (below): 8 bytes, 0x09,
//                   8 bytes, 0x08.
//   Binary          8-byte segments each followed by 0x09 when more data follows;
//                   the last segment zero-padded to 8 bytes and followed by its
//                   length (1..8). Empty binary: no bytes after the flag.
//   ExtDateTime     the 42 stored bytes (ExtendedDateTime.h) as five 8-byte
//                   segments each followed by 0x09, the last two bytes, and
//                   00 00 00 00 00 00 02.
//   Text, Memo      the General sort order (GeneralSortOrder.h), in its first
//                   or second version, or Access 97's.
//
// Descending columns invert the value bytes, with two exceptions that Jet
// keeps: Numeric (see appendIndexKey) and the 0x09 segment markers of Binary,
// Guid and ExtDateTime, which stay as they are. A descending Text value is
// the inverted ascending encoding followed by one more 0x00. In ACE files a
// descending Numeric value is the inverted ascending one, sign byte included.
// The sort order text keys are written in: Jet 4's General, or Access 97's
// (General97SortOrder.h), whose descending keys are the inverted ascending
// ones without the extra 0x00.
enum class TextKeyOrder { General, General2010, General97 };

struct IndexKeyColumn {
    ColumnType type;
    bool ascending = true;
    TextKeyOrder textOrder = TextKeyOrder::General;
    bool legacyNumeric = true; // Jet 4's Numeric encoding (false in ACE files)
};

// Appends one column's part of an index entry (flag byte and value bytes).
// Throws JetError when the value does not fit the column type (wrong kind of
// value, Byte/Integer/Long out of range) or the type cannot be indexed (OLE).
void appendIndexKey(Bytes& out, const Value& value, const IndexKeyColumn& column);

// Whole key of a (multi-column) index: the column parts in index order.
// Throws JetError when the two vectors differ in length or a value cannot be keyed.
Bytes encodeIndexKey(const std::vector<Value>& values, const std::vector<IndexKeyColumn>& columns);

} // namespace jet
