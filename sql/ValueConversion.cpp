#include "sql/ValueConversion.h"

#include "jet/ExtendedDateTime.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "sql/ValueOrder.h"

namespace sql {

namespace {

std::string columnLabel(const jet::ColumnDef& column, const std::string& tableName)
{
    return "'" + tableName + "." + column.utf8Name + "'";
}

// A number as decimal digits with a fixed count after the point.
struct DecimalText {
    bool negative = false;
    std::string digits; // without sign and point, at least scale + 1 long
    int scale = 0;
};

void padForScale(DecimalText& t)
{
    if (int(t.digits.size()) <= t.scale) t.digits.insert(0, size_t(t.scale + 1) - t.digits.size(), '0');
}

// Rounds half to even (as the OLE conversions Jet uses do) or pads to `scale`.
void rescale(DecimalText& t, int scale)
{
    padForScale(t);
    if (t.scale < scale) {
        t.digits.append(size_t(scale - t.scale), '0');
    } else if (t.scale > scale) {
        size_t keep = t.digits.size() - size_t(t.scale - scale);
        const char first = t.digits[keep];
        const bool exactHalf = first == '5' && t.digits.find_first_not_of('0', keep + 1) == std::string::npos;
        const bool lastKeptOdd = keep > 0 && (t.digits[keep - 1] - '0') % 2 == 1;
        bool roundUp = first > '5' || (first == '5' && (!exactHalf || lastKeptOdd));
        t.digits.resize(keep);
        for (size_t i = keep; roundUp && i-- > 0;) {
            if (t.digits[i] == '9') {
                t.digits[i] = '0';
            } else {
                ++t.digits[i];
                roundUp = false;
            }
        }
        if (roundUp) t.digits.insert(t.digits.begin(), '1');
    }
    t.scale = scale;
    size_t nonZero = t.digits.find_first_not_of('0');
    t.digits.erase(0, std::min(nonZero == std::string::npos ? t.digits.size() : nonZero,
                               t.digits.size() - size_t(scale) - 1));
    if (t.digits.find_first_not_of('0') == std::string::npos) t.negative = false;
}

// The number `value` (of the Number class) with `scale` digits after the point.
bool toDecimalText(const jet::Value& value, int scale, DecimalText& out)
{
    out = DecimalText{};
    if (auto* i = std::get_if<int64_t>(&value)) {
        out.negative = *i < 0;
        out.digits = std::to_string(out.negative ? uint64_t(0) - uint64_t(*i) : uint64_t(*i));
    } else if (auto* b = std::get_if<bool>(&value)) {
        out.negative = *b;
        out.digits = *b ? "1" : "0";
    } else if (auto* c = std::get_if<jet::Currency>(&value)) {
        out.negative = c->units < 0;
        out.digits = std::to_string(out.negative ? uint64_t(0) - uint64_t(c->units) : uint64_t(c->units));
        out.scale = 4;
    } else if (auto* dec = std::get_if<jet::Decimal>(&value)) {
        std::string s = jet::decimalToString(*dec);
        out.negative = !s.empty() && s[0] == '-';
        if (out.negative) s.erase(0, 1);
        size_t point = s.find('.');
        if (point != std::string::npos) {
            out.scale = int(s.size() - point - 1);
            s.erase(point, 1);
        }
        out.digits = s;
    } else if (auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d) || std::fabs(*d) >= 1e29) return false;
        char buf[80];
        std::snprintf(buf, sizeof buf, "%.*f", scale, std::fabs(*d));
        std::string s = buf;
        size_t point = s.find('.');
        if (point != std::string::npos) s.erase(point, 1);
        out.negative = *d < 0;
        out.digits = s;
        out.scale = scale;
    } else {
        return false;
    }
    rescale(out, scale);
    return true;
}

std::optional<int64_t> toInteger(const DecimalText& t)
{
    if (t.digits.size() > 19) return std::nullopt;
    uint64_t magnitude = std::stoull(t.digits);
    if (t.negative) {
        if (magnitude > uint64_t(std::numeric_limits<int64_t>::max()) + 1) return std::nullopt;
        return int64_t(0 - magnitude);
    }
    if (magnitude > uint64_t(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return int64_t(magnitude);
}

double toDouble(const jet::Value& value)
{
    if (auto* d = std::get_if<double>(&value)) return *d;
    if (auto* dec = std::get_if<jet::Decimal>(&value)) return jet::nearestDouble(*dec);
    if (auto* c = std::get_if<jet::Currency>(&value)) return double(c->units) / 10000.0;
    return ValueOrder::number(value).asDouble();
}

} // namespace

bool ValueConversion::decimalFromDigits(const std::string& digits, int scale, bool negative, jet::Decimal& out)
{
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) first = digits.size();
    if (digits.size() - first > 28 || scale < 0 || scale > 28) return false;
    // The 96-bit magnitude in three 32-bit words, most significant first.
    uint64_t words[3] = {0, 0, 0};
    for (size_t i = first; i < digits.size(); ++i) {
        uint64_t carry = uint64_t(digits[i] - '0');
        for (int w = 2; w >= 0; --w) {
            uint64_t v = words[w] * 10 + carry;
            words[w] = v & 0xFFFFFFFFu;
            carry = v >> 32;
        }
        if (carry) return false;
    }
    out.negative = negative && first < digits.size();
    out.scale = uint8_t(scale);
    out.precision = uint8_t(std::max<size_t>({digits.size() - first, size_t(scale), 1}));
    out.high = words[0];
    out.low = (words[1] << 32) | words[2];
    return true;
}

