#include "jet/RowCodec.h"

#include "jet/ByteOrder.h"
#include "jet/Format.h"
#include "jet/JetError.h"
#include "jet/LongValue.h"
#include "jet/Pager.h"
#include "jet/RowView.h"
#include "jet/TextCodec.h"

#include <algorithm>
#include <cstring>

namespace jet {

Value RowCodec::decodeFixed(const ColumnDef& c, const uint8_t* p)
{
    switch (c.type) {
    case ColumnType::Byte: return int64_t(p[0]);
    case ColumnType::Integer: return int64_t(int16_t(le16(p)));
    case ColumnType::Long: return int64_t(int32_t(le32(p)));
    case ColumnType::Currency: return Currency{int64_t(le64(p))};
    case ColumnType::Single: return double(leFloat(p));
    case ColumnType::Double: return leDouble(p);
    case ColumnType::DateTime: return DateTime{leDouble(p)};
    case ColumnType::Guid: {
        Guid g;
        std::copy(p, p + 16, g.bytes.begin());
        return g;
    }
    case ColumnType::Numeric: {
        Decimal d;
        d.negative = p[0] != 0;
        d.precision = c.precision;
        d.scale = c.scale;
        d.high = (uint64_t(le32(p + 1)) << 32) | le32(p + 5);
        d.low = (uint64_t(le32(p + 9)) << 32) | le32(p + 13);
        return d;
    }
    case ColumnType::Text: return decodeText(p, c.length);
    default: return Bytes(p, p + c.length);
    }
}

void RowCodec::decode(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, const RowPlace& where,
                      std::vector<Value>& out, const std::vector<bool>* wanted)
{
    RowView(def, row, size, pager, where).decode(out, wanted);
}

void RowCodec::encodeFixed(const ColumnDef& c, const Value& v, uint8_t* p)
{
    switch (c.type) {
    case ColumnType::Byte: p[0] = uint8_t(std::get<int64_t>(v)); break;
    case ColumnType::Integer: put16(p, uint16_t(int16_t(std::get<int64_t>(v)))); break;
    case ColumnType::Long: put32(p, uint32_t(int32_t(std::get<int64_t>(v)))); break;
    case ColumnType::Currency: put64(p, uint64_t(std::get<Currency>(v).units)); break;
    case ColumnType::Single: putFloat(p, float(std::get<double>(v))); break;
    case ColumnType::Double: putDouble(p, std::get<double>(v)); break;
    case ColumnType::DateTime: putDouble(p, std::get<DateTime>(v).days); break;
    case ColumnType::Guid: std::memcpy(p, std::get<Guid>(v).bytes.data(), 16); break;
    case ColumnType::Numeric: {
        const Decimal& d = std::get<Decimal>(v);
        p[0] = d.negative ? 0x80 : 0x00;
        put32(p + 1, uint32_t(d.high >> 32));
        put32(p + 5, uint32_t(d.high));
        put32(p + 9, uint32_t(d.low >> 32));
        put32(p + 13, uint32_t(d.low));
        break;
    }
    case ColumnType::Text: {
        Bytes t = encodeText(std::get<std::u16string>(v), false);
        if (!t.empty()) std::memcpy(p, t.data(), std::min<size_t>(t.size(), c.length));
        break;
    }
    default: {
        const Bytes& b = std::get<Bytes>(v);
        if (!b.empty()) std::memcpy(p, b.data(), std::min<size_t>(b.size(), c.length));
    }
    }
}

Bytes RowCodec::encodeVariable(const ColumnDef& c, const Value& v, Pager& pager, uint32_t& longValuePage,
                               const std::string& where)
{
    switch (c.type) {
    case ColumnType::Text: return encodeText(std::get<std::u16string>(v), c.isCompressedUnicode());
    case ColumnType::Binary: return std::get<Bytes>(v);
    case ColumnType::Memo:
        return LongValue::write(pager, encodeText(std::get<std::u16string>(v), c.isCompressedUnicode()), longValuePage,
                                where + ", column '" + c.utf8Name + "'");
    case ColumnType::OLE:
        return LongValue::write(pager, std::get<Bytes>(v), longValuePage, where + ", column '" + c.utf8Name + "'");
    default:
        // A type the engine does not know keeps the bytes it was read with.
        if (!isKnownColumnType(c.type)) return std::get<Bytes>(v);
        // A fixed-width type kept in the variable area (Access 2000's
        // MSysAccessObjects has its Long ID there).
        Bytes data(pager.format().fixedWidth(c.type, c.length), 0);
        encodeFixed(c, v, data.data());
        return data;
    }
}

void RowCodec::appendVariableTable(Bytes& row, const std::vector<std::pair<size_t, size_t>>& slots)
{
    // Null columns take no bytes: their slot starts where the next data starts.
    const size_t endOfData = row.size();
    std::vector<uint16_t> offsets(slots.size());
    size_t nextStart = endOfData;
    for (size_t k = slots.size(); k-- > 0;) {
        if (slots[k].second) nextStart = slots[k].first;
        offsets[k] = uint16_t(nextStart);
    }
    uint8_t word[2];
    put16(word, uint16_t(endOfData));
    row.insert(row.end(), word, word + 2);
    for (size_t k = slots.size(); k-- > 0;) {
        put16(word, offsets[k]);
        row.insert(row.end(), word, word + 2);
    }
    put16(word, uint16_t(slots.size()));
    row.insert(row.end(), word, word + 2);
}

Bytes RowCodec::encode(const TableDef& def, const std::vector<Value>& values, Pager& pager, uint32_t& longValuePage,
                       const std::string& where)
{
    const Format& f = *def.format;
    uint16_t columnCount = def.maxColumns;
    size_t fixedSize = 0;
    unsigned varSlots = 0;
    for (const ColumnDef& c : def.columns) {
        columnCount = std::max<uint16_t>(columnCount, uint16_t(c.number + 1));
        if (c.isFixed()) fixedSize = std::max(fixedSize, size_t(c.fixedOffset) + def.fixedWidth(c));
        else varSlots = std::max(varSlots, unsigned(c.varIndex) + 1);
    }
    Bytes row(f.row.columnCountSize + fixedSize, 0);
    put16(row.data(), columnCount);
    std::vector<uint8_t> mask((columnCount + 7) / 8, 0);
    auto setPresent = [&](const ColumnDef& c) { mask[c.number / 8] |= uint8_t(1 << (c.number % 8)); };

    std::vector<size_t> varOrder;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        const Value& v = values[i];
        if (c.type == ColumnType::Boolean) {
            if (auto b = std::get_if<bool>(&v); b && *b) setPresent(c);
        } else if (!isNull(v)) {
            if (c.isFixed()) {
                setPresent(c);
                encodeFixed(c, v, row.data() + f.row.columnCountSize + c.fixedOffset);
            } else {
                varOrder.push_back(i);
            }
        }
    }
    // Variable columns go in slot order.
    std::sort(varOrder.begin(), varOrder.end(),
              [&](size_t a, size_t b) { return def.columns[a].varIndex < def.columns[b].varIndex; });
    std::vector<std::pair<size_t, size_t>> slots(varSlots, {0, 0});
    for (size_t i : varOrder) {
        const ColumnDef& c = def.columns[i];
        Bytes data = encodeVariable(c, values[i], pager, longValuePage, where);
        setPresent(c);
        size_t start = row.size();
        row.insert(row.end(), data.begin(), data.end());
        slots[c.varIndex] = {start, row.size()};
    }
    if (varSlots > 0 || def.variableColumns > 0) appendVariableTable(row, slots);
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > f.maxRowSize())
        throw JetError(where + ": the row takes " + std::to_string(row.size()) + " bytes, more than a page holds (" +
                       std::to_string(f.maxRowSize()) + ")");
    return row;
}

} // namespace jet
