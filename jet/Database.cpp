#include "jet/Database.h"

#include "base/NameCase.h"
#include "jet/JetError.h"
#include "jet/TableDef.h"
#include "jet/UsageMap.h"

#include <cstring>

namespace jet {

namespace {
constexpr uint32_t kCatalogPage = 2;

template <typename T>
T numberOr(const Value& v, T fallback)
{
    if (auto p = std::get_if<int64_t>(&v)) return T(*p);
    return fallback;
}
} // namespace

Database::Database(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}
Database::~Database() = default;

std::unique_ptr<Database> Database::open(const std::string& path, Pager::Access access, const std::string& password,
                                         bool creating)
{
    std::unique_ptr<Database> db(new Database(Pager::open(path, access)));
    PageRef page0 = db->pager_->read(0);
    db->header_ = HeaderPage::parse(page0->data, path);
    if (db->pager_->format().textStorage == Format::TextStorage::CodePage) {
        const TextCoding* coding = TextCoding::forCodePage(db->header_.codePage);
        if (!coding)
            throw UnsupportedFormatError("'" + path + "' keeps its texts in code page " +
                                         std::to_string(db->header_.codePage) +
                                         ", which this program does not read (it reads 1252 and 936)");
        db->pager_->setTextCoding(*coding);
    }
    db->header_.checkPassword(password, path);
    if (!creating && db->pager_->pageCount() <= kCatalogPage)
        throw JetError("'" + path + "' is cut short: it has no catalog page");
    if (!creating) db->pager_->setAllocationGuard([raw = db.get()] { raw->refuseAllocationPastNamedPages(); });
    return db;
}

Table& Database::catalogTable()
{
    auto it = tables_.find("msysobjects");
    if (it != tables_.end()) return *it->second;
    auto t = std::make_unique<Table>(*this, TableDef::read(*pager_, kCatalogPage, "MSysObjects"));
    Table& ref = *t;
    tables_["msysobjects"] = std::move(t);
    return ref;
}

void Database::invalidateCatalog()
{
    catalogLoaded_ = false;
    catalog_.clear();
    properties_.clear();
}

void Database::reload()
{
    catalogLoaded_ = false;
    catalog_.clear();
    tables_.clear();
    properties_.clear();
}

void Database::loadCatalog()
{
    if (catalogLoaded_) return;
    TableDef def = TableDef::read(*pager_, kCatalogPage, "MSysObjects");
    // A calculated column's type lives in the catalog's own properties, so
    // the catalog cannot have one; a file that says so is damaged.
    for (const ColumnDef& c : def.columns)
        if (c.isCalculated())
            throw JetError("'" + path() + "': the catalog (MSysObjects) marks its column " + c.utf8Name +
                           " as calculated, which the catalog never is: the file is damaged");
    Table sys(*this, std::move(def));
    const TableDef& d = sys.def();
    auto col = [&](const char* name) -> size_t {
        const ColumnDef* c = d.findColumn(name);
        if (!c) throw JetError("'" + path() + "': the catalog (MSysObjects) has no column " + name);
        return d.columnIndex(c->number);
    };
    size_t idCol = col("Id"), parentCol = col("ParentId"), nameCol = col("Name"), typeCol = col("Type"),
           flagsCol = col("Flags");
    const ColumnDef* propDef = d.findColumn("LvProp");
    size_t propCol = propDef ? d.columnIndex(propDef->number) : size_t(-1);
    std::vector<bool> wanted(d.columns.size(), false);
    for (size_t c : {idCol, parentCol, nameCol, typeCol, flagsCol}) wanted[c] = true;
    if (propDef) wanted[propCol] = true;

    catalog_.clear();
    sys.scan(
        [&](RowLocator at, std::vector<Value>& v) {
            CatalogEntry e;
            e.id = numberOr<int32_t>(v[idCol], 0);
            e.parentId = numberOr<int32_t>(v[parentCol], 0);
            if (auto s = std::get_if<std::u16string>(&v[nameCol])) e.name = toUtf8(*s);
            e.type = numberOr<int32_t>(v[typeCol], 0) & 0x7FFF;
            e.flags = numberOr<uint32_t>(v[flagsCol], 0);
            e.locator = at;
            if (propDef)
                if (auto b = std::get_if<Bytes>(&v[propCol])) e.properties = std::move(*b);
            catalog_.push_back(std::move(e));
            return true;
        },
        &wanted);
    catalogLoaded_ = true;
}

const std::vector<CatalogEntry>& Database::catalog()
{
    loadCatalog();
    return catalog_;
}

std::vector<std::string> Database::tableNames(bool includeSystem)
{
    std::vector<std::string> out;
    for (const CatalogEntry& e : catalog())
        if (e.isTable() && (includeSystem || !e.isSystem())) out.push_back(e.name);
    return out;
}

const CatalogEntry* Database::catalogEntry(const std::string& tableName)
{
    for (const CatalogEntry& e : catalog())
        if (e.isTable() && base::NameCase::equalUtf8(e.name, tableName)) return &e;
    return nullptr;
}

bool Database::hasTable(const std::string& name) { return catalogEntry(name) != nullptr; }

Table& Database::table(const std::string& name)
{
    std::string key = base::NameCase::foldUtf8(name);
    auto it = tables_.find(key);
    if (it != tables_.end()) return *it->second;
    const CatalogEntry* e = catalogEntry(name);
    if (!e) throw JetError("Table '" + name + "' not found in '" + path() + "'");
    uint32_t page = e->definitionPage();
    if (page == 0 || page >= pager_->pageCount())
        throw JetError("'" + path() + "': the catalog places table '" + e->name + "' at page " +
                       std::to_string(page) + ", which does not exist");
    auto t = std::make_unique<Table>(*this, TableDef::read(*pager_, page, e->name));
    Table& ref = *t;
    tables_[key] = std::move(t);
    return ref;
}

const PropertyMap& Database::properties(const std::string& tableName)
{
    std::string key = base::NameCase::foldUtf8(tableName);
    auto it = properties_.find(key);
    if (it != properties_.end()) return it->second;
    const CatalogEntry* e = catalogEntry(tableName);
    PropertyMap map(pager_->textCoding());
    if (e) map = PropertyMap::parse(e->properties, "'" + path() + "', table '" + e->name + "'", pager_->textCoding());
    return properties_[key] = std::move(map);
}

void Database::beginWrite()
{
    pager_->beginWrite();
    // Another process may have written since the definitions were read:
    // counters and index roots must be the file's current ones.
    try {
        invalidateCatalog();
        for (auto& [name, table] : tables_) table->reloadDefinition();
    } catch (...) {
        pager_->rollback();
        throw;
    }
}

void Database::endStatement()
{
    try {
        for (auto& [name, table] : tables_) table->flushIndexes();
    } catch (...) {
        failedStatement_ = true;
        throw;
    }
}

void Database::spillIfLarge()
{
    if (!pager_->privateBuild() || !pager_->inWrite()) return;
    size_t held = 0;
    for (auto& [name, table] : tables_) held += table->pendingIndexMemory();
    if (held > indexMemory_) {
        if (!indexRuns_) indexRuns_ = std::make_unique<EntryRunFile>(path(), indexMemory_);
        for (auto& [name, table] : tables_) table->spillPendingIndexEntries(*indexRuns_);
    }
    pager_->spillIfLarge();
}

void Database::commit()
{
    if (failedStatement_) {
        rollback();
        throw JetError("'" + path() + "': a statement of the transaction failed, so nothing of it was saved");
    }
    try {
        for (auto& [name, table] : tables_) table->flushIndexes();
    } catch (...) {
        rollback();
        throw;
    }
    indexRuns_.reset();
    pager_->commit();
}

void Database::rollback()
{
    failedStatement_ = false;
    indexRuns_.reset();
    pager_->rollback();
    // Tables stay the objects callers hold, with the definitions of the
    // state rolled back to; one the transaction created is gone with it.
    invalidateCatalog();
    for (auto it = tables_.begin(); it != tables_.end();) {
        try {
            it->second->reloadDefinition();
            ++it;
        } catch (const JetError&) {
            it = tables_.erase(it);
        }
    }
}

bool Database::inWrite() const { return pager_->inWrite(); }

void Database::refuseAllocationPastNamedPages()
{
    // A new page goes at the end of the file. Where a usage map names a page
    // at or past the end, the file is damaged (cut short, say): the new page
    // would be one that another structure already claims.
    const uint32_t end = pager_->pageCount();
    auto check = [&](uint32_t mapPointer, const std::string& where) {
        std::vector<uint32_t> pages = UsageMap::read(*pager_, mapPointer, where).pages();
        if (!pages.empty() && pages.back() >= end)
            throw JetError(where + ": its usage map names page " + std::to_string(pages.back()) +
                           ", past the end of the file (" + std::to_string(end) +
                           " pages); the file is damaged, so nothing is written (jetdb check lists the damage)");
    };
    // (The map of free pages is not asked: Access marks the pages past the
    // end of the file free in it.)
    for (const CatalogEntry& e : std::vector<CatalogEntry>(catalog())) {
        if (!e.isTable()) continue;
        Table& t = table(e.name);
        check(t.def().usedPagesPointer, t.location());
        for (const RealIndex& index : t.def().realIndexes)
            check(index.usageMapPointer, t.location() + ", index '" + t.def().indexName(index) + "'");
    }
}

void Database::setPassword(const std::string& password)
{
    if (inWrite()) throw JetError("'" + path() + "': the database password is changed in a write of its own");
    std::u16string text = fromUtf8(password);
    WriteTransaction tx(*this);
    HeaderPage::setPassword(pager_->format(), pager_->modify(0), text);
    tx.commit();
    header_ = HeaderPage::parse(pager_->read(0)->data, path());
}

} // namespace jet
