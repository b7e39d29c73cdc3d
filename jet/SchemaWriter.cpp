#include "jet/SchemaWriter.h"

#include "base/NameCase.h"
#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/DefaultValue.h"
#include "jet/HeaderPage.h"
#include "jet/IndexNode.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/PlatformFile.h"
#include "jet/PropertyMap.h"
#include "jet/TableDef.h"
#include "jet/UsageMap.h"

#include <cstring>

namespace jet {

namespace {

constexpr uint32_t kMagic = 0x0659;          // written by Access in several definition blocks
constexpr uint16_t kGeneralSortOrder = 0x0409;
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr uint32_t kSystemFlags = 0x80000002u;
constexpr uint16_t kNoColumn = 0xFFFF;

bool isVariable(ColumnType t)
{
    return t == ColumnType::Text || t == ColumnType::Binary || t == ColumnType::Memo || t == ColumnType::OLE;
}

// The length a column definition stores: bytes (two per Text character).
uint16_t storedLength(const Format& f, const ColumnSpec& c)
{
    const bool unicode = f.textStorage == Format::TextStorage::Unicode;
    switch (c.type) {
    case ColumnType::Text: return uint16_t(unicode ? c.length * 2 : c.length);
    case ColumnType::Binary: return c.length;
    case ColumnType::Memo:
    case ColumnType::OLE: return 0;
    case ColumnType::Boolean: return 1;
    default: return uint16_t(f.fixedWidth(c.type, 0));
    }
}

void appendName(const Format& f, const TextCoding& coding, Bytes& out, const std::string& utf8)
{
    Bytes name;
    if (coding.isUnicode()) {
        for (char16_t ch : fromUtf8(utf8)) {
            name.push_back(uint8_t(ch));
            name.push_back(uint8_t(ch >> 8));
        }
    } else if (!coding.encode(fromUtf8(utf8), false, name)) {
        throw JetError("the name '" + utf8 + "' has characters that code page " + std::to_string(coding.codePage()) +
                       " of the file cannot hold");
    }
    size_t at = out.size();
    if (f.tdef.nameLengthSize == 2) {
        out.resize(at + 2);
        put16(&out[at], uint16_t(name.size()));
    } else {
        if (name.size() > 0xFF) throw JetError("the name '" + utf8 + "' is too long");
        out.push_back(uint8_t(name.size()));
    }
    out.insert(out.end(), name.begin(), name.end());
}

// A zeroed block appended to the definition bytes; returns its offset.
size_t appendBlock(Bytes& d, size_t size)
{
    size_t at = d.size();
    d.resize(at + size, 0);
    return at;
}

// Where a column of a new table lies in a row.
struct ColumnPlace {
    uint16_t number, varIndex, fixedOffset;
    uint8_t flags, extFlags;
};

// Access counts a name's characters (UTF-16 units), not its bytes.
bool nameLengthFits(const std::string& utf8Name)
{
    const std::size_t characters = fromUtf8(utf8Name).size();
    return characters >= 1 && characters <= 64;
}

void checkSpec(const Format& f, const TableSpec& spec)
{
    if (!nameLengthFits(spec.name)) throw JetError("a table name must have 1 to 64 characters");
    if (spec.columns.empty() || spec.columns.size() > 255)
        throw JetError("table '" + spec.name + "' must have 1 to 255 columns");
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& c = spec.columns[i];
        auto fail = [&](const std::string& what) {
            return JetError("table '" + spec.name + "', column '" + c.name + "': " + what);
        };
        if (!nameLengthFits(c.name))
            throw JetError("table '" + spec.name + "': a column name must have 1 to 64 characters");
        for (size_t j = 0; j < i; ++j)
            if (base::NameCase::equalUtf8(spec.columns[j].name, c.name))
                throw JetError("table '" + spec.name + "' has two columns named '" + c.name + "'");
        if (c.type == ColumnType::Text && (c.length < 1 || c.length > 255))
            throw fail("a text column holds 1 to 255 characters");
        if (c.autoNumber && c.type != ColumnType::Long) throw fail("only a Long column can be an autonumber");
        if (c.type == ColumnType::Numeric && (c.precision < 1 || c.precision > 28 || c.scale > c.precision))
            throw fail("precision must be 1..28 and scale at most the precision");
        if (c.type == ColumnType::Numeric && f.textStorage == Format::TextStorage::CodePage)
            throw fail("Access 97 files have no decimal columns");
        if (c.type == ColumnType::Complex)
            throw fail("complex columns (attachments, multi-value) are made by Access, with their hidden tables");
        if (!f.hasColumnType(c.type))
            throw fail(std::string(columnTypeName(c.type)) + " columns do not exist in " + f.name + " files");
    }
    for (const IndexSpec& ix : spec.indexes)
        if (ix.columns.empty() || ix.columns.size() > 10)
            throw JetError("table '" + spec.name + "', index '" + ix.name + "' must have 1 to 10 columns");
}

std::vector<ColumnPlace> placeColumns(const Format& f, const TableSpec& spec)
{
    std::vector<ColumnPlace> places;
    uint16_t fixedOffset = 0, varIndex = 0;
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& c = spec.columns[i];
        ColumnPlace l{uint16_t(i), 0, 0, 0, 0};
        if (isVariable(c.type)) {
            l.varIndex = varIndex++;
        } else {
            l.flags |= kColumnFixed;
            l.fixedOffset = fixedOffset;
            fixedOffset = uint16_t(fixedOffset + f.fixedWidth(c.type, 0));
        }
        if (!c.required) l.flags |= kColumnNullable;
        if (c.autoNumber) l.flags |= kColumnAutoLong;
        if ((c.type == ColumnType::Text || c.type == ColumnType::Memo) && f.tdef.column.extFlags != kAbsent)
            l.extFlags |= kColumnExtCompressedUnicode;
        places.push_back(l);
    }
    return places;
}

