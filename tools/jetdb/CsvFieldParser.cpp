#include "CsvFieldParser.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace jetdb {
namespace {

std::invalid_argument refused(const std::string& field, const std::string& what)
{
    return std::invalid_argument("'" + field + "' is not " + what);
}

bool allDigits(std::string_view s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

int number(std::string_view s)
{
    int n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

std::string lower(std::string s)
{
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "[-]digits[.digits]" split; false when the text is not of that form.
bool splitDecimal(const std::string& text, bool& negative, std::string& whole, std::string& fraction)
{
    std::string_view s(text);
    negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    const size_t point = s.find('.');
    whole = std::string(s.substr(0, point));
    fraction = point == std::string_view::npos ? std::string() : std::string(s.substr(point + 1));
    if (whole.empty() && fraction.empty()) return false;
    return (whole.empty() || allDigits(whole)) && (fraction.empty() || allDigits(fraction));
}

// Appends one decimal digit to a 128-bit magnitude; false on overflow.
bool appendDigit(uint64_t& high, uint64_t& low, unsigned digit)
{
    uint64_t limbs[4] = {low & 0xFFFFFFFFu, low >> 32, high & 0xFFFFFFFFu, high >> 32};
    uint64_t carry = digit;
    for (uint64_t& limb : limbs) {
        const uint64_t v = limb * 10 + carry;
        limb = v & 0xFFFFFFFFu;
        carry = v >> 32;
    }
    if (carry) return false;
    low = limbs[1] << 32 | limbs[0];
    high = limbs[3] << 32 | limbs[2];
    return true;
}

jet::Value parseDecimal(const std::string& field)
{
    bool negative;
    std::string whole, fraction;
    if (!splitDecimal(field, negative, whole, fraction)) throw refused(field, "a number");
    if (fraction.size() > 28) throw refused(field, "a number of at most 28 decimals");
    jet::Decimal d;
    d.negative = negative;
    d.scale = uint8_t(fraction.size());
    d.precision = 28;
    for (char c : whole + fraction)
        if (!appendDigit(d.high, d.low, unsigned(c - '0'))) throw refused(field, "a number within 28 digits");
    if (d.high == 0 && d.low == 0) d.negative = false;
    return d;
}

jet::Value parseCurrency(const std::string& field)
{
    bool negative;
    std::string whole, fraction;
    if (!splitDecimal(field, negative, whole, fraction)) throw refused(field, "an amount");
    if (fraction.size() > 4) throw refused(field, "an amount of at most 4 decimals");
    fraction.resize(4, '0');
    const std::string digits = (whole.empty() ? "0" : whole) + fraction;
    uint64_t units = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), units);
    if (error != std::errc() || units > uint64_t(INT64_MAX)) throw refused(field, "an amount Currency holds");
    return jet::Currency{negative ? -int64_t(units) : int64_t(units)};
}

jet::Value parseWhole(const std::string& field)
{
    int64_t n = 0;
    const char* begin = field.data() + (field.size() > 1 && field[0] == '+' ? 1 : 0);
    auto [end, error] = std::from_chars(begin, field.data() + field.size(), n);
    if (error != std::errc() || end != field.data() + field.size()) throw refused(field, "a whole number");
    return n;
}

jet::Value parseReal(const std::string& field)
{
    double d = 0;
    const char* begin = field.data() + (field.size() > 1 && field[0] == '+' ? 1 : 0);
    auto [end, error] = std::from_chars(begin, field.data() + field.size(), d);
    if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(d)) throw refused(field, "a number");
    return d;
}

jet::Value parseBoolean(const std::string& field)
{
    const std::string word = lower(field);
    if (word == "1" || word == "-1" || word == "true" || word == "yes") return true;
    if (word == "0" || word == "false" || word == "no") return false;
    throw refused(field, "a Yes/No value (1, 0, -1, true, false, yes, no)");
}

jet::Value parseGuid(const std::string& field)
{
    std::string hex;
    for (char c : field)
        if (c != '{' && c != '}' && c != '-') hex += c;
    jet::Guid g;
    if (hex.size() != 32) throw refused(field, "a replication ID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) {
        unsigned byte = 0;
        auto [end, error] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, byte, 16);
        if (error != std::errc() || end != hex.data() + 2 * i + 2)
            throw refused(field, "a replication ID ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
        g.bytes[size_t(order[i])] = uint8_t(byte);
    }
    return g;
}

// "HH:MM[:SS]" into the time of `c`; true when the text is empty too.
bool parseTime(std::string_view s, jet::CivilTime& c)
{
    if (s.empty()) return true;
    if (s.size() != 5 && s.size() != 8) return false;
    if (!allDigits(s.substr(0, 2)) || s[2] != ':' || !allDigits(s.substr(3, 2))) return false;
    c.hour = number(s.substr(0, 2));
    c.minute = number(s.substr(3, 2));
    if (s.size() == 8) {
        if (s[5] != ':' || !allDigits(s.substr(6, 2))) return false;
        c.second = number(s.substr(6, 2));
    }
    return c.hour < 24 && c.minute < 60 && c.second < 60;
}

bool realDay(const jet::CivilTime& c)
{
    static const int days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (c.year < 100 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > days[c.month - 1])
        return false;
    const bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
    return !(c.month == 2 && c.day == 29 && !leap);
}

} // namespace

