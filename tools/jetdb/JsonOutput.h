#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "jet/RowView.h"
#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jetdb {

// One row as a JSON object, shaped as mdb-json prints it: keys in column
// order, null columns left out, dates as "YYYY-MM-DD HH:MM:SS", booleans 0/1,
// binary and OLE values as {"$binary": base64, "$type": "00"}.
std::string rowToJson(const std::vector<std::string>& names, const std::vector<jet::Value>& values);
std::string jsonString(const std::string& utf8);
void appendJsonString(std::string& out, std::string_view utf8);

// The values of a complex column (attachments, multi-value), for printing
// its value in a row as the array of its rows in the hidden table, each an
// object of the value columns (an attachment's FileData as stored).
struct ComplexJson {
    std::vector<std::string> names;
    std::map<int64_t, std::vector<std::vector<jet::Value>>> values; // by key
};

// The same straight from a stored row, appended to `out`; `keys` holds
// each column's name as a JSON string with its colon. The scratch space
// is reused from row to row. `complex`, when given, holds per column the
// values of a complex column (nullptr for the others); without it a complex
// column prints its key, as mdb-json does.
struct RowJsonScratch {
    std::u16string text;
    std::string utf8;
};
void appendRowJson(std::string& out, const std::vector<std::string>& keys, const jet::RowView& row, RowJsonScratch& scratch,
                   const std::vector<const ComplexJson*>* complex = nullptr);

} // namespace jetdb
