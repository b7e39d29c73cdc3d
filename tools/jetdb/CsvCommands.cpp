// jetdb export and import: a table's rows as CSV and back.
#include "Commands.h"
#include "CsvExport.h"
#include "CsvFieldParser.h"
#include "CsvReader.h"

#include "base/NameCase.h"
#include "jet/Database.h"
#include "jet/JetError.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

namespace jetdb {
namespace {

// "\t", "\n" and "\r" in an option's text stand for those characters, as
// mdb-export reads its delimiter and quote (a shell passes them literally).
std::string withEscapes(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 't') out += '\t';
        else if (next == 'n') out += '\n';
        else if (next == 'r') out += '\r';
        else (out += '\\') += next;
    }
    return out;
}

// The value an option takes, from the next argument.
std::string optionValue(const std::vector<std::string>& a, size_t& i, const char* what)
{
    if (i + 1 >= a.size()) throw UsageError(a[i] + " needs " + what);
    return a[++i];
}

int exportCommand(const std::vector<std::string>& a)
{
    CsvExport csv;
    bool header = true, json = false;
    std::vector<std::string> files;
    for (size_t i = 0; i < a.size(); ++i) {
        const std::string& arg = a[i];
        if (arg == "-d" || arg == "--delimiter") csv.delimiter = withEscapes(optionValue(a, i, "the delimiter"));
        else if (arg == "-q" || arg == "--quote") csv.quote = withEscapes(optionValue(a, i, "the quote"));
        else if (arg == "-Q" || arg == "--no-quote") csv.quote.clear();
        else if (arg == "-H" || arg == "--no-header") header = false;
        else if (arg == "-D" || arg == "--date-format" || arg == "-T" || arg == "--datetime-format")
            csv.dateFormat = optionValue(a, i, "a strftime format, such as '%Y-%m-%d %H:%M:%S'");
        else if (arg == "--json") json = true;
        else if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'");
        else files.push_back(arg);
    }
    if (files.size() < 2) throw UsageError("missing arguments");
    if (files.size() > 2) throw UsageError("too many arguments");
    if (json) return findCommand("json")->run(files);

    auto db = openDatabase(files[0]);
    jet::Table& table = db->table(files[1]);
    std::vector<jet::ColumnType> types;
    for (const jet::ColumnDef& c : table.def().columns) types.push_back(c.type);
    // Written in blocks of a pipe's size, as jetdb json writes.
    constexpr size_t kBlock = 1 << 16;
    std::string out;
    if (header) out = csv.header(table.def()) + "\n";
    table.scan([&](jet::RowLocator, std::vector<jet::Value>& row) {
        for (size_t c = 0; c < row.size() && c < types.size(); ++c) {
            if (c) out += csv.delimiter;
            csv.appendField(out, types[c], row[c]);
        }
        out += '\n';
        if (out.size() >= kBlock) {
            std::cout.write(out.data(), std::streamsize(out.size()));
            out.clear();
        }
        return true;
    });
    std::cout.write(out.data(), std::streamsize(out.size()));
    std::cout.flush();
    return 0;
}

std::string readWholeFile(const std::string& path)
{
    // From UTF-8 explicitly: a narrow path means the ANSI code page on Windows.
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) throw UsageError("cannot read the CSV file '" + path + "'");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int importCommand(const std::vector<std::string>& a)
{
    std::string delimiter = ",";
    std::vector<std::string> files;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "-d" || a[i] == "--delimiter") delimiter = withEscapes(optionValue(a, i, "the delimiter"));
        else if (a[i].size() > 1 && a[i][0] == '-') throw UsageError("unknown option '" + a[i] + "'");
        else files.push_back(a[i]);
    }
    if (files.size() < 3) throw UsageError("missing arguments");
    if (files.size() > 3) throw UsageError("too many arguments");
    const std::string& csvPath = files[2];
    CsvReader csv(readWholeFile(csvPath), csvPath, delimiter);

    auto db = openDatabase(files[0], jet::Pager::Access::ReadWrite);
    jet::Table& table = db->table(files[1]);
    const jet::TableDef& def = table.def();

    // The header names the columns, in any order and case; the others take
    // their defaults (an autonumber its next number).
    CsvReader::Record record;
    if (!csv.next(record)) throw UsageError(csvPath + " is empty: its first line names the columns");
    std::vector<size_t> columnOf; // per CSV field, the table's column
    std::map<std::string, size_t> seen;
    for (const std::string& name : record.fields) {
        const std::string key = base::NameCase::foldUtf8(name);
        size_t found = def.columns.size();
        for (size_t c = 0; c < def.columns.size(); ++c)
            if (base::NameCase::foldUtf8(def.columns[c].utf8Name) == key) found = c;
        if (found == def.columns.size())
            throw UsageError(csvPath + " line " + std::to_string(record.line) + ": table '" + def.name +
                             "' has no column '" + name + "'");
        if (!seen.emplace(key, found).second)
            throw UsageError(csvPath + " line " + std::to_string(record.line) + ": column '" + name +
                             "' is named twice");
        columnOf.push_back(found);
    }

    // One transaction: a refused row rolls back every row before it.
    jet::WriteTransaction tx(*db);
    size_t rows = 0;
    std::vector<std::optional<jet::Value>> values(def.columns.size());
    while (csv.next(record)) {
        const std::string where = csvPath + " line " + std::to_string(record.line);
        if (record.fields.size() == 1 && record.fields[0].empty() && columnOf.size() != 1) continue; // blank line
        if (record.fields.size() != columnOf.size())
            throw std::runtime_error(where + ": " + std::to_string(record.fields.size()) + " fields where the header has " +
                                     std::to_string(columnOf.size()) + "; nothing was imported");
        std::fill(values.begin(), values.end(), std::nullopt);
        for (size_t f = 0; f < record.fields.size(); ++f) {
            const jet::ColumnDef& column = def.columns[columnOf[f]];
            const std::string& field = record.fields[f];
            // An empty field is null, as mdb-export writes one; an
            // autonumber or a replication ID left empty is made as usual.
            if (field.empty()) {
                if (!column.isAutoNumber() && !column.isAutoGuid()) values[columnOf[f]].emplace(std::monostate{});
                continue;
            }
            try {
                values[columnOf[f]] = CsvFieldParser::parse(column, field);
            } catch (const std::invalid_argument& e) {
                throw std::runtime_error(where + ", column '" + column.utf8Name + "': " + e.what() +
                                         "; nothing was imported");
            }
        }
        try {
            table.insertRow(values);
        } catch (const jet::JetError& e) {
            throw std::runtime_error(where + ": " + e.what() + "; nothing was imported");
        }
        db->spillIfLarge();
        ++rows;
    }
    tx.commit();
    std::cout << "imported " << rows << " rows into " << def.name << "\n";
    return 0;
}