uint16_t columnNumber(const TableSpec& spec, const std::string& name)
{
    for (size_t i = 0; i < spec.columns.size(); ++i)
        if (base::NameCase::equalUtf8(spec.columns[i].name, name)) return uint16_t(i);
    throw JetError("table '" + spec.name + "': an index names column '" + name + "', which the table does not have");
}

// The pages a new definition refers to: its usage maps and index roots.
struct DefinitionPages {
    uint32_t usedMap = 0, freeMap = 0;
    std::vector<uint32_t> roots, indexMaps;
};

// New usage maps for a table, on as many map pages as their rows need.
class MapPages {
public:
    explicit MapPages(Pager& pager) : pager_(pager) {}
    uint32_t add(const std::vector<uint32_t>& pages)
    {
        const Format& f = pager_.format();
        if (page_ == 0 || !DataPage::hasRoomFor(f, pager_.read(page_)->data, UsageMap::kInlineRowSize)) {
            page_ = pager_.allocate();
            DataPage::init(f, pager_.modify(page_), 0);
        }
        return UsageMap::appendInline(pager_, page_, pages);
    }

private:
    Pager& pager_;
    uint32_t page_ = 0;
};

// Empty index roots and the maps of a table's pages and of each index.
DefinitionPages newDefinitionPages(Pager& pager, MapPages& maps, uint32_t tdefPage, size_t indexCount)
{
    DefinitionPages out;
    for (size_t i = 0; i < indexCount; ++i) out.roots.push_back(pager.allocate());
    out.usedMap = maps.add({});
    out.freeMap = maps.add({});
    for (uint32_t root : out.roots) out.indexMaps.push_back(maps.add({root}));
    for (uint32_t root : out.roots) {
        IndexNode empty;
        empty.leaf = true;
        empty.owner = tdefPage;
        empty.encode(pager.format(), pager.modify(root));
    }
    return out;
}

