#include "jet/IndexKey.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "jet/ExtendedDateTime.h"
#include "jet/General97SortOrder.h"
#include "jet/JetError.h"

namespace jet {
namespace {

constexpr uint8_t kAscValue = 0x7F;
constexpr uint8_t kDescValue = 0x80;
constexpr uint8_t kAscNull = 0x00;
constexpr uint8_t kDescNull = 0xFF;

const char* valueKindName(const Value& v)
{
    switch (v.index()) {
    case 0: return "null";
    case 1: return "boolean";
    case 2: return "integer";
    case 3: return "floating-point number";
    case 4: return "currency";
    case 5: return "date/time";
    case 6: return "text";
    case 7: return "binary";
    case 8: return "GUID";
    case 9: return "decimal";
    }
    return "value";
}

[[noreturn]] void refuse(const Value& v, ColumnType type, const std::string& why = {})
{
    std::string msg = std::string("cannot build an index key for a ") + columnTypeName(type) + " column from a " +
                      valueKindName(v) + " value";
    if (!why.empty()) msg += ": " + why;
    throw JetError(msg);
}

template <class T>
const T& expect(const Value& v, ColumnType type)
{
    if (const T* p = std::get_if<T>(&v)) return *p;
    refuse(v, type);
}

void invert(Bytes& out, size_t from)
{
    for (size_t i = from; i < out.size(); ++i) out[i] = uint8_t(~out[i]);
}

void appendBigEndian(Bytes& out, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// Signed integers: big-endian with the sign bit flipped.
void appendSigned(Bytes& out, int64_t v, int bytes)
{
    uint64_t u = uint64_t(v) ^ (uint64_t(1) << (8 * bytes - 1));
    appendBigEndian(out, u, bytes);
}

int64_t checkedInteger(const Value& v, ColumnType type, int64_t lo, int64_t hi)
{
    int64_t i = expect<int64_t>(v, type);
    if (i < lo || i > hi)
        refuse(v, type, std::to_string(i) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return i;
}

// IEEE values: positive ones get the sign bit flipped, negative ones (sign bit
// set, so also -0.0) are inverted entirely.
void appendFloating(Bytes& out, uint64_t bits, int bytes)
{
    uint64_t sign = uint64_t(1) << (8 * bytes - 1);
    uint64_t mask = bytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * bytes)) - 1;
    bits = (bits & sign) ? (~bits & mask) : (bits ^ sign);
    appendBigEndian(out, bits, bytes);
}

// Binary (and GUID) data in 8-byte segments. Intermediate segments are
// followed by 0x09, which a descending index leaves uninverted; the last
// segment is zero-padded and followed by its length, inverted with it.
void appendSegmented(Bytes& out, const uint8_t* data, size_t size, bool ascending)
{
    size_t pos = 0;
    while (size - pos > 8) {
        size_t start = out.size();
        out.insert(out.end(), data + pos, data + pos + 8);
        if (!ascending) invert(out, start);
        out.push_back(0x09);
        pos += 8;
    }
    if (size - pos > 0) {
        size_t start = out.size();
        size_t n = size - pos;
        out.insert(out.end(), data + pos, data + size);
        out.insert(out.end(), 8 - n, 0x00);
        out.push_back(uint8_t(n));
        if (!ascending) invert(out, start);
    }
}

// Jet 4's legacy Numeric encoding: sign byte 0xFF (>= 0) or 0x00 (< 0), then
// the 16-byte magnitude, inverted when the value is negative in an ascending
// index or positive in a descending one. The sign byte itself is never
// inverted, so a descending index puts all negative values (nearest zero
// first) before the positive ones (largest first) - the known Jet 4 quirk that
// ACE 2007 corrected with a new encoding.
void appendNumeric(Bytes& out, const Decimal& d, bool ascending, bool legacy)
{
    bool negative = d.negative && (d.high != 0 || d.low != 0);
    if (!legacy) {
        // ACE: the sign byte 0xFF, then all of it inverted where the legacy
        // encoding inverts the magnitude.
        size_t start = out.size();
        out.push_back(0xFF);
        appendBigEndian(out, d.high, 8);
        appendBigEndian(out, d.low, 8);
        if (negative == ascending) invert(out, start);
        return;
    }
    out.push_back(negative ? 0x00 : 0xFF);
    size_t start = out.size();
    appendBigEndian(out, d.high, 8);
    appendBigEndian(out, d.low, 8);
    if (negative == ascending) invert(out, start);
}

// The 42 stored bytes of an extended date/time in 8-byte segments with
// 0x09 after each (left as they are in a descending index), the last two
// bytes and a trailer.
void appendExtendedDateTime(Bytes& out, const std::u16string& text, bool ascending)
{
    uint8_t stored[ExtendedDateTime::kSize];
    if (!ExtendedDateTime::encode(text, stored))
        throw JetError("cannot build an index key for a DateTimeExtended column from the text '" + toUtf8(text) + "'");
    auto append = [&](const uint8_t* from, size_t n) {
        size_t start = out.size();
        out.insert(out.end(), from, from + n);
        if (!ascending) invert(out, start);
    };
    for (size_t segment = 0; segment < 5; ++segment) {
        append(stored + 8 * segment, 8);
        out.push_back(0x09);
    }
    append(stored + 40, 2);
    static const uint8_t kTrailer[7] = {0, 0, 0, 0, 0, 0, 2};
    append(kTrailer, sizeof kTrailer);
}

void appendValue(Bytes& out, const Value& value, const IndexKeyColumn& column)
{
    const ColumnType type = column.type;
    const size_t start = out.size();
    switch (type) {
    case ColumnType::Byte:
        out.push_back(uint8_t(checkedInteger(value, type, 0, 255)));
        break;
    case ColumnType::Integer:
        appendSigned(out, checkedInteger(value, type, INT16_MIN, INT16_MAX), 2);
        break;
    case ColumnType::Long:
    case ColumnType::Complex:
        appendSigned(out, checkedInteger(value, type, INT32_MIN, INT32_MAX), 4);
        break;
    case ColumnType::BigInt:
        appendSigned(out, expect<int64_t>(value, type), 8);
        break;
    case ColumnType::ExtDateTime:
        appendExtendedDateTime(out, expect<std::u16string>(value, type), column.ascending);
        return;   // handles descending itself
    case ColumnType::Currency:
        appendSigned(out, expect<Currency>(value, type).units, 8);
        break;
    case ColumnType::Single: {
        float f = float(expect<double>(value, type));
        appendFloating(out, std::bit_cast<uint32_t>(f), 4);
        break;
    }
    case ColumnType::Double:
        appendFloating(out, std::bit_cast<uint64_t>(expect<double>(value, type)), 8);
        break;
    case ColumnType::DateTime:
        appendFloating(out, std::bit_cast<uint64_t>(expect<DateTime>(value, type).days), 8);
        break;
    case ColumnType::Boolean:
        out.push_back(expect<bool>(value, type) ? 0x00 : 0xFF);
        break;
    case ColumnType::Numeric:
        appendNumeric(out, expect<Decimal>(value, type), column.ascending, column.legacyNumeric);
        return;   // its own descending rule
    case ColumnType::Guid: {
        const auto& b = expect<Guid>(value, type).bytes;
        // Stored with the first three groups little-endian; keyed in textual order.
        const uint8_t text[16] = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6],
                                  b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
        appendSegmented(out, text, 16, column.ascending);
        return;   // handles descending itself
    }
    case ColumnType::Binary: {
        const Bytes& b = expect<Bytes>(value, type);
        appendSegmented(out, b.data(), b.size(), column.ascending);
        return;   // handles descending itself
    }
    case ColumnType::Text:
    case ColumnType::Memo:
        if (column.textOrder == TextKeyOrder::General97) {
            appendGeneral97Text(out, expect<std::u16string>(value, type));
            if (!column.ascending) invert(out, start);
            return;
        }
        if (column.textOrder == TextKeyOrder::General2010) appendGeneral2010Text(out, expect<std::u16string>(value, type));
        else appendGeneralText(out, expect<std::u16string>(value, type));
        if (!column.ascending) {
            invert(out, start);
            out.push_back(0x00);
        }
        return;
    case ColumnType::OLE:
        throw JetError("OLE Object columns cannot be indexed");
    default:
        throw JetError("cannot build an index key for column type code " + std::to_string(int(type)));
    }
    if (!column.ascending) invert(out, start);
}

} // namespace

void appendIndexKey(Bytes& out, const Value& value, const IndexKeyColumn& column)
{
    if (column.type == ColumnType::OLE) throw JetError("OLE Object columns cannot be indexed");
    // A Boolean column has no null: Jet keys a missing value as No.
    if (column.type == ColumnType::Boolean && isNull(value)) {
        out.push_back(column.ascending ? kAscValue : kDescValue);
        out.push_back(column.ascending ? 0xFF : 0x00);
        return;
    }
    if (isNull(value)) {
        out.push_back(column.ascending ? kAscNull : kDescNull);
        return;
    }
    const size_t mark = out.size();
    out.push_back(column.ascending ? kAscValue : kDescValue);
    try {
        appendValue(out, value, column);
    } catch (...) {
        out.resize(mark);   // leave `out` as it was
        throw;
    }
}

Bytes encodeIndexKey(const std::vector<Value>& values, const std::vector<IndexKeyColumn>& columns)
{
    if (values.size() != columns.size())
        throw JetError("index key: " + std::to_string(values.size()) + " values for " +
                       std::to_string(columns.size()) + " index columns");
    Bytes out;
    for (size_t i = 0; i < values.size(); ++i) appendIndexKey(out, values[i], columns[i]);
    return out;
}

} // namespace jet
