#include "jet/RowCodec.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/RowView.h"
#include "jet/TextCodec.h"

namespace jet {

namespace {
struct Layout {
    unsigned columnCount = 0;
    size_t nullMaskStart = 0;
    unsigned varCount = 0;
    size_t varTableEnd = 0; // position of the first var offset entry + 2
    size_t varDataStart = 0;
    bool hasVarTable = false;
};

[[noreturn]] void damaged(const RowPlace& where, const std::string& what)
{
    throw JetError(where.str() + ": " + what);
}

Layout layoutOf(const TableDef& def, const uint8_t* row, size_t size, const RowPlace& where)
{
    Layout l;
    if (size < 2) damaged(where, "the row is cut short");
    l.columnCount = le16(row);
    size_t maskSize = (l.columnCount + 7) / 8;
    if (maskSize + 2 > size) damaged(where, "the row's null mask does not fit in the row");
    l.nullMaskStart = size - maskSize;
    l.varDataStart = size;
    if (def.variableColumns > 0) {
        if (l.nullMaskStart < 4) damaged(where, "the row's variable-column table does not fit in the row");
        l.varCount = le16(row + l.nullMaskStart - 2);
        if (size_t(l.varCount) * 2 + 6 > l.nullMaskStart)
            damaged(where, "the row's variable-column count is damaged");
        l.hasVarTable = true;
    }
    return l;
}

bool present(const Layout& l, const uint8_t* row, uint16_t number)
{
    if (number >= l.columnCount) return false;
    return row[l.nullMaskStart + number / 8] & (1 << (number % 8));
}
} // namespace

size_t RowCodec::fixedSize(const ColumnDef& c)
{
    switch (c.type) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return c.length;
    }
}

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

bool RowCodec::columnBytes(const TableDef& def, const ColumnDef& c, const uint8_t* row, size_t size,
                           const RowPlace& where, Span& span)
{
    Layout l = layoutOf(def, row, size, where);
    if (!present(l, row, c.number)) return false;
    if (c.isFixed()) {
        size_t n = fixedSize(c);
        size_t start = 2 + size_t(c.fixedOffset);
        if (start + n > l.nullMaskStart) damaged(where, "column '" + c.utf8Name + "' lies past the end of the row");
        span = {row + start, n};
        return true;
    }
    if (!l.hasVarTable || c.varIndex >= l.varCount) return false;
    size_t entry = l.nullMaskStart - 4 - size_t(c.varIndex) * 2;
    size_t start = le16(row + entry);
    size_t end = le16(row + entry - 2); // the next slot, or the end of the variable data
    if (start > end || end > l.nullMaskStart - 4 - size_t(l.varCount) * 2)
        damaged(where, "column '" + c.utf8Name + "' has damaged offsets (" + std::to_string(start) + ".." +
                           std::to_string(end) + ")");
    span = {row + start, end - start};
    return true;
}

void RowCodec::decode(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, const RowPlace& where,
                      std::vector<Value>& out, const std::vector<bool>* wanted)
{
    RowView(def, row, size, pager, where).decode(out, wanted);
}

} // namespace jet
