#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "jet/Value.h"

namespace jet {

// The Jet 4 "General" sort order: the text collation of Access 2000-2007
// databases (sort order 0x409, version 0), which Access 2010 and later call
// "General - Legacy". Text index keys are written in it. Access 2010 and
// later write new text columns in the second version of "General" (0x409,
// version 1): the same layout with other weights (longer, up to eight bytes
// per character; see scripts/gen-general-sort-table).
//
// Layout of an encoded text value (ascending):
//
//   primary weights | 01 | [diacritic weights] | [01 01 [kana section] [01 ignorable section]] | 00
//
// - Primary weights: one to four bytes per character (to eight in the second
//   version), the same for upper and lower case (so "ADMIN" and "admin" have
//   equal keys: the sort order is case-insensitive and a unique index treats
//   them as duplicates).
//   Characters without a weight (unassigned code points, U+0000, U+FFFD, ...)
//   are left out entirely; they do not make a value unencodable.
// - Diacritic weights: one byte (rarely two) per weighted character, 0x02
//   meaning "none"; present only when some character has an accent (é, ñ, ...).
//   Trailing 0x02 bytes are dropped. A combining mark (U+0300..U+036F and the
//   like) adds its code to the previous diacritic byte.
// - Kana section: the small/normal flags of Japanese kana (2 bits each,
//   three to a byte, 0x80 | ..), then FF 02 80 FF 80.
// - Ignorable section: control characters, the apostrophe and the hyphen have
//   no primary weight ("word sort"); each is recorded as
//   (0x8000 | (7 + 4 * position)) big-endian, 06, its code.
//
// Only the first 255 UTF-16 code units are indexed, and trailing spaces
// (U+0020) are ignored.
inline constexpr std::size_t kMaxIndexedTextUnits = 255;

// Appends the value bytes (ascending, without the entry flag byte).
void appendGeneralText(Bytes& out, std::u16string_view text);
// The same in the second version (Access 2010 and later).
void appendGeneral2010Text(Bytes& out, std::u16string_view text);

// The value bytes (ascending, without the entry flag byte), e.g.
// u"admin" -> 4a 4f 60 59 62 01 00.
Bytes encodeGeneralText(const std::u16string& text);

} // namespace jet
