#pragma once
#include <string>
#include <vector>

namespace jet {

class Database;
class Table;

// Integrity check of a whole file, the way a reader that trusts the file
// would be hurt by it:
//   - every index entry points at a live row whose key matches, in order,
//     and every live row is in every index that must hold it;
//   - each table's row count matches its live rows (a system table's
//     count is only a note), and each unique index holds no key twice
//     (keys with a null column are never the same key, as in Jet);
//   - the usage map of each table covers every data page it owns that
//     holds a live row and names no page it does not own.
// Damage that stops a table from being read at all is reported as one
// problem for that table; the other tables are still checked.
//
// Rows are read once and not kept: each adds its entry to a compact list
// per index, which is sorted and walked along the index's tree, so memory
// grows with the index keys, not with the rows.
class Checker {
public:
    explicit Checker(Database& db) : db_(db) {}
    // One line per problem; empty when the file is clean.
    std::vector<std::string> run();
    // What the last run found that Access itself leaves in its files and
    // that hurts no reader (the row counts of system tables, emptied pages
    // left out of a usage map, map-page slots of the map of free pages past
    // the end of the file); not problems.
    const std::vector<std::string>& notes() const { return notes_; }

private:
    // The rows against the row count and against every index.
    void checkRowsAndIndexes(Table& table);

    Database& db_;
    std::vector<std::string> problems_;
    std::vector<std::string> notes_;
};

} // namespace jet
