#include "jet/Value.h"

#include <cmath>
#include <cstdio>

namespace jet {

const char* columnTypeName(ColumnType type)
{
    switch (type) {
    case ColumnType::Boolean: return "Boolean";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "DateTime";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::OLE: return "OLE";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "ReplicationID";
    case ColumnType::Numeric: return "Numeric";
    }
    return "an unknown type";
}

bool isKnownColumnType(uint8_t code)
{
    return (code >= 0x01 && code <= 0x0C) || code == 0x0F || code == 0x10;
}

bool isLongValueType(ColumnType type) { return type == ColumnType::Memo || type == ColumnType::OLE; }
bool isTextType(ColumnType type) { return type == ColumnType::Text || type == ColumnType::Memo; }

std::string toUtf8(const std::u16string& s)
{
    std::string out;
    out.reserve(s.size());
    appendUtf8(out, s);
    return out;
}

void appendUtf8(std::string& out, std::u16string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c < 0x80) {
            out.push_back(char(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // lone surrogate
        }
        if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
}

std::u16string fromUtf8(const std::string& s)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                c = b & (0xFF >> (len + 1));
                bool ok = true;
                for (size_t k = 1; k < len; ++k) {
                    unsigned char cb = static_cast<unsigned char>(s[i + k]);
                    if ((cb & 0xC0) != 0x80) { ok = false; break; }
                    c = (c << 6) | (cb & 0x3F);
                }
                if (!ok) { c = 0xFFFD; len = 1; }
            }
        }
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

std::string decimalToString(const Decimal& d)
{
    // 128-bit magnitude to decimal digits by repeated division by 10.
    uint32_t parts[4] = {uint32_t(d.high >> 32), uint32_t(d.high), uint32_t(d.low >> 32), uint32_t(d.low)};
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
    if (d.scale > 0) {
        while (digits.size() <= d.scale) digits.insert(digits.begin(), '0');
        digits.insert(digits.end() - d.scale, '.');
    }
    bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (d.negative && !zero ? "-" : "") + digits;
}

std::string currencyToString(const Currency& c)
{
    uint64_t mag = c.units < 0 ? uint64_t(0) - uint64_t(c.units) : uint64_t(c.units);
    std::string s = std::to_string(mag / 10000);
    uint64_t frac = mag % 10000;
    if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", unsigned(frac));
        std::string f(buf);
        while (!f.empty() && f.back() == '0') f.pop_back();
        s += "." + f;
    }
    return (c.units < 0 ? "-" : "") + s;
}

std::string guidToString(const Guid& g)
{
    // The first three groups are stored little-endian.
    const auto& b = g.bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

namespace {
// Days from 1970-01-01 for a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}
void civilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yy + (m <= 2));
}
const int64_t kEpochOffset = 25569; // days from 1899-12-30 to 1970-01-01
} // namespace

CivilTime toCivil(DateTime dt)
{
    CivilTime c;
    if (!std::isfinite(dt.days) || std::fabs(dt.days) > 3e6) return c;
    // OLE dates: the integer part is the day (towards zero), the fraction the time of day.
    double whole = std::trunc(dt.days);
    double frac = std::fabs(dt.days - whole);
    int64_t ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) { ms -= 86400000; whole += dt.days < 0 ? -1 : 1; }
    civilFromDays(int64_t(whole) - kEpochOffset, c.year, c.month, c.day);
    c.hour = int(ms / 3600000);
    c.minute = int(ms / 60000 % 60);
    c.second = int(ms / 1000 % 60);
    c.millisecond = int(ms % 1000);
    return c;
}

DateTime fromCivil(const CivilTime& c)
{
    int64_t day = daysFromCivil(c.year, unsigned(c.month), unsigned(c.day)) + kEpochOffset;
    double frac = (c.hour * 3600000.0 + c.minute * 60000.0 + c.second * 1000.0 + c.millisecond) / 86400000.0;
    return DateTime{day >= 0 ? double(day) + frac : double(day) - frac};
}

std::string formatIsoDateTime(DateTime dt)
{
    CivilTime c = toCivil(dt);
    if (c.year < 0 || c.year > 9999) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                      c.second);
        return buf;
    }
    // Listings and exports format a date per row: digits by hand, not printf.
    char buf[19];
    auto two = [&](int at, int v) {
        buf[at] = char('0' + v / 10);
        buf[at + 1] = char('0' + v % 10);
    };
    two(0, c.year / 100);
    two(2, c.year % 100);
    buf[4] = '-';
    two(5, c.month);
    buf[7] = '-';
    two(8, c.day);
    buf[10] = ' ';
    two(11, c.hour);
    buf[13] = ':';
    two(14, c.minute);
    buf[16] = ':';
    two(17, c.second);
    return std::string(buf, sizeof buf);
}

} // namespace jet
