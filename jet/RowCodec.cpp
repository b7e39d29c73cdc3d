#include "jet/RowCodec.h"

#include "jet/ByteOrder.h"
#include "jet/CalculatedValue.h"
#include "jet/ExtendedDateTime.h"
#include "jet/Format.h"
#include "jet/JetError.h"
#include "jet/LongValue.h"
#include "jet/Pager.h"
#include "jet/RowView.h"
#include "jet/TextCodec.h"

#include <algorithm>
#include <cstring>

namespace jet {

Value RowCodec::decodeFixed(const TableDef& def, const ColumnDef& c, const uint8_t* p)
{
    switch (c.type) {
    case ColumnType::Byte: return int64_t(p[0]);
    case ColumnType::Integer: return int64_t(int16_t(le16(p)));
    case ColumnType::Long:
    case ColumnType::Complex: return int64_t(int32_t(le32(p)));
    case ColumnType::BigInt: return int64_t(le64(p));
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
    case ColumnType::Text: return def.text->decode(p, c.length);
    case ColumnType::ExtDateTime: return ExtendedDateTime::text(p, "'" + def.name + "', column '" + c.utf8Name + "'");
    default: return Bytes(p, p + c.length);
    }
}

void RowCodec::decode(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, const RowPlace& where,
                      std::vector<Value>& out, const std::vector<bool>* wanted)
{
    RowView(def, row, size, pager, where).decode(out, wanted);
}

Bytes RowCodec::encodeText(const TableDef& def, const ColumnDef& c, const Value& v, bool allowCompression,
                           const std::string& where)
{
    Bytes bytes;
    if (!def.text->encode(std::get<std::u16string>(v), allowCompression, bytes))
        throw JetError(where + ": column '" + c.utf8Name + "': the text has characters that code page " +
                       std::to_string(def.text->codePage()) + " of the file cannot hold");
    return bytes;
}

void RowCodec::encodeFixed(const TableDef& def, const ColumnDef& c, const Value& v, uint8_t* p)
{
    switch (c.type) {
    case ColumnType::Byte: p[0] = uint8_t(std::get<int64_t>(v)); break;
    case ColumnType::Integer: put16(p, uint16_t(int16_t(std::get<int64_t>(v)))); break;
    case ColumnType::Long:
    case ColumnType::Complex: put32(p, uint32_t(int32_t(std::get<int64_t>(v)))); break;
    case ColumnType::BigInt: put64(p, uint64_t(std::get<int64_t>(v))); break;
    case ColumnType::ExtDateTime:
        // Coercion has checked the text (ValueCoercion).
        if (!ExtendedDateTime::encode(std::get<std::u16string>(v), p))
            throw JetError("'" + def.name + "', column '" + c.utf8Name + "': not an extended date/time");
        break;
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
        Bytes t = encodeText(def, c, v, false, "'" + def.name + "'");
        if (!t.empty()) std::memcpy(p, t.data(), std::min<size_t>(t.size(), c.length));
        break;
    }
    default: {
        const Bytes& b = std::get<Bytes>(v);
        if (!b.empty()) std::memcpy(p, b.data(), std::min<size_t>(b.size(), c.length));
    }
    }
}

