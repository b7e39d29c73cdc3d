#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/Format.h"
#include "jet/Value.h"

namespace jet {

class Database;
struct HeaderPage;
struct TableDef;

// What a new table looks like.
struct ColumnSpec {
    std::string name;
    ColumnType type = ColumnType::Long;
    uint16_t length = 0;       // Text: characters (1..255); Binary: bytes
    bool autoNumber = false;   // Long only
    bool required = false;
    uint8_t precision = 18;    // Numeric
    uint8_t scale = 0;         // Numeric
    std::string defaultValue;  // the DefaultValue expression, e.g. "Now()", "1"
};

struct IndexSpec {
    std::string name;
    std::vector<std::pair<std::string, bool>> columns; // column name, ascending
    bool primaryKey = false;
    bool unique = false;
    bool ignoreNulls = false; // rows whose key columns are all null get no entry
    bool required = false;    // no key column may be null (always so for a primary key)
};

struct TableSpec {
    std::string name;
    std::vector<ColumnSpec> columns;
    std::vector<IndexSpec> indexes;
    bool system = false;
};

// Creates Jet 4, ACE and Jet 3 files and tables. The layout follows what Access
// writes: the table definition (on a chain of pages when it is longer than
// one, its bytes running on after each later page's header), one data page
// holding the table's usage maps (inline maps of 64 bytes: pages used, pages
// with free space, and one per index), and an empty leaf page as each
// index's root. The table's catalog row goes into MSysObjects with its
// default values in the property blob.
class SchemaWriter {
public:
    // Creates a new, empty database file with the system tables Jet keeps
    // in every file (MSysObjects, MSysACEs, MSysQueries, MSysRelationships;
    // MSysComplexColumns too in an ACE file). Fails if the file exists.
    // Jet 4 and ACE files store texts in UTF-16 (the code page only goes
    // into the header); Jet 3 files in the code page (1252 or 936). Text
    // columns take the General sort order in the version the format writes
    // (the second from Access 2010 on).
    static std::unique_ptr<Database> createDatabase(const std::string& path, const Format& format = Format::jet4(),
                                                    uint16_t codePage = 1252);
    // Adds a table; needs a write transaction. Returns its definition page.
    static uint32_t createTable(Database& db, const TableSpec& spec);

    // Declares another text sort order (an LCID such as 2052, Chinese PRC)
    // in the header and in every Text and Memo column of the user tables,
    // leaving the keys as they are: the engine then treats those keys as
    // ones it cannot write (a fixture for tests and diagnosis; a file made
    // by Access in that sort order has keys in it). Needs a write transaction.
    static void declareSortOrder(Database& db, uint16_t lcid);

    // For copying a file table by table (compact):
    //
    // A new file with a header page and the map of free pages only; the
    // first table written into it must be MSysObjects, on page 2. The header
    // takes `like`'s creation date, code page, sort order, database key (the
    // new file is encoded when it is not 0) and database password.
    static std::unique_ptr<Database> createEmptyDatabase(const std::string& path, const Format& format,
                                                         const HeaderPage& like);
    // How many definition pages a table's definition takes.
    static size_t definitionPageCount(const TableDef& source);
    // Writes another file's table definition onto the given (allocated)
    // pages: the same bytes, with no rows, new empty usage maps and index
    // roots, and table pages of relationships translated by `tablePages`
    // (old definition page to new). Needs a write transaction.
    static void copyDefinition(Database& db, const TableDef& source, const std::vector<uint32_t>& pages,
                               const std::map<uint32_t, uint32_t>& tablePages);
};

} // namespace jet