CommandRegistration exportRegistration(
    {"export", "export [-d DELIM] [-q QUOTE | -Q] [-H] [-D FORMAT] [--json] FILE TABLE",
     "the table's rows as CSV, as mdb-export writes them: a header line of the column names, fields delimited by a "
     "comma (-d), texts, dates and binary values in double quotes (-q; -Q none) with a quote inside doubled, dates "
     "as strftime's FORMAT makes them (-D; '%m/%d/%y %H:%M:%S' by default); -H leaves the header out, --json prints "
     "the rows as jetdb json does",
     exportCommand,
     "Options:\n"
     "  -d, --delimiter DELIM   between fields (\\t for a tab); a comma by default\n"
     "  -q, --quote QUOTE       around texts, dates, binary values; a double quote by default\n"
     "  -Q, --no-quote          no quote at all\n"
     "  -H, --no-header         no line of column names\n"
     "  -D, --date-format FMT   dates through strftime's FMT (-T, --datetime-format too)\n"
     "  --json                  one JSON object per row instead, as jetdb json prints\n"
     "Numbers are bare: Single with 8 significant digits, Double with 16, Currency with 4 decimals, Numeric with "
     "the column's scale; Yes/No as 0 and 1; null and the empty text alike as an empty field; binary and OLE values "
     "as their bytes inside the quote. Rows come in the order the table stores them.\n"
     "Example, a tab-separated file with ISO dates:\n"
     "  jetdb export -d '\\t' -D '%Y-%m-%d %H:%M:%S' db/vask.mdb all_key > keys.tsv"});
CommandRegistration importRegistration(
    {"import", "import [-d DELIM] FILE TABLE CSV",
     "add the rows of a CSV file whose first line names the columns (the others take their defaults), all in one "
     "transaction: a bad value stops the import with its CSV line and column and leaves the file as it was. Texts as "
     "they are, numbers with a point, dates as YYYY-MM-DD HH:MM:SS or MM/DD/YY HH:MM:SS, Yes/No as 1/0/true/false, "
     "an empty field as null",
     importCommand,
     "Option: -d, --delimiter DELIM, the delimiter between fields (a comma by default).\n"
     "Fields in double quotes may hold the delimiter, line breaks and a doubled quote, as jetdb export and "
     "mdb-export write them. Values by the column's type: texts and memos as they are (UTF-8); whole numbers "
     "[-]digits; Single and Double [-]digits[.digits][e[-]digits]; Currency (4 decimals) and Numeric (the column's "
     "scale) [-]digits[.digits]; dates YYYY-MM-DD[ HH:MM[:SS]] or MM/DD/YY[YY][ HH:MM[:SS]] (a two-digit year 30-99 "
     "in the 1900s, 00-29 in the 2000s); Yes/No 1, 0, -1, true, false, yes, no; replication IDs as "
     "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; binary and OLE values as the field's bytes. An empty field is null "
     "(an autonumber left empty takes the next number). Attachment and multi-value columns cannot be imported.\n"
     "Nothing is written unless every row is: the error names the CSV line and column of the first refused value "
     "and the file stays as it was, byte for byte.\n"
     "Example: jetdb export db/vask.mdb all_key > keys.csv, then jetdb import other.mdb all_key keys.csv"});

} // namespace
} // namespace jetdb
