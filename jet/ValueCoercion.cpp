#include "jet/ValueCoercion.h"

#include "jet/ExtendedDateTime.h"
#include "jet/JetError.h"

#include <cmath>
#include <cstdint>

namespace jet {

namespace {

std::string describe(const Value& v)
{
    switch (v.index()) {
    case 0: return "null";
    case 1: return "a Yes/No value";
    case 2: return "the number " + std::to_string(std::get<int64_t>(v));
    case 3: return "a number";
    case 6: return "a text";
    default: return "a value of another type";
    }
}

JetError wrongType(const ColumnDef& c, const Value& v, const std::string& where)
{
    return JetError(where + ": column '" + c.utf8Name + "' (" + columnTypeName(c.type) + ") cannot hold " + describe(v));
}

// Decimal magnitudes are 128 bits, held as two 64-bit halves (there is no
// portable 128-bit integer type), worked on in 32-bit limbs.
struct Magnitude {
    uint64_t high = 0;
    uint64_t low = 0;
    bool operator<(const Magnitude& o) const { return high != o.high ? high < o.high : low < o.low; }
    bool isZero() const { return high == 0 && low == 0; }
};

// Multiplies by ten; false (and m unchanged) when the result needs more than 128 bits.
bool timesTen(Magnitude& m)
{
    uint64_t l0 = (m.low & 0xFFFFFFFFu) * 10;
    uint64_t l1 = (m.low >> 32) * 10 + (l0 >> 32);
    uint64_t h0 = (m.high & 0xFFFFFFFFu) * 10 + (l1 >> 32);
    uint64_t h1 = (m.high >> 32) * 10 + (h0 >> 32);
    if (h1 >> 32) return false;
    m.low = (l1 << 32) | (l0 & 0xFFFFFFFFu);
    m.high = (h1 << 32) | (h0 & 0xFFFFFFFFu);
    return true;
}

// Divides by ten and returns the remainder.
unsigned divideByTen(Magnitude& m)
{
    uint64_t limbs[4] = {m.high >> 32, m.high & 0xFFFFFFFFu, m.low >> 32, m.low & 0xFFFFFFFFu};
    uint64_t remainder = 0;
    for (uint64_t& limb : limbs) {
        uint64_t current = (remainder << 32) | limb;
        limb = current / 10;
        remainder = current % 10;
    }
    m.high = (limbs[0] << 32) | limbs[1];
    m.low = (limbs[2] << 32) | limbs[3];
    return unsigned(remainder);
}

} // namespace

void ValueCoercion::coerce(const ColumnDef& c, Value& v, const std::string& where, const TextCoding& text)
{
    // Access computes calculated values; the engine keeps them as it read them.
    if (c.isCalculated()) return;
    if (!isKnownColumnType(c.type)) {
        // Only the bytes read from a row come this way (Table refuses new values).
        if (!isNull(v) && !std::holds_alternative<Bytes>(v)) throw wrongType(c, v, where);
        return;
    }
    if (isNull(v)) {
        if (c.type == ColumnType::Boolean) v = false;
        else if (!(c.flags & kColumnNullable) && !c.isAutoNumber())
            throw JetError(where + ": column '" + c.utf8Name + "' requires a value");
        return;
    }
    switch (c.type) {
    case ColumnType::Boolean:
        if (auto n = std::get_if<int64_t>(&v)) v = *n != 0;
        else if (!std::holds_alternative<bool>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt: toWholeNumber(c, v, where); break;
    case ColumnType::Complex:
        if (!std::holds_alternative<int64_t>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::ExtDateTime: {
        if (auto d = std::get_if<double>(&v)) v = DateTime{*d};
        if (auto d = std::get_if<DateTime>(&v)) v = ExtendedDateTime::fromDateTime(*d);
        auto s = std::get_if<std::u16string>(&v);
        uint8_t stored[ExtendedDateTime::kSize];
        if (!s || !ExtendedDateTime::encode(*s, stored))
            throw JetError(where + ": column '" + c.utf8Name +
                           "' (DateTimeExtended) holds a date and time 'YYYY-MM-DD HH:MM:SS.fffffff' from year 1 to "
                           "9999, not " + (s ? "'" + toUtf8(*s) + "'" : describe(v)));
        v = ExtendedDateTime::text(stored, where);
        break;
    }
    case ColumnType::Single:
    case ColumnType::Double:
        if (auto n = std::get_if<int64_t>(&v)) v = double(*n);
        else if (!std::holds_alternative<double>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::Currency:
        if (auto n = std::get_if<int64_t>(&v)) v = Currency{*n * 10000};
        else if (auto d = std::get_if<double>(&v)) v = Currency{int64_t(std::llround(*d * 10000))};
        else if (!std::holds_alternative<Currency>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::DateTime:
        if (auto d = std::get_if<double>(&v)) v = DateTime{*d};
        else if (!std::holds_alternative<DateTime>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::Text:
    case ColumnType::Memo: {
        auto s = std::get_if<std::u16string>(&v);
        if (!s) throw wrongType(c, v, where);
        checkTextLength(c, *s, where, text);
        break;
    }
    case ColumnType::Binary:
    case ColumnType::OLE: {
        auto b = std::get_if<Bytes>(&v);
        if (!b) throw wrongType(c, v, where);
        if (c.type == ColumnType::Binary && b->size() > c.length)
            throw JetError(where + ": the value for column '" + c.utf8Name + "' is longer than the column");
        break;
    }
    case ColumnType::Guid:
        if (!std::holds_alternative<Guid>(v)) throw wrongType(c, v, where);
        break;
    case ColumnType::Numeric: toDecimal(c, v, where); break;
    }
}

void ValueCoercion::checkTextLength(const ColumnDef& c, const std::u16string& s, const std::string& where,
                                    const TextCoding& coding)
{
    if (coding.isUnicode()) {
        if (c.type == ColumnType::Text && s.size() * 2 > c.length)
            throw JetError(where + ": the text for column '" + c.utf8Name + "' has " + std::to_string(s.size()) +
                           " characters, more than the column's " + std::to_string(c.length / 2));
        return;
    }
    // A code page: a column holds as many bytes as its length.
    Bytes bytes;
    if (!coding.encode(s, false, bytes))
        throw JetError(where + ": the text for column '" + c.utf8Name + "' has characters that code page " +
                       std::to_string(coding.codePage()) + " of the file cannot hold");
    if (c.type == ColumnType::Text && bytes.size() > c.length)
        throw JetError(where + ": the text for column '" + c.utf8Name + "' takes " + std::to_string(bytes.size()) +
                       " bytes, more than the column's " + std::to_string(c.length));
}

void ValueCoercion::toWholeNumber(const ColumnDef& c, Value& v, const std::string& where)
{
    if (auto d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::nearbyint(*d) != *d || std::fabs(*d) >= 9223372036854775808.0)
            throw wrongType(c, v, where);
        v = int64_t(*d);
    }
    if (auto b = std::get_if<bool>(&v)) v = int64_t(*b ? -1 : 0);
    auto n = std::get_if<int64_t>(&v);
    if (!n) throw wrongType(c, v, where);
    if (c.type == ColumnType::BigInt) return;
    int64_t lo = c.type == ColumnType::Byte ? 0 : c.type == ColumnType::Integer ? -32768 : INT32_MIN;
    int64_t hi = c.type == ColumnType::Byte ? 255 : c.type == ColumnType::Integer ? 32767 : INT32_MAX;
    if (*n < lo || *n > hi)
        throw JetError(where + ": " + std::to_string(*n) + " is out of range for column '" + c.utf8Name + "' (" +
                       columnTypeName(c.type) + ")");
}

void ValueCoercion::toDecimal(const ColumnDef& c, Value& v, const std::string& where)
{
    auto tooLarge = [&]() {
        return JetError(where + ": the value is too large for column '" + c.utf8Name + "' (precision " +
                        std::to_string(c.precision) + ")");
    };
    Decimal d;
    Magnitude mag;
    if (auto n = std::get_if<int64_t>(&v)) {
        d.negative = *n < 0;
        mag.low = d.negative ? uint64_t(0) - uint64_t(*n) : uint64_t(*n);
        for (int k = 0; k < c.scale; ++k)
            if (!timesTen(mag)) throw tooLarge();
    } else if (auto p = std::get_if<Decimal>(&v)) {
        d = *p;
        mag = {d.high, d.low};
        for (; d.scale < c.scale; ++d.scale)
            if (!timesTen(mag)) throw tooLarge();
        for (; d.scale > c.scale; --d.scale) {
            Magnitude shorter = mag;
            if (divideByTen(shorter) != 0)
                throw JetError(where + ": column '" + c.utf8Name + "' holds only " + std::to_string(c.scale) +
                               " decimal places");
            mag = shorter;
        }
    } else {
        throw wrongType(c, v, where);
    }
    d.scale = c.scale;
    d.precision = c.precision;
    d.high = mag.high;
    d.low = mag.low;
    Magnitude limit{0, 1};
    bool limited = true;
    for (int k = 0; k < c.precision && limited; ++k) limited = timesTen(limit);
    if (limited && !(mag < limit)) throw tooLarge();
    if (mag.isZero()) d.negative = false;
    v = d;
}

} // namespace jet
