#pragma once
#include <cstdint>
#include <string>

namespace base {

// A decimal as Jet keeps it: a magnitude of up to 128 bits, a sign and the
// count of digits after the point (scale).
class DecimalNumber {
public:
    // "[-]digits[.digits]" with exactly `scale` digits after the point, no
    // sign on zero.
    static std::string text(bool negative, uint64_t high, uint64_t low, unsigned scale);
    // The double nearest to the exact value (ties to even), whatever the C
    // locale: what parsing text() as a number gives. Dividing the magnitude
    // as a double by 10^scale rounds twice and misses by a unit in the last
    // place for about a quarter of all decimals.
    static double toDouble(bool negative, uint64_t high, uint64_t low, unsigned scale);
};

} // namespace base