Bytes definitionHeader(const Format& f, const TableSpec& spec, const DefinitionPages& pages, uint16_t varCount)
{
    const Format::TableDefinitionLayout& t = f.tdef;
    Bytes d(t.headerSize, 0);
    d[0] = TableDef::kPageType;
    d[1] = 0x01;
    if (t.unknown != kAbsent) put32(&d[t.unknown], kMagic);
    if (t.autoNumberFlag != kAbsent) d[t.autoNumberFlag] = 0x01;
    d[t.tableType] = spec.system ? kSystemTableType : kUserTableType;
    put16(&d[t.maxColumns], uint16_t(spec.columns.size()));
    put16(&d[t.variableColumns], varCount);
    put16(&d[t.columnCount], uint16_t(spec.columns.size()));
    put32(&d[t.logicalIndexCount], uint32_t(spec.indexes.size()));
    put32(&d[t.realIndexCount], uint32_t(spec.indexes.size()));
    put32(&d[t.usedPagesMap], pages.usedMap);
    put32(&d[t.freePagesMap], pages.freeMap);
    for (size_t i = 0; i < spec.indexes.size(); ++i) appendBlock(d, t.realIndexCountBlock); // no entries yet
    return d;
}

void appendColumns(const Format& f, const TextCoding& coding, Bytes& d, const TableSpec& spec,
                   const std::vector<ColumnPlace>& places)
{
    const Format::TableDefinitionLayout::ColumnBlock& b = f.tdef.column;
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& c = spec.columns[i];
        const ColumnPlace& l = places[i];
        size_t at = appendBlock(d, b.size);
        d[at + b.type] = uint8_t(c.type);
        if (b.unknown != kAbsent) put32(&d[at + b.unknown], kMagic);
        put16(&d[at + b.number], l.number);
        put16(&d[at + b.varIndex], l.varIndex);
        if (b.numberAgain != kAbsent) put16(&d[at + b.numberAgain], l.number);
        if (b.one != kAbsent) put16(&d[at + b.one], 1);
        if (c.type == ColumnType::Numeric) {
            d[at + b.precision] = c.precision;
            d[at + b.scale] = c.scale;
        } else {
            put16(&d[at + b.sortOrder], kGeneralSortOrder);
            if (b.codePage != kAbsent) put16(&d[at + b.codePage], coding.codePage());
            if (isTextType(c.type) && b.sortOrderVersion != kAbsent) d[at + b.sortOrderVersion] = f.newTextSortOrderVersion;
        }
        d[at + b.flags] = l.flags;
        if (b.extFlags != kAbsent) d[at + b.extFlags] = l.extFlags;
        put16(&d[at + b.fixedOffset], l.fixedOffset);
        put16(&d[at + b.length], storedLength(f, c));
    }
    for (const ColumnSpec& c : spec.columns) appendName(f, coding, d, c.name);
}

void appendIndexes(const Format& f, const TextCoding& coding, Bytes& d, const TableSpec& spec,
                   const DefinitionPages& pages)
{
    const Format::TableDefinitionLayout& t = f.tdef;
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        const IndexSpec& ix = spec.indexes[i];
        size_t at = appendBlock(d, t.realIndex.size);
        if (t.realIndex.columns >= 4) put32(&d[at], kMagic); // Jet 4's leading unknown
        for (size_t k = 0; k < t.maxIndexColumns; ++k) {
            uint8_t* column = &d[at + t.realIndex.columns + k * 3];
            put16(column, k < ix.columns.size() ? columnNumber(spec, ix.columns[k].first) : kNoColumn);
            column[2] = k < ix.columns.size() && ix.columns[k].second ? 0x01 : 0x00;
        }
        put32(&d[at + t.realIndex.usageMap], pages.indexMaps[i]);
        put32(&d[at + t.realIndex.root], pages.roots[i]);
        uint8_t flags = 0;
        if (ix.unique || ix.primaryKey) flags |= kIndexUnique;
        if (ix.ignoreNulls) flags |= kIndexIgnoreNulls;
        if (ix.primaryKey || ix.required) flags |= kIndexRequired;
        d[at + t.realIndex.flags] = flags;
    }
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        size_t at = appendBlock(d, t.logicalIndex.size);
        if (t.logicalIndex.number >= 4) put32(&d[at], kMagic); // Jet 4's leading unknown
        put32(&d[at + t.logicalIndex.number], uint32_t(i));
        put32(&d[at + t.logicalIndex.realIndex], uint32_t(i));
        put32(&d[at + t.logicalIndex.relatedIndex], 0xFFFFFFFFu);
        d[at + t.logicalIndex.kind] = spec.indexes[i].primaryKey ? 1 : 0;
    }
    for (const IndexSpec& ix : spec.indexes) appendName(f, coding, d, ix.name);
}