bool CsvFieldParser::parseDate(const std::string& text, jet::DateTime& out)
{
    std::string_view s(text);
    jet::CivilTime c;
    size_t dateEnd = s.find_first_of(" T");
    std::string_view date = s.substr(0, dateEnd);
    std::string_view time = dateEnd == std::string_view::npos ? std::string_view() : s.substr(dateEnd + 1);
    if (date.size() == 10 && date[4] == '-' && date[7] == '-') {
        if (!allDigits(date.substr(0, 4)) || !allDigits(date.substr(5, 2)) || !allDigits(date.substr(8, 2))) return false;
        c.year = number(date.substr(0, 4));
        c.month = number(date.substr(5, 2));
        c.day = number(date.substr(8, 2));
    } else if ((date.size() == 8 || date.size() == 10) && date[2] == '/' && date[5] == '/') {
        if (!allDigits(date.substr(0, 2)) || !allDigits(date.substr(3, 2)) || !allDigits(date.substr(6))) return false;
        c.month = number(date.substr(0, 2));
        c.day = number(date.substr(3, 2));
        c.year = number(date.substr(6));
        if (date.size() == 8) c.year += c.year < 30 ? 2000 : 1900;
    } else {
        return false;
    }
    if (dateEnd != std::string_view::npos && s[dateEnd] == 'T' && time.empty()) return false;
    if (!parseTime(time, c) || !realDay(c)) return false;
    out = jet::fromCivil(c);
    return true;
}

jet::Value CsvFieldParser::parse(const jet::ColumnDef& column, const std::string& field)
{
    using jet::ColumnType;
    switch (column.type) {
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::ExtDateTime: return jet::fromUtf8(field);
    case ColumnType::Boolean: return parseBoolean(field);
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt: return parseWhole(field);
    case ColumnType::Single:
    case ColumnType::Double: return parseReal(field);
    case ColumnType::Currency: return parseCurrency(field);
    case ColumnType::Numeric: return parseDecimal(field);
    case ColumnType::DateTime: {
        jet::DateTime d;
        if (!parseDate(field, d)) throw refused(field, "a date (YYYY-MM-DD HH:MM:SS or MM/DD/YY HH:MM:SS)");
        return d;
    }
    case ColumnType::Guid: return parseGuid(field);
    case ColumnType::Binary:
    case ColumnType::OLE: return jet::Bytes(field.begin(), field.end());
    case ColumnType::Complex: break;
    }
    throw std::invalid_argument("the column's values cannot be given in a CSV file");
}

} // namespace jetdb
