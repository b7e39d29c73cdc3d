#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jet/Value.h"

namespace jet {

// Access 2019's "Date/Time Extended" column (type 0x14): a fixed 42-byte
// field of ASCII text that counts from 0001-01-01 00:00:00 to 100 ns:
//
//   offset  size  meaning
//   0       19    days since 0001-01-01 (proleptic Gregorian), decimal digits
//   19      1     ':'
//   20      12    seconds since midnight, decimal digits
//   32      7     the fraction of the second in units of 100 ns, decimal digits
//   39      3     ':' '7' 0x00 (the number of fraction digits)
//
// The engine reads such a value as the text "YYYY-MM-DD HH:MM:SS.fffffff"
// (fixed width, so texts order as the times do), which holds it exactly; a
// Date/Time double would not.
class ExtendedDateTime {
public:
    static constexpr size_t kSize = 42;

    // The text of a stored value; throws JetError (naming `where`) when the
    // bytes are not in that layout.
    static std::u16string text(const uint8_t* stored, const std::string& where);
    // The stored bytes of a text "YYYY-MM-DD[ HH:MM:SS[.f...]]" (years 1 to
    // 9999, at most seven fraction digits); false when the text is not one.
    static bool encode(std::u16string_view text, uint8_t* stored);
    // The text of a Date/Time value, to the millisecond it holds.
    static std::u16string fromDateTime(DateTime value);
};

} // namespace jet
