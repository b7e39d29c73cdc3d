#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jet/RowPlace.h"
#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

class Pager;

// One table row on a data page (Jet 4; field sizes from Format::row):
//
//   offset          size   meaning
//   0               2      number of columns the row was written with
//   2               n      fixed-length columns, each at 2 + its fixed offset
//   ...             n      variable-length column data, in slot order
//   end-m-4-2k      2      offset of variable column slot k (k = 0 nearest the end)
//   end-m-4-2v      2      end of the variable data (v = number of slots)
//   end-m-2         2      number of variable slots v
//   end-m           m      null mask, (columns + 7) / 8 bytes, bit per column
//                          number, 1 = present; a Boolean's bit is its value
//
// Jet 3 keeps the column count and the variable count in one byte each and
// the offsets in one byte each, from the end: null mask, variable count,
// jump table, offsets of slot 0, 1, ..., then the end of the data. Offset k
// adds 256 for every jump-table entry at or below k; the table has one entry
// per 256 bytes of the whole row, of which the last is an unused 0xFF when
// the data itself ends in a lower 256-byte block.
//
// The variable table and its count are absent when the table has no
// variable-length columns. A row may have been written with fewer columns
// than the table has now (added columns read as null) or hold columns since
// deleted (their numbers are skipped).
//
// Reading goes through RowView, which parses this layout (the one place
// that does); RowCodec builds rows.
class RowCodec {
public:
    // Decodes into `out` (one value per column of `def`, in column order).
    // `wanted`, when given, marks the columns to decode; the others are left null.
    static void decode(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, const RowPlace& where,
                       std::vector<Value>& out, const std::vector<bool>* wanted = nullptr);
    // A fixed-width value from its stored bytes.
    static Value decodeFixed(const TableDef& def, const ColumnDef& column, const uint8_t* data);

    // The bytes of a row holding `values` (one per column, already coerced
    // to the columns' types). Memo and OLE values go to long-value pages of
    // the pager's write; `longValuePage` is the one it used last (see
    // LongValue::write). Throws when the row does not fit on a page.
    static Bytes encode(const TableDef& def, const std::vector<Value>& values, Pager& pager, uint32_t& longValuePage,
                        const std::string& where);
    // A fixed-width value's bytes (the column's fixed width of them).
    static void encodeFixed(const TableDef& def, const ColumnDef& column, const Value& value, uint8_t* out);

private:
    // The stored bytes of a variable-length value.
    static Bytes encodeVariable(const TableDef& def, const ColumnDef& column, const Value& value, Pager& pager,
                                uint32_t& longValuePage, const std::string& where);
    // The stored bytes of a text value; throws when the file's code page has no code for one of its characters.
    static Bytes encodeText(const TableDef& def, const ColumnDef& column, const Value& value, bool allowCompression,
                            const std::string& where);
    // The variable-column table: slot offsets from the last slot to the
    // first, then the slot count; `slots` holds (start, end) of each slot's
    // data, end 0 for a null column.
    static void appendVariableTable(Bytes& row, const std::vector<std::pair<size_t, size_t>>& slots);
    // Jet 3's table: one-byte offsets with a jump table (see RowView);
    // `maskSize` is the null mask that follows.
    static void appendNarrowVariableTable(Bytes& row, const std::vector<std::pair<size_t, size_t>>& slots,
                                          size_t maskSize, const std::string& where);
};

} // namespace jet
