#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/IndexNode.h"
#include "jet/PendingEntries.h"
#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

class Database;
class Pager;
class RowView;

// Where a row lives: its data page and slot. It stays the row's identity
// for as long as the row exists (a row that grows out of its page leaves a
// pointer in the slot), so indexes and the data layer refer to rows by it.
struct RowLocator {
    uint32_t page = 0;
    uint8_t row = 0;
    uint32_t packed() const { return (page << 8) | row; }
    static RowLocator fromPacked(uint32_t p) { return RowLocator{p >> 8, uint8_t(p & 0xFF)}; }
    bool operator==(const RowLocator&) const = default;
    auto operator<=>(const RowLocator&) const = default;
};

class Table {
public:
    Table(Database& db, TableDef def);

    const TableDef& def() const { return def_; }
    TableDef& mutableDef() { return def_; }
    const std::string& name() const { return def_.name; }
    Database& database() { return db_; }
    // "'file', table 'name'": where an error happened, for messages.
    const std::string& location() const { return location_; }

    // Pages of the table's usage map, unchecked (may include pages since
    // given to others).
    std::vector<uint32_t> mapPages();
    // Data pages of the table in file order, from its usage map.
    std::vector<uint32_t> dataPages();

    // Visits every live row in storage order; return false to stop. `wanted`
    // marks the columns to decode (others stay null).
    using RowVisitor = std::function<bool(RowLocator, std::vector<Value>&)>;
    void scan(const RowVisitor& visit, const std::vector<bool>* wanted = nullptr);
    // The same without decoding: each row as a view of its bytes, valid
    // during the call.
    using RowViewVisitor = std::function<bool(RowLocator, const RowView&)>;
    void scanViews(const RowViewVisitor& visit);

    // The row at a locator, or nothing when the slot is deleted or absent.
    std::optional<std::vector<Value>> read(RowLocator at);

    // The bytes of the row at a locator, following an overflow pointer.
    // Returns the page (kept alive) and the row's byte range.
    struct RowBytes {
        std::shared_ptr<const struct PageBuffer> page;
        uint32_t pageNumber = 0;
        const uint8_t* data = nullptr;
        size_t size = 0;
    };
    std::optional<RowBytes> rowBytes(RowLocator at);

    // Writes; each needs a write transaction on the database (Database::beginWrite).
    //
    // Inserts a row. `values` holds one entry per column of def().columns:
    // nothing (std::nullopt) lets the table fill it in (the next autonumber,
    // the column's default value, else null); a Value is stored as given.
    // Complex columns take a new key (with no values) and calculated ones
    // stay null: a value given for either is refused.
    // Updates the row count, the autonumber and every index.
    RowLocator insertRow(const std::vector<std::optional<Value>>& values);
    // Stores a row read from a table of the same definition (in another
    // file) as it was: values as given, types the engine does not know
    // included, no defaults; indexes and counters follow as for insertRow.
    RowLocator insertCopy(const std::vector<Value>& values);
    // Changes the given columns (index into def().columns) of a live row. The
    // row keeps its locator even when it has to move to another page.
    // Complex and calculated columns are refused; the others keep what
    // Access stored in them.
    void updateRow(RowLocator at, const std::vector<std::pair<size_t, Value>>& changes);
    // Deletes a live row, its long values, its index entries and the values
    // of its complex columns.
    void deleteRow(RowLocator at);

    // Writes the index changes collected by the transaction's row writes
    // (the database calls it before committing).
    void flushIndexes();
    // The memory the index entries the transaction adds take until the
    // flush, and the build's way to move them to sorted runs of a file
    // (Database::spillIfLarge).
    size_t pendingIndexMemory() const;
    void spillPendingIndexEntries(EntryRunFile& runs);
    // Reads the definition again from the file (another process may have changed it).
    void reloadDefinition();
    // Forgets index changes of a transaction that was rolled back.
    void dropPendingWrites();

private:
    // A calculated column's type code says little: its value has the type
    // its ResultType property names, which the definition then takes.
    void resolveCalculatedTypes();
    // Puts row bytes on a data page of this table with room (or a new page)
    // and returns where; `flags` are added to the slot (0x8000 overflow row).
    RowLocator placeRow(const Bytes& row, uint16_t flags);
    uint32_t newDataPage();
    // Marks the long values a row's memo and OLE columns use deleted.
    void releaseLongValues(const uint8_t* row, size_t size, uint32_t pageNumber);
    // Brings each value to its column's type (ValueCoercion).
    void checkValues(std::vector<Value>& values) const;
    // Throws when a write gives a value to a column of a type the engine does not know.
    void refuseUnknownType(const ColumnDef& c) const;
    // Throws when a write gives a value to a column whose values Access
    // keeps elsewhere (complex) or computes (calculated).
    void refuseUnwritable(const ColumnDef& c) const;
    // Deletes the values the complex columns of a deleted row had.
    void deleteComplexValues(const std::vector<Value>& row);
    // Throws when a row would put a null key column into an index that admits none.
    void refuseNullKeys(const std::vector<Value>& values) const;
    // The update written over the old bytes of fixed-width columns, when
    // that is all it takes; false (and nothing done) when it is not.
    bool updateInPlace(RowLocator at, const std::vector<std::pair<size_t, Value>>& changes);
    void queueIndexChanges(const std::vector<Value>* oldValues, RowLocator oldAt, const std::vector<Value>* newValues,
                           RowLocator newAt);
    void writeCounters();
    // The change of a row in an index whose text keys the engine cannot
    // write: a removal is found by the row; an addition is refused.
    void queueUnencodableChange(size_t index, const std::vector<Value>* oldValues, RowLocator oldAt,
                                const std::vector<Value>* newValues);

    // Per physical index: entries to remove and to add at flush.
    struct PendingIndex {
        PendingEntries removals, additions;
    };
    // Throws when a unique index would hold `key` twice, counting the
    // transaction's pending entries and the tree.
    void refuseDuplicate(const RealIndex& index, PendingIndex& pending, const Bytes& key);

    Database& db_;
    TableDef def_;
    std::string location_;
    std::vector<PendingIndex> pending_;
    uint32_t insertPage_ = 0; // data page last written by an insert
    uint32_t longValuePage_ = 0; // long-value page the write used last (LongValue::write)
};

} // namespace jet
