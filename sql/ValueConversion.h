#pragma once
#include <string>

#include "jet/TableDef.h"
#include "jet/TextCoding.h"
#include "jet/Value.h"

namespace sql {

// Converts a value given in a statement (or by the data layer) to what a
// column stores, as Jet does on insert and update: numbers to any number
// column (rounded half to even to its scale; out of range is an overflow), text only to
// text, dates only to dates. Null goes into any column but a required one;
// a Yes/No column cannot hold null and takes No.
class ValueConversion {
public:
    struct Result {
        jet::Value value;
        std::string error; // empty on success; a message naming the column
    };
    // `text`: how the table's file stores texts (a Text column's length is
    // bytes: two per character in UTF-16, one or two in a code page).
    static Result toColumn(const jet::Value& value, const jet::ColumnDef& column, const std::string& tableName,
                           const jet::TextCoding& text = jet::TextCoding::unicode());

    // Decimal digits (no sign, no point) with `scale` of them after the
    // point, as an exact Jet decimal; false when more than 28 digits.
    static bool decimalFromDigits(const std::string& digits, int scale, bool negative, jet::Decimal& out);
};

} // namespace sql