Bytes RowCodec::encodeVariable(const TableDef& def, const ColumnDef& c, const Value& v, Pager& pager,
                               uint32_t& longValuePage, const std::string& where)
{
    if (c.isCalculated()) {
        Bytes wrapped = CalculatedValue::encode(def, c, v, where);
        if (c.type != ColumnType::Memo) return wrapped;
        return LongValue::write(pager, wrapped, longValuePage, where + ", column '" + c.utf8Name + "'");
    }
    switch (c.type) {
    case ColumnType::Text: return encodeText(def, c, v, c.isCompressedUnicode(), where);
    case ColumnType::Binary: return std::get<Bytes>(v);
    case ColumnType::Memo:
        return LongValue::write(pager, encodeText(def, c, v, c.isCompressedUnicode(), where), longValuePage,
                                where + ", column '" + c.utf8Name + "'");
    case ColumnType::OLE:
        return LongValue::write(pager, std::get<Bytes>(v), longValuePage, where + ", column '" + c.utf8Name + "'");
    default:
        // A type the engine does not know keeps the bytes it was read with.
        if (!isKnownColumnType(c.type)) return std::get<Bytes>(v);
        // A fixed-width type kept in the variable area (Access 2000's
        // MSysAccessObjects has its Long ID there).
        Bytes data(pager.format().fixedWidth(c.type, c.length), 0);
        encodeFixed(def, c, v, data.data());
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

void RowCodec::appendNarrowVariableTable(Bytes& row, const std::vector<std::pair<size_t, size_t>>& slots,
                                         size_t maskSize, const std::string& where)
{
    const size_t endOfData = row.size();
    const size_t count = slots.size();
    if (count > 0xFF) throw JetError(where + ": too many variable-length columns for this file's format");
    // Entries 0..count-1 and the end of the data as entry `count`; a null
    // column's slot starts where the next data starts.
    std::vector<size_t> entries(count + 1, endOfData);
    size_t nextStart = endOfData;
    for (size_t k = count; k-- > 0;) {
        if (slots[k].second) nextStart = slots[k].first;
        entries[k] = nextStart;
    }
    // One jump per 256-byte block the data reaches: the first entry in it.
    const size_t blocks = endOfData / 256;
    std::vector<uint8_t> jumps;
    for (size_t b = 1; b <= blocks; ++b) {
        size_t first = 0;
        while (entries[first] < 256 * b) ++first;
        jumps.push_back(uint8_t(first));
    }
    // Readers size the jump table by the whole row: add the unused entry
    // when the row reaches one block further than the data.
    size_t size = endOfData + (count + 1) + blocks + 1 + maskSize;
    bool unused = (size - 1) / 256 > blocks;
    if (unused) ++size;
    if ((size - 1) / 256 != blocks + (unused ? 1 : 0))
        throw JetError(where + ": the row's offsets cannot be laid out in this file's format");
    for (size_t k = count + 1; k-- > 0;) row.push_back(uint8_t(entries[k] & 0xFF));
    if (unused) row.push_back(0xFF);
    for (size_t j = jumps.size(); j-- > 0;) row.push_back(jumps[j]);
    row.push_back(uint8_t(count));
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
    if (f.row.columnCountSize == 1 && columnCount > 0xFF)
        throw JetError(where + ": a row of " + std::to_string(columnCount) + " columns does not fit this file's format");
    Bytes row(f.row.columnCountSize + fixedSize, 0);
    if (f.row.columnCountSize == 2) put16(row.data(), columnCount);
    else row[0] = uint8_t(columnCount);
    std::vector<uint8_t> mask((columnCount + 7) / 8, 0);
    auto setPresent = [&](const ColumnDef& c) { mask[c.number / 8] |= uint8_t(1 << (c.number % 8)); };

    std::vector<size_t> varOrder;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        const Value& v = values[i];
        if (c.type == ColumnType::Boolean && !c.isCalculated()) {
            if (auto b = std::get_if<bool>(&v); b && *b) setPresent(c);
        } else if (!isNull(v)) {
            if (c.isFixed()) {
                setPresent(c);
                encodeFixed(def, c, v, row.data() + f.row.columnCountSize + c.fixedOffset);
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
        Bytes data = encodeVariable(def, c, values[i], pager, longValuePage, where);
        setPresent(c);
        size_t start = row.size();
        row.insert(row.end(), data.begin(), data.end());
        slots[c.varIndex] = {start, row.size()};
    }
    if (varSlots > 0 || def.variableColumns > 0) {
        if (f.row.varOffsetSize == 1) appendNarrowVariableTable(row, slots, mask.size(), where);
        else appendVariableTable(row, slots);
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > f.maxRowSize())
        throw JetError(where + ": the row takes " + std::to_string(row.size()) + " bytes, more than a page holds (" +
                       std::to_string(f.maxRowSize()) + ")");
    return row;
}

} // namespace jet
