#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/ByteOrder.h"
#include "jet/RowPlace.h"
#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

class Pager;

// One row's bytes on a data page, read column by column without building
// Values: listings copy a million rows into column stores, and a value per
// cell would cost more than the decoding itself. The row layout is checked
// once when the view is made; each accessor checks its column's bytes.
// The layout is described in RowCodec.h.
//
// A view borrows the row bytes, the table definition and the pager: it is
// valid while the page it was made from is held (during a scan callback).
class RowView {
public:
    RowView(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, RowPlace where)
        : def_(def), row_(row), size_(size), pager_(pager), where_(where)
    {
        // The one parse of a row's layout (RowCodec.h). Every later read
        // stays between the column count and the variable-column table.
        const Format::RowLayout& layout = def.format->row;
        const size_t countSize = layout.columnCountSize;
        if (size < countSize) damaged("the row is cut short");
        fixedStart_ = countSize;
        columnCount_ = countSize == 2 ? le16(row) : row[0];
        size_t maskSize = (columnCount_ + 7) / 8;
        if (maskSize + countSize > size) damaged("the row's null mask does not fit in the row");
        nullMaskStart_ = size - maskSize;
        varTableStart_ = nullMaskStart_;
        if (def.variableColumns > 0) {
            if (layout.varOffsetSize == 1) parseNarrowVarTable(countSize);
            else parseWideVarTable(countSize);
            hasVarTable_ = true;
        }
    }

    size_t columnCount() const { return def_.columns.size(); }
    // How the row's texts are stored (decode textBytes with it).
    const TextCoding& textCoding() const { return *def_.text; }
    ColumnType type(size_t column) const { return def_.columns[column].type; }

    // Null, or absent from a row written before the column was added.
    // A Boolean column is never null (its bit is its value).
    bool isNull(size_t column) const
    {
        const ColumnDef& c = def_.columns[column];
        if (c.isCalculated()) return calculatedIsNull(c);
        if (c.type == ColumnType::Boolean) return false;
        if (!present(c.number)) return true;
        return !c.isFixed() && (!hasVarTable_ || c.varIndex >= varCount_);
    }

    // Typed reads of a column that is not null, by its type:
    //   boolean: Boolean; integer: Byte, Integer, Long, BigInt, Complex;
    //   real: Single, Double, DateTime (the day number).
    bool boolean(size_t column) const
    {
        const ColumnDef& c = def_.columns[column];
        return c.isCalculated() ? calculatedBoolean(c) : present(c.number);
    }
    int64_t integer(size_t column) const
    {
        const ColumnDef& c = def_.columns[column];
        if (c.isFixed()) {
            if (c.type == ColumnType::Long) return int32_t(le32(fixedBytes(c, 4)));
            if (c.type == ColumnType::Integer) return int16_t(le16(fixedBytes(c, 2)));
            if (c.type == ColumnType::Byte) return *fixedBytes(c, 1);
        }
        return otherInteger(c);
    }
    double real(size_t column) const
    {
        const ColumnDef& c = def_.columns[column];
        if ((c.type == ColumnType::DateTime || c.type == ColumnType::Double) && c.isFixed())
            return leDouble(fixedBytes(c, 8));
        return otherReal(c);
    }
    // The stored bytes of a Text column (of a calculated one, its value's
    // bytes); false when it is null. Decode them with textCoding().decodeTo:
    // at most `size` characters.
    bool textBytes(size_t column, const uint8_t*& data, size_t& size) const;