ValueConversion::Result ValueConversion::toColumn(const jet::Value& value, const jet::ColumnDef& column,
                                                  const std::string& tableName, const jet::TextCoding& text)
{
    const std::string label = columnLabel(column, tableName);
    const jet::ColumnType type = column.type;
    if (!jet::isKnownColumnType(type))
        return {{}, "The field " + label + " has a data type this program does not know; its values cannot be changed."};
    if (column.isComplex())
        return {{}, "The field " + label +
                        " is a complex column (attachments or a multi-value list) whose values Access keeps in a hidden "
                        "table; this program does not write them."};
    if (column.isCalculated())
        return {{}, "The field " + label + " is calculated by Access from an expression; it cannot be updated."};
    if (jet::isNull(value)) {
        if (type == jet::ColumnType::Boolean) return {false, {}};
        if (!(column.flags & jet::kColumnNullable) && !column.isAutoNumber())
            return {{}, "The field " + label +
                            " cannot contain a Null value because the Required property for this field is set to "
                            "True. Enter a value in this field."};
        return {std::monostate{}, {}};
    }
    if (type == jet::ColumnType::ExtDateTime) {
        jet::Value v = value;
        if (auto* d = std::get_if<jet::DateTime>(&v)) v = jet::ExtendedDateTime::fromDateTime(*d);
        uint8_t stored[jet::ExtendedDateTime::kSize];
        auto* s = std::get_if<std::u16string>(&v);
        if (!s || !jet::ExtendedDateTime::encode(*s, stored))
            return {{}, "Data type mismatch: the field " + label +
                            " holds a date and time 'YYYY-MM-DD HH:MM:SS.fffffff' from year 1 to 9999."};
        return {jet::ExtendedDateTime::text(stored, label), {}};
    }
    const ValueClass target = ValueOrder::classOf(type);
    const std::optional<ValueClass> source = ValueOrder::classOf(value);
    const std::string mismatch = "Data type mismatch: a " + std::string(ValueOrder::className(*source)) +
                                 " cannot be stored in the " + ValueOrder::className(target) + " field " + label + ".";
    const std::string overflow = "Overflow: the value does not fit the field " + label + " (" +
                                 jet::columnTypeName(type) + ").";
    if (*source != target) return {{}, mismatch};

    switch (type) {
    case jet::ColumnType::Boolean: return {ValueOrder::number(value).asDouble() != 0, {}};
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long:
    case jet::ColumnType::BigInt: {
        DecimalText t;
        if (!toDecimalText(value, 0, t)) return {{}, overflow};
        std::optional<int64_t> v = toInteger(t);
        if (v && type == jet::ColumnType::BigInt) return {*v, {}};
        int64_t lo = type == jet::ColumnType::Byte ? 0 : type == jet::ColumnType::Integer ? -32768 : INT32_MIN;
        int64_t hi = type == jet::ColumnType::Byte ? 255 : type == jet::ColumnType::Integer ? 32767 : INT32_MAX;
        if (!v || *v < lo || *v > hi) return {{}, overflow};
        return {*v, {}};
    }
    case jet::ColumnType::Currency: {
        DecimalText t;
        if (!toDecimalText(value, 4, t)) return {{}, overflow};
        std::optional<int64_t> units = toInteger(t);
        if (!units) return {{}, overflow};
        return {jet::Currency{*units}, {}};
    }
    case jet::ColumnType::Single: {
        double d = toDouble(value);
        if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) return {{}, overflow};
        return {double(float(d)), {}};
    }
    case jet::ColumnType::Double: {
        double d = toDouble(value);
        if (!std::isfinite(d)) return {{}, overflow};
        return {d, {}};
    }
    case jet::ColumnType::Numeric: {
        int scale = column.scale;
        int precision = column.precision ? column.precision : 18;
        DecimalText t;
        if (!toDecimalText(value, scale, t)) return {{}, overflow};
        size_t significant = t.digits.size() - std::min(t.digits.size(), t.digits.find_first_not_of('0'));
        jet::Decimal d;
        if (significant > size_t(precision) || !decimalFromDigits(t.digits, scale, t.negative, d))
            return {{}, overflow};
        d.precision = uint8_t(precision);
        return {d, {}};
    }
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo: {
        const auto& s = std::get<std::u16string>(value);
        jet::Bytes stored;
        if (!text.isUnicode() && !text.encode(s, false, stored))
            return {{}, "The field " + label + " cannot hold characters that code page " +
                            std::to_string(text.codePage()) + " of the database lacks."};
        const size_t used = text.isUnicode() ? s.size() * 2 : stored.size();
        if (type == jet::ColumnType::Text && used > column.length) {
            const size_t unit = text.isUnicode() ? 2 : 1;
            return {{}, "The field " + label + " is too small to accept the amount of data you attempted to add (" +
                            std::to_string(used / unit) + " characters, at most " + std::to_string(column.length / unit) +
                            ")."};
        }
        return {value, {}};
    }
    case jet::ColumnType::Binary: {
        const auto& b = std::get<jet::Bytes>(value);
        if (b.size() > column.length)
            return {{}, "The field " + label + " is too small to accept the amount of data you attempted to add."};
        return {value, {}};
    }
    case jet::ColumnType::DateTime:
    case jet::ColumnType::OLE:
    case jet::ColumnType::Guid: return {value, {}};
    default: break;
    }
    return {{}, mismatch};
}

} // namespace sql
