#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace jet {

// Copies a database into a new file table by table, as Access's compact
// does: the same tables (system tables included), column and index
// definitions, rows, catalog objects with their properties, relationships
// and permissions, but none of the space that deleted rows, released pages
// and drifted counters take in the old file. Row counts and the
// unique-entry counts of indexes come out exact.
//
// A table's object id is its definition page, which the copy changes: the
// catalog rows of tables (MSysObjects.Id), their permissions
// (MSysACEs.ObjectId), Access's navigation pane entries and the related
// table of each relationship's index are given the new ids.
//
// The copy keeps the database password and, unless told otherwise, the
// encoding of `from`; Access's "Encode/Decode Database" is such a copy that
// encodes or decodes its pages.
struct CompactOptions {
    enum class Encoding { Keep, Encode, Decode };
    std::string password; // the database password of `from`, when it has one
    Encoding encoding = Encoding::Keep;
    // Bytes of index entries held before they are sorted out to a temporary
    // file beside `to` (Database::setIndexMemory); 0 for the default.
    size_t indexMemory = 0;
};

class Compactor {
public:
    // Called now and then while rows are copied.
    using Progress = std::function<void(const std::string& table, uint64_t rowsCopied, uint64_t rowsInTable)>;

    // Never writes over `from`; refuses when `to` exists. The copy is built
    // under a temporary name beside `to` and renamed to `to` once complete,
    // so that a failure or a killed process leaves no `to`.
    static void compact(const std::string& from, const std::string& to, const Progress& progress = {},
                        const CompactOptions& options = {});
};

} // namespace jet