size_t pageCountFor(const Format& f, size_t length)
{
    if (length <= f.pageSize) return 1;
    size_t perPage = f.pageSize - f.tdef.pageHeaderSize;
    return 1 + (length - f.pageSize + perPage - 1) / perPage;
}

// Lays definition bytes over a chain of pages: the first page holds the
// header, each later one its own page header and the next bytes.
void writeDefinition(Pager& pager, Bytes d, const std::vector<uint32_t>& pages)
{
    const Format& f = pager.format();
    put32(&d[f.tdef.length], uint32_t(d.size() - f.tdef.pageHeaderSize));
    size_t done = 0;
    for (size_t k = 0; k < pages.size(); ++k) {
        uint8_t* page = pager.modify(pages[k]);
        std::memset(page, 0, f.pageSize);
        size_t headerSize = k == 0 ? 0 : f.tdef.pageHeaderSize;
        size_t n = std::min(d.size() - done, f.pageSize - headerSize);
        std::memcpy(page + headerSize, d.data() + done, n);
        done += n;
        page[0] = TableDef::kPageType;
        page[1] = 0x01;
        if (f.tdef.freeSpace != kAbsent) {
            put16(page + f.tdef.freeSpace, uint16_t(f.pageSize - headerSize - n));
        } else {
            page[2] = 'V'; // what Jet 3 keeps in place of the free space
            page[3] = 'C';
        }
        put32(page + f.tdef.nextPage, k + 1 < pages.size() ? pages[k + 1] : 0);
    }
}

void addCatalogRow(Database& db, const TableSpec& spec, uint32_t tdefPage)
{
    PropertyMap props(db.pager().textCoding());
    for (const ColumnSpec& c : spec.columns) {
        if (!c.defaultValue.empty()) props.setText(c.name, "DefaultValue", fromUtf8(c.defaultValue));
        if (c.required) {
            Property p;
            p.type = ColumnType::Boolean;
            p.value = {1};
            props.set(c.name, "Required", p);
        }
    }
    Table& catalog = db.catalogTable();
    const TableDef& cd = catalog.def();
    std::vector<std::optional<Value>> row(cd.columns.size(), Value{});
    auto set = [&](const char* name, Value v) {
        const ColumnDef* c = cd.findColumn(name);
        if (c) row[cd.columnIndex(c->number)] = std::move(v);
    };
    DateTime now = currentDateTime();
    set("Id", int64_t(tdefPage));
    set("ParentId", int64_t(kTablesContainer));
    set("Name", fromUtf8(spec.name));
    set("Type", int64_t(1));
    set("DateCreate", now);
    set("DateUpdate", now);
    set("Flags", int64_t(int32_t(spec.system ? kSystemFlags : 0)));
    Bytes blob = props.encode();
    if (!spec.system || blob.size() > 0) set("LvProp", blob);
    catalog.insertRow(row);
    db.invalidateCatalog();
}

TableSpec systemTable(const std::string& name, std::vector<ColumnSpec> columns, std::vector<IndexSpec> indexes)
{
    TableSpec t;
    t.name = name;
    t.columns = std::move(columns);
    t.indexes = std::move(indexes);
    t.system = true;
    return t;
}

