#include "jet/Value.h"

#include "base/AccessDate.h"
#include "base/DecimalNumber.h"
#include "base/Utf8.h"

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
    case ColumnType::Complex: return "Complex";
    case ColumnType::BigInt: return "BigInt";
    case ColumnType::ExtDateTime: return "DateTimeExtended";
    }
    return "an unknown type";
}

bool isKnownColumnType(uint8_t code)
{
    return (code >= 0x01 && code <= 0x0C) || (code >= 0x0F && code <= 0x10) || (code >= 0x12 && code <= 0x14);
}

bool isLongValueType(ColumnType type) { return type == ColumnType::Memo || type == ColumnType::OLE; }
bool isTextType(ColumnType type) { return type == ColumnType::Text || type == ColumnType::Memo; }

std::string toUtf8(const std::u16string& s) { return base::Utf8::fromUtf16(s); }
std::u16string fromUtf8(const std::string& s) { return base::Utf8::toUtf16(s); }
void appendUtf8(std::string& out, std::u16string_view s) { base::Utf8::appendFromUtf16(out, s); }

std::string decimalToString(const Decimal& d)
{
    return base::DecimalNumber::text(d.negative, d.high, d.low, d.scale);
}

double nearestDouble(const Decimal& d)
{
    return base::DecimalNumber::toDouble(d.negative, d.high, d.low, d.scale);
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

std::optional<DateTime> fromAccessDateText(std::string_view text)
{
    const std::optional<base::AccessDate::Fields> f = base::AccessDate::parse(text);
    if (!f) return std::nullopt;
    CivilTime c;
    c.year = f->year;
    c.month = f->month;
    c.day = f->day;
    c.hour = f->hour;
    c.minute = f->minute;
    c.second = f->second;
    return fromCivil(c);
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
