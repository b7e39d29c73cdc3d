#include "jet/CalculatedValue.h"

#include "jet/ByteOrder.h"
#include "jet/ExtendedDateTime.h"
#include "jet/JetError.h"
#include "jet/RowCodec.h"

#include <algorithm>

namespace jet {

namespace {
constexpr size_t kLengthAt = 16;
constexpr size_t kDecimalSize = 16;
} // namespace

void CalculatedValue::unwrap(const uint8_t*& data, size_t& size)
{
    if (size < kHeaderSize) return;
    const size_t n = std::min<size_t>(le32(data + kLengthAt), size - kHeaderSize);
    data += kHeaderSize;
    size = n;
}

Bytes CalculatedValue::wrap(const Bytes& valueBytes)
{
    // Sized once: header, value, trailer (all zero but the length).
    Bytes out(kHeaderSize + valueBytes.size() + kTrailerSize, 0);
    put32(out.data() + kLengthAt, uint32_t(valueBytes.size()));
    std::copy(valueBytes.begin(), valueBytes.end(), out.begin() + kHeaderSize);
    return out;
}

Value CalculatedValue::decode(const TableDef& def, const ColumnDef& c, const uint8_t* data, size_t size,
                              const std::string& where)
{
    auto damaged = [&]() {
        return JetError(where + ": the calculated value of column '" + c.utf8Name + "' is shorter than its type (" +
                        std::to_string(size) + " bytes)");
    };
    switch (c.type) {
    case ColumnType::Text:
    case ColumnType::Memo: return def.text->decode(data, size);
    case ColumnType::Boolean: return size > 0 && data[0] != 0;
    case ColumnType::Numeric: {
        if (size == 0) return Value{};
        if (size < kDecimalSize) throw damaged();
        Decimal d;
        d.scale = data[2];
        d.negative = (data[3] & 0x80) != 0;
        d.precision = 28;
        d.high = le32(data + 4);
        d.low = le64(data + 8);
        return d;
    }
    case ColumnType::ExtDateTime:
        if (size == 0) return Value{};
        if (size < ExtendedDateTime::kSize) throw damaged();
        return ExtendedDateTime::text(data, where + ", column '" + c.utf8Name + "'");
    default:
        if (size == 0) return Value{};
        if (size < def.fixedWidth(c)) throw damaged();
        return RowCodec::decodeFixed(def, c, data);
    }
}

Bytes CalculatedValue::encode(const TableDef& def, const ColumnDef& c, const Value& v, const std::string& where)
{
    Bytes bytes;
    switch (c.type) {
    case ColumnType::Text:
    case ColumnType::Memo:
        if (!def.text->encode(std::get<std::u16string>(v), c.isCompressedUnicode(), bytes))
            throw JetError(where + ": column '" + c.utf8Name + "': the text has characters the file cannot hold");
        break;
    case ColumnType::Boolean: bytes.push_back(std::get<bool>(v) ? 0xFF : 0x00); break;
    case ColumnType::Numeric: {
        // 96 bits hold every value Access computes (at most 28 digits).
        const Decimal& d = std::get<Decimal>(v);
        if (d.high >> 32)
            throw JetError(where + ": column '" + c.utf8Name + "': the calculated value has more than 28 digits");
        bytes.assign(kDecimalSize, 0);
        bytes[0] = 0x0E; // what Access leaves in the first two bytes
        bytes[2] = d.scale;
        bytes[3] = d.negative ? 0x80 : 0x00;
        put32(bytes.data() + 4, uint32_t(d.high));
        put64(bytes.data() + 8, d.low);
        break;
    }
    default:
        bytes.assign(def.fixedWidth(c), 0);
        RowCodec::encodeFixed(def, c, v, bytes.data());
    }
    return wrap(bytes);
}

} // namespace jet