ColumnSpec col(const char* name, ColumnType type, uint16_t length = 0)
{
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

// Creates the file with its header page and, on page 1, the map of free
// pages as Access lays it out.
// An encoded file (databaseKey not 0) has every page but this one encrypted
// from the start, as the Pager writes them.
std::unique_ptr<Database> startFile(const std::string& path, const Format& format, DateTime created,
                                    uint16_t codePage, uint32_t sortOrder, uint32_t databaseKey = 0,
                                    const std::u16string& password = {})
{
    auto header = HeaderPage::build(format, created, codePage, sortOrder);
    HeaderPage::setDatabaseKey(format, header.data(), databaseKey);
    HeaderPage::setPassword(format, header.data(), password);
    {
        std::unique_ptr<Pager> pager = Pager::create(path, format, header.data());
    }
    std::unique_ptr<Database> db = Database::open(path, Pager::Access::ReadWrite, toUtf8(password), true);
    Pager& pager = db->pager();
    WriteTransaction tx(*db);
    uint32_t p1 = pager.allocate();
    DataPage::init(format, pager.modify(p1), 0);
    UsageMap::appendInline(pager, p1, {});
    UsageMap::appendInline(pager, p1, {});
    tx.commit();
    return db;
}

void removeFile(const std::string& path)
{
    PlatformFile::remove(path);
    PlatformFile::remove(Pager::journalPath(path));
}

} // namespace

uint32_t SchemaWriter::createTable(Database& db, const TableSpec& spec)
{
    Pager& pager = db.pager();
    const Format& f = pager.format();
    if (!pager.inWrite()) throw JetError("'" + db.path() + "': tables can only be created inside a write");
    checkSpec(f, spec);
    bool bootstrapping = pager.pageCount() <= 2;
    if (!bootstrapping && db.hasTable(spec.name))
        throw JetError("'" + db.path() + "' already has a table named '" + spec.name + "'");

    std::vector<ColumnPlace> places = placeColumns(f, spec);
    uint16_t varCount = 0;
    for (const ColumnSpec& c : spec.columns) varCount = uint16_t(varCount + (isVariable(c.type) ? 1 : 0));
    uint32_t tdefPage = pager.allocate();
    MapPages maps(pager);
    DefinitionPages pages = newDefinitionPages(pager, maps, tdefPage, spec.indexes.size());
    Bytes d = definitionHeader(f, spec, pages, varCount);
    appendColumns(f, pager.textCoding(), d, spec, places);
    appendIndexes(f, pager.textCoding(), d, spec, pages);
    appendBlock(d, 2);
    put16(&d[d.size() - 2], kNoColumn); // no column has usage maps of its own
    // A definition longer than a page continues on pages of its own, chained
    // from the first (255 columns take four pages in Jet 3, three in Jet 4).
    std::vector<uint32_t> definitionPages{tdefPage};
    while (definitionPages.size() < pageCountFor(f, d.size())) definitionPages.push_back(pager.allocate());
    writeDefinition(pager, std::move(d), definitionPages);
    addCatalogRow(db, spec, tdefPage);
    return tdefPage;
}

void SchemaWriter::declareSortOrder(Database& db, uint16_t lcid)
{
    Pager& pager = db.pager();
    const Format& f = pager.format();
    if (!pager.inWrite()) throw JetError("'" + db.path() + "': the sort order can only be changed inside a write");
    uint8_t* header = pager.modify(0);
    HeaderPage::toggleMask(f, header);
    if (f.header.sortOrderSize == 4) put32(header + f.header.sortOrder, lcid);
    else put16(header + f.header.sortOrder, lcid);
    HeaderPage::toggleMask(f, header);
    for (const std::string& name : db.tableNames()) {
        const TableDef& def = db.table(name).def();
        for (const ColumnDef& c : def.columns) {
            if (!isTextType(c.type)) continue;
            auto [page, at] = def.locate(c.definitionOffset + f.tdef.column.sortOrder);
            put16(pager.modify(page) + at, lcid);
        }
    }
}

std::unique_ptr<Database> SchemaWriter::createEmptyDatabase(const std::string& path, const Format& format,
                                                           const HeaderPage& like)
{
    try {
        return startFile(path, format, like.creationDate, like.codePage, like.sortOrder, like.databaseKey,
                         like.password);
    } catch (...) {
        removeFile(path);
        throw;
    }
}

size_t SchemaWriter::definitionPageCount(const TableDef& source) { return pageCountFor(*source.format, source.length); }

