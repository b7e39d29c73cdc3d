#include "jet/Compactor.h"

#include "base/NameCase.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "jet/PlatformFile.h"
#include "jet/SchemaWriter.h"
#include "jet/StagedFile.h"

#include <algorithm>
#include <map>
#include <vector>

namespace jet {

namespace {

constexpr uint32_t kCatalogPage = 2;

// Columns that hold object ids (MSysObjects.Id) in the tables Access keeps.
const std::pair<const char*, const char*> kObjectIdColumns[] = {
    {"MSysObjects", "Id"},
    {"MSysACEs", "ObjectId"},
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
    {"MSysComplexColumns", "ConceptualTableID"},
    {"MSysComplexColumns", "FlatTableID"},
    {"MSysComplexColumns", "ComplexTypeObjectID"},
};

// A table's object id is its definition page (the high byte holds flags);
// object ids are unique in the catalog, so an id equal to a table's is that table.
using IdMap = std::map<int64_t, int64_t>;

void copyRows(Table& from, Table& to, const IdMap& ids, const Compactor::Progress& progress, Database& target)
{
    std::vector<size_t> idColumns;
    for (const auto& [table, column] : kObjectIdColumns)
        if (base::NameCase::equalUtf8(from.name(), table))
            if (const ColumnDef* c = from.def().findColumn(column)) idColumns.push_back(from.def().columnIndex(c->number));
    const uint64_t total = from.def().rowCount;
    uint64_t copied = 0;
    from.scan([&](RowLocator, std::vector<Value>& values) {
        for (size_t idColumn : idColumns)
            if (const int64_t* id = std::get_if<int64_t>(&values[idColumn]))
                if (auto it = ids.find(*id); it != ids.end()) values[idColumn] = it->second;
        to.insertCopy(values);
        target.spillIfLarge();
        if (progress && ++copied % 100000 == 0) progress(from.name(), copied, total);
        return true;
    });
    if (progress) progress(from.name(), copied, total);
}

} // namespace

void Compactor::compact(const std::string& from, const std::string& to, const Progress& progress,
                        const CompactOptions& options)
{
    if (PlatformFile::exists(to)) throw JetError("'" + to + "' already exists; compact never writes over a file");
    StagedFile out(to);
    std::unique_ptr<Database> source = Database::open(from, Pager::Access::ReadOnly, options.password);
    ReadScope scope(source->pager());

    // The catalog's own table first: Jet finds it on page 2 of every file.
    std::vector<CatalogEntry> tables;
    for (const CatalogEntry& e : source->catalog())
        if (e.isTable()) tables.push_back(e);
    std::stable_partition(tables.begin(), tables.end(),
                          [](const CatalogEntry& e) { return e.definitionPage() == kCatalogPage; });
    if (tables.empty() || tables.front().definitionPage() != kCatalogPage)
        throw JetError("'" + from + "': the catalog does not list its own table (MSysObjects)");

    HeaderPage header = source->header();
    if (options.encoding == CompactOptions::Encoding::Encode && header.databaseKey == 0)
        header.databaseKey = HeaderPage::randomDatabaseKey();
    if (options.encoding == CompactOptions::Encoding::Decode) header.databaseKey = 0;
    {
        std::unique_ptr<Database> target =
            SchemaWriter::createEmptyDatabase(out.path(), source->pager().format(), header);
        Pager& pager = target->pager();
        // The copy is nobody's until it is renamed into place: it is built
        // with memory of the page cache's size and the index entries'
        // budget, whatever the file's size (Database::spillIfLarge).
        pager.setPrivateBuild(true);
        if (options.indexMemory) target->setIndexMemory(options.indexMemory);
        WriteTransaction tx(*target);
        std::map<uint32_t, uint32_t> newPages; // old definition page -> new
        IdMap newIds;
        std::vector<std::vector<uint32_t>> definitionPages;
        for (const CatalogEntry& e : tables) {
            const TableDef& def = source->table(e.name).def();
            std::vector<uint32_t> pages;
            for (size_t k = SchemaWriter::definitionPageCount(def); k > 0; --k) pages.push_back(pager.allocate());
            newPages[def.firstPage] = pages.front();
            newIds[e.id] = int32_t((uint32_t(e.id) & 0xFF000000u) | pages.front());
            definitionPages.push_back(std::move(pages));
        }
        for (size_t i = 0; i < tables.size(); ++i)
            SchemaWriter::copyDefinition(*target, source->table(tables[i].name).def(), definitionPages[i], newPages);

        copyRows(source->table(tables.front().name), target->catalogTable(), newIds, progress, *target);
        target->invalidateCatalog();
        for (size_t i = 1; i < tables.size(); ++i)
            copyRows(source->table(tables[i].name), target->table(tables[i].name), newIds, progress, *target);
        tx.commit();
    }
    out.publish();
}

} // namespace jet
