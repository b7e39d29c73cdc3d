#pragma once
#include <string>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jetdb {

// A CSV field read as a value for a column of its type; the engine then
// brings it into the column's range, scale and length. Accepted:
// - texts and memos as they are (UTF-8);
// - whole numbers "[-]digits"; Single, Double "[-]digits[.digits][e[-]digits]";
//   Currency and Numeric "[-]digits[.digits]" (Currency to 4 decimals);
// - dates "YYYY-MM-DD[ HH:MM[:SS]]" (or with 'T'), and mdb-export's
//   "MM/DD/YY[YY][ HH:MM[:SS]]", a two-digit year 30-99 in the 1900s, 00-29
//   in the 2000s as Access reads it;
// - Yes/No as 1/0/-1, true/false, yes/no (any case);
// - replication IDs as 32 hexadecimal digits in groups, with or without braces;
// - binary and OLE values as the field's bytes.
// A refused field throws std::invalid_argument saying what the column holds.
class CsvFieldParser {
public:
    static jet::Value parse(const jet::ColumnDef& column, const std::string& field);
    // A date in either form; false when the text is neither or not a real date.
    static bool parseDate(const std::string& text, jet::DateTime& out);
};

} // namespace jetdb