void SchemaWriter::copyDefinition(Database& db, const TableDef& source, const std::vector<uint32_t>& pages,
                                  const std::map<uint32_t, uint32_t>& tablePages)
{
    Pager& pager = db.pager();
    const Format& f = pager.format();
    if (!pager.inWrite()) throw JetError("'" + db.path() + "': tables can only be created inside a write");
    if (pages.size() != definitionPageCount(source))
        throw JetError("internal error: table '" + source.name + "' needs " +
                       std::to_string(definitionPageCount(source)) + " definition pages");
    Bytes d(source.bytes.begin(), source.bytes.begin() + long(source.length));
    auto put = [&](size_t offset, uint32_t value) {
        if (offset + 4 > d.size()) throw JetError("table '" + source.name + "': its definition is cut short");
        put32(&d[offset], value);
    };
    MapPages maps(pager);
    DefinitionPages fresh = newDefinitionPages(pager, maps, pages.front(), source.realIndexes.size());
    put(f.tdef.rowCount, 0);
    put(f.tdef.usedPagesMap, fresh.usedMap);
    put(f.tdef.freePagesMap, fresh.freeMap);
    for (size_t i = 0; i < source.realIndexes.size(); ++i) {
        const RealIndex& index = source.realIndexes[i];
        put(index.countOffset, 0);
        put(index.blockOffset + f.tdef.realIndex.usageMap, fresh.indexMaps[i]);
        put(index.blockOffset + f.tdef.realIndex.root, fresh.roots[i]);
    }
    for (const LogicalIndex& li : source.indexes) {
        if (li.relatedTablePage == 0) continue;
        auto it = tablePages.find(li.relatedTablePage);
        if (it == tablePages.end())
            throw JetError("table '" + source.name + "': index '" + li.utf8Name + "' relates to definition page " +
                           std::to_string(li.relatedTablePage) + ", which is no table of the file");
        put(li.blockOffset + f.tdef.logicalIndex.relatedTablePage, it->second);
    }
    // Columns with usage maps of their own: 2 column number, 4 + 4 map pointers.
    for (size_t o = source.columnMapsOffset; o + 2 <= d.size() && le16(&d[o]) != kNoColumn; o += f.tdef.columnMapEntrySize) {
        put(o + 2, maps.add({}));
        put(o + 6, maps.add({}));
    }
    writeDefinition(pager, std::move(d), pages);
}

