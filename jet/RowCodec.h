#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jet/RowPlace.h"
#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

class Pager;

// One table row on a data page (Jet 4):
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
// The variable table and its count are absent when the table has no
// variable-length columns. A row may have been written with fewer columns
// than the table has now (added columns read as null) or hold columns since
// deleted (their numbers are skipped).

class RowCodec {
public:
    // Fixed width of a column in the fixed area.
    static size_t fixedSize(const ColumnDef& column);

    // Decodes into `out` (one value per column of `def`, in column order).
    // `wanted`, when given, marks the columns to decode; the others are left null.
    static void decode(const TableDef& def, const uint8_t* row, size_t size, Pager& pager, const RowPlace& where,
                       std::vector<Value>& out, const std::vector<bool>* wanted = nullptr);

    // The raw bytes of one column inside a row (for long value references):
    // returns false when the column is null or absent.
    struct Span {
        const uint8_t* data = nullptr;
        size_t size = 0;
    };
    static bool columnBytes(const TableDef& def, const ColumnDef& column, const uint8_t* row, size_t size,
                            const RowPlace& where, Span& span);

    static Value decodeFixed(const ColumnDef& column, const uint8_t* data);
};

} // namespace jet
