#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/EntryRunFile.h"
#include "jet/HeaderPage.h"
#include "jet/Pager.h"
#include "jet/PropertyMap.h"
#include "jet/Table.h"

namespace jet {

// One object of the catalog (a row of MSysObjects, whose definition is
// always on page 2).
struct CatalogEntry {
    int32_t id = 0;
    int32_t parentId = 0;
    std::string name;
    int32_t type = 0;     // 1 local table, 5 query, 4/6 linked tables, 3 container ...
    uint32_t flags = 0;
    RowLocator locator;
    Bytes properties;     // LvProp: the property blob (default values, ...)

    bool isTable() const { return type == 1; }
    bool isSystem() const { return (flags & 0x80000002u) != 0 || name.rfind("MSys", 0) == 0; }
    uint32_t definitionPage() const { return uint32_t(id) & 0x00FFFFFFu; }
};

// An open Access database file: Jet 3 (Access 97), Jet 4 (Access 2000-2003)
// or ACE (Access 2007-2019, .accdb).
class Database {
public:
    // `password`: the database password (UTF-8), empty for none; a file with
    // a password refuses any other with PasswordError, a file without one
    // ignores it (as Jet does). Encoded files are read and written encoded.
    // `creating`: the file is being made and has no catalog yet.
    static std::unique_ptr<Database> open(const std::string& path, Pager::Access access = Pager::Access::ReadOnly,
                                          const std::string& password = {}, bool creating = false);
    ~Database();

    const std::string& path() const { return pager_->path(); }
    Pager& pager() { return *pager_; }
    const HeaderPage& header() const { return header_; }

    const std::vector<CatalogEntry>& catalog();
    // Names of tables in catalog order; user tables only unless asked.
    std::vector<std::string> tableNames(bool includeSystem = false);
    bool hasTable(const std::string& name);
    // Case-insensitive; throws JetError "table 'x' not found in 'file'".
    Table& table(const std::string& name);
    const CatalogEntry* catalogEntry(const std::string& tableName);
    // The table's properties (default values ...); empty when it has none.
    const PropertyMap& properties(const std::string& tableName);

    // Write transactions. beginWrite takes the file's writer lock (LockedError
    // when another process holds it) and starts a transaction; nothing reaches
    // the file before commit, which is atomic (see Pager). rollback drops the
    // transaction's changes. Table definitions read inside a transaction stay
    // valid after commit; after rollback they are reloaded.
    void beginWrite();
    void commit();
    void rollback();
    bool inWrite() const;
    // A statement of a transaction ended: its index changes are written (in
    // the transaction). A failed one dooms the transaction (see WriteTransaction).
    void endStatement();
    void failStatement() { failedStatement_ = true; }

    // Between the row writes of a private build (Pager::setPrivateBuild):
    // keeps what the transaction holds in memory bounded, whatever its size.
    // Index entries past the budget are sorted into runs of a temporary
    // file beside the database (EntryRunFile), which goes with the
    // transaction; changed pages past the cache go to the file early
    // (Pager::spillIfLarge). Does nothing in other transactions.
    void spillIfLarge();
    static constexpr size_t kDefaultIndexMemory = 24u << 20;
    // The memory for index entries of a private build's transaction (tests
    // set a small one to sort even small files through the file).
    void setIndexMemory(size_t bytes) { indexMemory_ = bytes; }
    // The file the transaction sorted index entries into; null when none.
    EntryRunFile* indexRuns() { return indexRuns_.get(); }

    // Sets, changes or (empty) removes the database password, as Access's
    // "Set Database Password" does: page 0 changes in a write of its own.
    void setPassword(const std::string& password);

    // The catalog table itself (MSysObjects, page 2).
    Table& catalogTable();
    // Throws when a usage map names a page at or past the end of the file
    // (the pager asks before a transaction's first new page).
    void refuseAllocationPastNamedPages();

    // Forgets the catalog rows (after a table was added) but keeps the
    // table objects and their pending writes.
    void invalidateCatalog();

    // Forgets catalog and table definitions (after a write or to see another
    // process's changes).
    void reload();

private:
    friend class WriteTransaction;
    explicit Database(std::unique_ptr<Pager> pager);
    void loadCatalog();

    std::unique_ptr<Pager> pager_;
    HeaderPage header_;
    bool catalogLoaded_ = false;
    bool failedStatement_ = false;
    std::vector<CatalogEntry> catalog_;
    std::map<std::string, std::unique_ptr<Table>> tables_; // key: lower-case name
    std::map<std::string, PropertyMap> properties_;        // key: lower-case name
    size_t indexMemory_ = kDefaultIndexMemory;
    std::unique_ptr<EntryRunFile> indexRuns_;
};

// A write transaction that rolls back unless committed. Inside a
// transaction already running (a caller's, spanning several statements) it
// is one statement of that transaction: its commit writes the index changes
// so far, so that the next statement reads a consistent state, and a
// statement that fails dooms the whole transaction (there are no statement
// savepoints): its commit then rolls everything back and says so.
class WriteTransaction {
public:
    explicit WriteTransaction(Database& db) : db_(db), statement_(db.inWrite())
    {
        if (!statement_) db_.beginWrite();
    }
    ~WriteTransaction()
    {
        if (done_) return;
        if (statement_) db_.failStatement();
        else try { db_.rollback(); } catch (...) {}
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit()
    {
        done_ = true;
        if (statement_) db_.endStatement();
        else db_.commit();
    }

private:
    Database& db_;
    const bool statement_;
    bool done_ = false;
};

} // namespace jet