    // The stored bytes of a column (for long-value references); false when
    // the column is null or absent from the row.
    bool columnBytes(const ColumnDef& column, const uint8_t*& data, size_t& size) const;
    // Any column as a Value (null when null). Memo and OLE columns read their
    // long values through the pager.
    Value value(size_t column) const;
    // Every column into `out`, one per column, overwriting in place so that a
    // scan reusing `out` keeps the storage of its text values. `wanted`,
    // when given, marks the columns to decode; the others are left null.
    void decode(std::vector<Value>& out, const std::vector<bool>* wanted = nullptr) const;
    // Only the listed columns into `out` (one entry per column of the table);
    // the other entries are left as they are.
    void decodeColumns(std::vector<Value>& out, const std::vector<size_t>& columns) const;

private:
    struct Span {
        const uint8_t* data;
        size_t size;
    };
    bool present(uint16_t number) const
    {
        return number < columnCount_ && (row_[nullMaskStart_ + number / 8] & (1 << (number % 8)));
    }
    // The `size` bytes of a fixed column (checked against the row's end).
    const uint8_t* fixedBytes(const ColumnDef& c, size_t size) const
    {
        size_t start = fixedStart_ + size_t(c.fixedOffset);
        if (start + size > varTableStart_) pastTheEnd(c);
        return row_ + start;
    }
    // The bytes of a variable column; false when the row has no such slot.
    bool variableBytes(const ColumnDef& c, Span& span) const
    {
        if (!hasVarTable_ || c.varIndex >= varCount_) return false;
        size_t start = varEntry(c.varIndex);
        size_t end = varEntry(c.varIndex + 1u); // the next slot, or the end of the variable data
        if (start > end || end > varTableStart_) damagedOffsets(c, start, end);
        span = {row_ + start, end - start};
        return true;
    }
    // Entry i of the variable-column table (entry varCount_ is the end of the data).
    size_t varEntry(size_t i) const
    {
        if (!narrow_) return le16(row_ + nullMaskStart_ - 4 - i * 2);
        // Jet 3: one byte each, plus 256 for every jump at or before the entry.
        size_t high = 0;
        for (size_t j = 0; j < jumpCount_; ++j) high += row_[jumpStart_ - j] <= i ? 256 : 0;
        return row_[firstEntry_ - i] + high;
    }
    void parseWideVarTable(size_t countSize)
    {
        if (nullMaskStart_ < 4) damaged("the row's variable-column table does not fit in the row");
        varCount_ = le16(row_ + nullMaskStart_ - 2);
        if (size_t(varCount_) * 2 + 4 + countSize > nullMaskStart_)
            damaged("the row's variable-column count is damaged");
        varTableStart_ = nullMaskStart_ - 4 - size_t(varCount_) * 2;
    }
    // Jet 3, from the end: null mask, the count, the jump table (one entry
    // per 256 bytes of row, possibly one unused 0xFF), then the one-byte
    // offsets, entry 0 first, ending with the end of the data.
    void parseNarrowVarTable(size_t countSize)
    {
        if (nullMaskStart_ < countSize + 2) damaged("the row's variable-column table does not fit in the row");
        narrow_ = true;
        varCount_ = row_[nullMaskStart_ - 1];
        size_t jumps = (size_ - 1) / 256;
        if (jumps + varCount_ + 2 + countSize > nullMaskStart_) damaged("the row's variable-column count is damaged");
        firstEntry_ = nullMaskStart_ - 2 - jumps;
        varTableStart_ = firstEntry_ - varCount_;
        if (varTableStart_ / 256 < jumps) --jumps; // the unused last entry
        jumpStart_ = nullMaskStart_ - 2;
        jumpCount_ = jumps;
    }
    [[noreturn]] void damagedOffsets(const ColumnDef& c, size_t start, size_t end) const;
    int64_t otherInteger(const ColumnDef& c) const;
    bool calculatedBoolean(const ColumnDef& c) const;
    bool calculatedIsNull(const ColumnDef& c) const;
    void decodeCalculated(const ColumnDef& c, Value& v) const;
    double otherReal(const ColumnDef& c) const;
    [[noreturn]] void pastTheEnd(const ColumnDef& c) const;
    void decodeInto(size_t column, Value& v) const;
    [[noreturn]] void damaged(const std::string& what) const;

    const TableDef& def_;
    const uint8_t* row_;
    size_t size_;
    Pager& pager_;
    RowPlace where_;
    unsigned columnCount_ = 0;  // columns the row was written with
    size_t fixedStart_ = 0;     // first byte of the fixed-length columns
    size_t nullMaskStart_ = 0;
    unsigned varCount_ = 0;
    size_t varTableStart_ = 0;  // first byte of the variable-column table
    bool hasVarTable_ = false;
    bool narrow_ = false;       // Jet 3 one-byte offsets
    size_t firstEntry_ = 0;     // Jet 3: the byte of entry 0
    size_t jumpStart_ = 0;      // Jet 3: the first jump, nearest the count
    size_t jumpCount_ = 0;
};

} // namespace jet
