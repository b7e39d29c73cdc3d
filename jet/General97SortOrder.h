#pragma once
#include <string_view>

#include "jet/Value.h"

namespace jet {

// The "General" sort order of Access 97 (Jet 3) files, in which their text
// index keys are written. Unlike Jet 4's (GeneralSortOrder.h) it weighs the
// characters of U+0000..U+00FF only (and a few beyond that stand for one of
// them); every other character is ignored.
//
// Layout of an encoded text value (ascending):
//
//   weights | accents
//
// - Weights: one or two bytes per character, the same for upper and lower
//   case and for a letter with or without an accent.
// - Accents: when some letter has an accent, a run of 4-bit codes: 0, then
//   per accented letter 2 for each plain letter since the last accent and
//   the accent's code, then 0; packed high nibble first, padded with 0.
//   Without accents a single 00. Only the letters that have accented forms
//   count as plain letters (A C E I N O S U Y, and "ß" as the two letters
//   "ss" it sorts as).
//
// Only the first 255 characters count, and trailing spaces are ignored.
void appendGeneral97Text(Bytes& out, std::u16string_view text);

} // namespace jet