std::unique_ptr<Database> SchemaWriter::createDatabase(const std::string& path, const Format& format, uint16_t codePage)
{
    try {
        // The header names the sort order of new text columns, its version in the high byte.
        const uint32_t sortOrder = uint32_t(kGeneralSortOrder) | uint32_t(format.newTextSortOrderVersion) << 24;
        std::unique_ptr<Database> db = startFile(path, format, currentDateTime(), codePage, sortOrder);
        WriteTransaction tx(*db);
        // Binary system columns hold 510 bytes in Jet 4, 255 in Jet 3.
        const uint16_t binary = format.textStorage == Format::TextStorage::Unicode ? 510 : 255;

        ColumnSpec id = col("Id", ColumnType::Long);
        TableSpec objects = systemTable(
            "MSysObjects",
            {id, col("ParentId", ColumnType::Long), col("Name", ColumnType::Text, 255), col("Type", ColumnType::Integer),
             col("DateCreate", ColumnType::DateTime), col("DateUpdate", ColumnType::DateTime),
             col("Owner", ColumnType::Binary, binary), col("Flags", ColumnType::Long), col("Database", ColumnType::Memo),
             col("Connect", ColumnType::Memo), col("ForeignName", ColumnType::Text, 255),
             col("RmtInfoShort", ColumnType::Binary, binary), col("RmtInfoLong", ColumnType::OLE),
             col("Lv", ColumnType::OLE), col("LvProp", ColumnType::OLE), col("LvModule", ColumnType::OLE),
             col("LvExtra", ColumnType::OLE)},
            {IndexSpec{"Id", {{"Id", true}}, true, true, false},
             IndexSpec{"ParentIdName", {{"ParentId", true}, {"Name", true}}, false, true, false}});
        createTable(*db, objects); // lands on page 2, where Jet looks for the catalog

        // The containers every file has.
        Table& catalog = db->catalogTable();
        const TableDef& cd = catalog.def();
        DateTime now = currentDateTime();
        auto addObject = [&](int32_t objectId, int32_t parent, const char* name, int type) {
            std::vector<std::optional<Value>> row(cd.columns.size(), Value{});
            auto set = [&](const char* column, Value v) {
                const ColumnDef* c = cd.findColumn(column);
                row[cd.columnIndex(c->number)] = std::move(v);
            };
            set("Id", int64_t(objectId));
            set("ParentId", int64_t(parent));
            set("Name", fromUtf8(name));
            set("Type", int64_t(type));
            set("DateCreate", now);
            set("DateUpdate", now);
            set("Flags", int64_t(int32_t(0x80000000u)));
            catalog.insertRow(row);
        };
        addObject(0x0F000001, 0x0F000000, "Tables", 3);
        addObject(0x0F000002, 0x0F000000, "Databases", 3);
        addObject(0x0F000003, 0x0F000000, "Relationships", 3);
        addObject(0x10000000, 0x0F000002, "MSysDb", 2);

        createTable(*db, systemTable("MSysACEs",
                                     {col("ObjectId", ColumnType::Long), col("SID", ColumnType::Binary, binary),
                                      col("ACM", ColumnType::Long), col("FInheritable", ColumnType::Boolean)},
                                     {IndexSpec{"ObjectId", {{"ObjectId", true}}, false, false, false}}));
        std::vector<ColumnSpec> queryColumns{col("ObjectId", ColumnType::Long), col("Attribute", ColumnType::Byte),
                                             col("Order", ColumnType::Binary, binary), col("Name1", ColumnType::Text, 255),
                                             col("Name2", ColumnType::Text, 255), col("Expression", ColumnType::Memo),
                                             col("Flag", ColumnType::Integer)};
        if (format.textStorage == Format::TextStorage::Unicode) queryColumns.push_back(col("LvExtra", ColumnType::Long));
        createTable(*db, systemTable("MSysQueries", queryColumns,
                                     {IndexSpec{"ObjectIdAttribute",
                                                {{"ObjectId", true}, {"Attribute", true}, {"Order", true}},
                                                true, true, false}}));
        createTable(*db, systemTable("MSysRelationships",
                                     {col("szRelationship", ColumnType::Text, 255), col("grbit", ColumnType::Long),
                                      col("ccolumn", ColumnType::Long), col("icolumn", ColumnType::Long),
                                      col("szObject", ColumnType::Text, 255), col("szColumn", ColumnType::Text, 255),
                                      col("szReferencedObject", ColumnType::Text, 255),
                                      col("szReferencedColumn", ColumnType::Text, 255)},
                                     {IndexSpec{"szObject", {{"szObject", true}}, false, false, true},
                                      IndexSpec{"szReferencedObject", {{"szReferencedObject", true}}, false, false, true},
                                      IndexSpec{"szRelationship", {{"szRelationship", true}}, false, false, true}}));
        if (format.ace) {
            // Where Access records its complex columns (ComplexColumn.h); none yet.
            ColumnSpec complexId = col("ComplexID", ColumnType::Long);
            complexId.autoNumber = true;
            createTable(*db, systemTable("MSysComplexColumns",
                                         {col("ColumnName", ColumnType::Text, 255),
                                          col("ComplexTypeObjectID", ColumnType::Long),
                                          col("FlatTableID", ColumnType::Long), col("ConceptualTableID", ColumnType::Long),
                                          complexId},
                                         {IndexSpec{"IdxConceptualTableID", {{"ConceptualTableID", true}}, false, false, true, true},
                                          IndexSpec{"IdxFlatTableID", {{"FlatTableID", true}}, false, false, true, true},
                                          IndexSpec{"IdxID", {{"ComplexID", true}}, true, true, true, true}}));
        }
        tx.commit();
        db->reload();
        return db;
    } catch (...) {
        removeFile(path);
        throw;
    }
}

} // namespace jet
