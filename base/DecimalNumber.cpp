#include "base/DecimalNumber.h"

#include <charconv>
#include <iterator>

namespace base {

std::string DecimalNumber::text(bool negative, uint64_t high, uint64_t low, unsigned scale)
{
    // 128-bit magnitude to decimal digits by repeated division by 10.
    uint32_t parts[4] = {uint32_t(high >> 32), uint32_t(high), uint32_t(low >> 32), uint32_t(low)};
    std::string digits;
    bool nonzero = true;
    while (nonzero) {
        uint64_t rem = 0;
        nonzero = false;
        for (uint32_t& p : parts) {
            uint64_t cur = (rem << 32) | p;
            p = uint32_t(cur / 10);
            rem = cur % 10;
            if (p) nonzero = true;
        }
        digits.insert(digits.begin(), char('0' + rem));
    }
    if (scale > 0) {
        while (digits.size() <= scale) digits.insert(digits.begin(), '0');
        digits.insert(digits.end() - scale, '.');
    }
    bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (negative && !zero ? "-" : "") + digits;
}

double DecimalNumber::toDouble(bool negative, uint64_t high, uint64_t low, unsigned scale)
{
    // Both operands exact as doubles: the one division rounds once, correctly.
    static constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64_t kExactIntegerLimit = uint64_t(1) << 53;
    double value;
    if (high == 0 && low <= kExactIntegerLimit && scale < std::size(kExactPowersOfTen)) {
        value = double(low) / kExactPowersOfTen[scale];
    } else {
        const std::string exact = text(false, high, low, scale);
        std::from_chars(exact.data(), exact.data() + exact.size(), value);
    }
    return negative && value != 0 ? -value : value;
}

} // namespace base
