#pragma once
#include <string>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jetdb {

// Rows as the CSV text mdb-export writes by default, so that scripts written
// for it read ours unchanged:
// - texts, memos, dates, binary, OLE and replication IDs inside the quote,
//   a quote inside doubled, line breaks kept as they are;
// - numbers bare: whole numbers in full, Single with 8 significant digits
//   and Double with 16 ("%g"), Currency with 4 decimals, Numeric with its
//   scale's;
// - Yes/No as 0/1; null and the empty text alike as an empty field;
// - dates through strftime's format, by default "%m/%d/%y %H:%M:%S", to the
//   nearest second;
// - replication IDs as {8-4-4-16} upper-case hexadecimal.
class CsvExport {
public:
    std::string delimiter = ",";
    std::string quote = "\"";
    std::string dateFormat = "%m/%d/%y %H:%M:%S";

    // The header line: the column names, unquoted, delimited.
    std::string header(const jet::TableDef& table) const;
    // One field; nothing for null.
    void appendField(std::string& out, jet::ColumnType type, const jet::Value& value) const;
    std::string formatDate(jet::DateTime date) const;

private:
    void appendQuoted(std::string& out, const char* bytes, size_t size) const;
};

} // namespace jetdb
