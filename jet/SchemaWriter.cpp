#include "jet/SchemaWriter.h"

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
#include "jet/RowCodec.h"
#include "jet/TableDef.h"

#include <cstring>

namespace jet {

namespace {

constexpr uint32_t kMagic = 0x0659;          // written by Access in several definition blocks
constexpr uint16_t kGeneralSortOrder = 0x0409;
constexpr size_t kUsageMapRowSize = 69;      // inline map: type, start page, 64-byte bitmap
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr uint32_t kSystemFlags = 0x80000002u;

size_t fixedWidth(const ColumnSpec& c)
{
    switch (c.type) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long:
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
    }
}

bool isVariable(ColumnType t)
{
    return t == ColumnType::Text || t == ColumnType::Binary || t == ColumnType::Memo || t == ColumnType::OLE;
}

uint16_t storedLength(const ColumnSpec& c)
{
    switch (c.type) {
    case ColumnType::Text: return uint16_t(c.length * 2);
    case ColumnType::Binary: return c.length;
    case ColumnType::Memo:
    case ColumnType::OLE: return 0;
    case ColumnType::Boolean: return 1;
    default: return uint16_t(fixedWidth(c));
    }
}

void appendName(Bytes& out, const std::string& utf8)
{
    std::u16string n = fromUtf8(utf8);
    uint8_t len[2];
    put16(len, uint16_t(n.size() * 2));
    out.insert(out.end(), len, len + 2);
    for (char16_t ch : n) {
        out.push_back(uint8_t(ch));
        out.push_back(uint8_t(ch >> 8));
    }
}

template <typename T>
void appendLe(Bytes& out, T v, size_t n)
{
    for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}

void initDataPage(uint8_t* page, uint32_t owner)
{
    std::memset(page, 0, kPageSize);
    page[0] = DataPage::kType;
    page[1] = 0x01;
    put32(page + DataPage::kOwnerOffset, owner);
    put16(page + DataPage::kFreeSpaceOffset, uint16_t(kPageSize - DataPage::kSlotsOffset));
}

// Appends an empty inline usage map row; returns its row pointer.
uint32_t addUsageMapRow(uint8_t* page, uint32_t pageNumber, const std::vector<uint32_t>& pages)
{
    unsigned count = DataPage::rowCount(page);
    size_t lowest = count == 0 ? kPageSize : (le16(page + DataPage::kSlotsOffset + (count - 1) * 2) & DataPage::kOffsetMask);
    size_t start = lowest - kUsageMapRowSize;
    uint8_t* row = page + start;
    std::memset(row, 0, kUsageMapRowSize);
    row[0] = 0x00;
    put32(row + 1, 0); // the bitmap starts at page 0
    for (uint32_t p : pages) {
        if (p >= (kUsageMapRowSize - 5) * 8) throw JetError("internal error: a new usage map cannot name page " + std::to_string(p));
        row[5 + p / 8] |= uint8_t(1 << (p % 8));
    }
    put16(page + DataPage::kSlotsOffset + count * 2, uint16_t(start));
    put16(page + DataPage::kRowCountOffset, uint16_t(count + 1));
    size_t freeSpace = start - (DataPage::kSlotsOffset + (count + 1) * 2);
    put16(page + DataPage::kFreeSpaceOffset, uint16_t(freeSpace));
    return DataPage::makeRowPointer(pageNumber, count);
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

} // namespace

uint32_t SchemaWriter::createTable(Database& db, const TableSpec& spec)
{
    Pager& pager = db.pager();
    if (!pager.inWrite()) throw JetError("'" + db.path() + "': tables can only be created inside a write");
    if (spec.name.empty() || spec.name.size() > 64) throw JetError("a table name must have 1 to 64 characters");
    if (spec.columns.empty() || spec.columns.size() > 255)
        throw JetError("table '" + spec.name + "' must have 1 to 255 columns");
    bool bootstrapping = pager.pageCount() <= 2;
    if (!bootstrapping && db.hasTable(spec.name))
        throw JetError("'" + db.path() + "' already has a table named '" + spec.name + "'");

    // Pages: definition, usage maps, one root per index.
    uint32_t tdefPage = pager.allocate();
    uint32_t mapPage = pager.allocate();
    std::vector<uint32_t> roots;
    for (size_t i = 0; i < spec.indexes.size(); ++i) roots.push_back(pager.allocate());

    uint8_t* maps = pager.modify(mapPage);
    initDataPage(maps, 0);
    uint32_t usedMap = addUsageMapRow(maps, mapPage, {});
    uint32_t freeMap = addUsageMapRow(maps, mapPage, {});
    std::vector<uint32_t> indexMaps;
    for (uint32_t root : roots) indexMaps.push_back(addUsageMapRow(maps, mapPage, {root}));
    for (uint32_t root : roots) {
        uint8_t* p = pager.modify(root);
        IndexNode empty;
        empty.leaf = true;
        empty.owner = tdefPage;
        empty.encode(p);
    }

    // Columns.
    struct Laid {
        uint16_t number, varIndex, fixedOffset;
        uint8_t flags, ext;
    };
    std::vector<Laid> laid;
    uint16_t fixedOffset = 0, varIndex = 0, varCount = 0;
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& c = spec.columns[i];
        if (c.name.empty() || c.name.size() > 64) throw JetError("table '" + spec.name + "': a column name must have 1 to 64 characters");
        for (size_t j = 0; j < i; ++j)
            if (equalsIgnoreCase(spec.columns[j].name, c.name))
                throw JetError("table '" + spec.name + "' has two columns named '" + c.name + "'");
        if (c.type == ColumnType::Text && (c.length < 1 || c.length > 255))
            throw JetError("table '" + spec.name + "', column '" + c.name + "': a text column holds 1 to 255 characters");
        if (c.autoNumber && c.type != ColumnType::Long)
            throw JetError("table '" + spec.name + "', column '" + c.name + "': only a Long column can be an autonumber");
        if (c.type == ColumnType::Numeric && (c.precision < 1 || c.precision > 28 || c.scale > c.precision))
            throw JetError("table '" + spec.name + "', column '" + c.name + "': precision must be 1..28 and scale at most the precision");
        Laid l{uint16_t(i), 0, 0, 0, 0};
        if (isVariable(c.type)) {
            l.varIndex = varIndex++;
            ++varCount;
        } else {
            l.flags |= kColumnFixed;
            l.fixedOffset = fixedOffset;
            fixedOffset = uint16_t(fixedOffset + fixedWidth(c));
        }
        if (!c.required) l.flags |= kColumnNullable;
        if (c.autoNumber) l.flags |= kColumnAutoLong;
        if (c.type == ColumnType::Text || c.type == ColumnType::Memo) l.ext |= kColumnExtCompressedUnicode;
        laid.push_back(l);
    }
    auto columnNumber = [&](const std::string& name) -> uint16_t {
        for (size_t i = 0; i < spec.columns.size(); ++i)
            if (equalsIgnoreCase(spec.columns[i].name, name)) return uint16_t(i);
        throw JetError("table '" + spec.name + "': an index names column '" + name + "', which the table does not have");
    };

    // Definition bytes, laid out as TableDef documents them.
    Bytes d(0x3F, 0);
    d[0] = 0x02;
    d[1] = 0x01;
    put32(&d[0x0C], kMagic);
    d[0x18] = 0x01;
    d[0x28] = spec.system ? kSystemTableType : kUserTableType;
    put16(&d[0x29], uint16_t(spec.columns.size()));
    put16(&d[0x2B], varCount);
    put16(&d[0x2D], uint16_t(spec.columns.size()));
    put32(&d[0x2F], uint32_t(spec.indexes.size()));
    put32(&d[0x33], uint32_t(spec.indexes.size()));
    put32(&d[0x37], usedMap);
    put32(&d[0x3B], freeMap);
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        appendLe(d, 0, 4);
        appendLe(d, 0, 4); // unique entries
        appendLe(d, 0, 4);
    }
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& c = spec.columns[i];
        const Laid& l = laid[i];
        d.push_back(uint8_t(c.type));
        appendLe(d, kMagic, 4);
        appendLe(d, l.number, 2);
        appendLe(d, l.varIndex, 2);
        appendLe(d, l.number, 2);
        if (c.type == ColumnType::Numeric) {
            d.push_back(c.precision);
            d.push_back(c.scale);
        } else {
            appendLe(d, kGeneralSortOrder, 2);
        }
        appendLe(d, 0, 2);
        d.push_back(l.flags);
        d.push_back(l.ext);
        appendLe(d, 0, 4);
        appendLe(d, l.fixedOffset, 2);
        appendLe(d, storedLength(c), 2);
    }
    for (const ColumnSpec& c : spec.columns) appendName(d, c.name);
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        const IndexSpec& ix = spec.indexes[i];
        if (ix.columns.empty() || ix.columns.size() > 10)
            throw JetError("table '" + spec.name + "', index '" + ix.name + "' must have 1 to 10 columns");
        appendLe(d, kMagic, 4);
        for (size_t k = 0; k < 10; ++k) {
            if (k < ix.columns.size()) {
                appendLe(d, columnNumber(ix.columns[k].first), 2);
                d.push_back(ix.columns[k].second ? 0x01 : 0x00);
            } else {
                appendLe(d, 0xFFFF, 2);
                d.push_back(0);
            }
        }
        appendLe(d, indexMaps[i], 4);
        appendLe(d, roots[i], 4);
        appendLe(d, 0, 4);
        uint8_t flags = 0;
        if (ix.unique || ix.primaryKey) flags |= kIndexUnique;
        if (ix.ignoreNulls) flags |= kIndexIgnoreNulls;
        if (ix.primaryKey || ix.required) flags |= kIndexRequired;
        d.push_back(flags);
        appendLe(d, 0, 5);
    }
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        appendLe(d, kMagic, 4);
        appendLe(d, i, 4);                 // logical number
        appendLe(d, i, 4);                 // its physical index
        d.push_back(0);                    // related table type
        appendLe(d, 0xFFFFFFFFu, 4);       // related index
        appendLe(d, 0, 4);                 // related table page
        d.push_back(0);
        d.push_back(0);
        d.push_back(spec.indexes[i].primaryKey ? 1 : 0);
        appendLe(d, 0, 4);
    }
    for (const IndexSpec& ix : spec.indexes) appendName(d, ix.name);
    appendLe(d, 0xFFFF, 2);
    if (d.size() > kPageSize)
        throw JetError("table '" + spec.name + "': its definition does not fit on one page; use fewer or shorter names");
    put32(&d[0x08], uint32_t(d.size() - 8));
    put16(&d[0x02], uint16_t(kPageSize - d.size()));
    uint8_t* tdef = pager.modify(tdefPage);
    std::memset(tdef, 0, kPageSize);
    std::memcpy(tdef, d.data(), d.size());

    // Catalog row.
    PropertyMap props;
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
    return tdefPage;
}

namespace {

// Creates the file with its header page and, on page 1, the map of free
// pages as Access lays it out.
std::unique_ptr<Database> startFile(const std::string& path, DateTime created, uint16_t codePage, uint32_t sortOrder)
{
    auto header = HeaderPage::build(created, codePage, sortOrder);
    {
        std::unique_ptr<Pager> pager = Pager::create(path, header.data());
    }
    std::unique_ptr<Database> db = Database::open(path, Pager::Access::ReadWrite, true);
    Pager& pager = db->pager();
    WriteTransaction tx(*db);
    uint32_t p1 = pager.allocate();
    uint8_t* page1 = pager.modify(p1);
    initDataPage(page1, 0);
    addUsageMapRow(page1, p1, {});
    addUsageMapRow(page1, p1, {});
    tx.commit();
    return db;
}

void removeFile(const std::string& path)
{
    PlatformFile::remove(path);
    PlatformFile::remove(Pager::journalPath(path));
}

} // namespace

std::unique_ptr<Database> SchemaWriter::createEmptyDatabase(const std::string& path, const HeaderPage& like)
{
    try {
        return startFile(path, like.creationDate, like.codePage, like.sortOrder);
    } catch (...) {
        removeFile(path);
        throw;
    }
}

size_t SchemaWriter::definitionPageCount(const TableDef& source)
{
    if (source.length <= kPageSize) return 1;
    return 1 + (source.length - kPageSize + (kPageSize - 8) - 1) / (kPageSize - 8);
}

void SchemaWriter::copyDefinition(Database& db, const TableDef& source, const std::vector<uint32_t>& pages,
                                  const std::map<uint32_t, uint32_t>& tablePages)
{
    Pager& pager = db.pager();
    if (!pager.inWrite()) throw JetError("'" + db.path() + "': tables can only be created inside a write");
    if (pages.size() != definitionPageCount(source))
        throw JetError("internal error: table '" + source.name + "' needs " +
                       std::to_string(definitionPageCount(source)) + " definition pages");
    const uint32_t tdefPage = pages.front();
    Bytes d(source.bytes.begin(), source.bytes.begin() + long(source.length));
    auto put = [&](size_t offset, uint32_t value) {
        if (offset + 4 > d.size()) throw JetError("table '" + source.name + "': its definition is cut short");
        put32(&d[offset], value);
    };

    // Usage maps, as many map pages as their rows need.
    uint32_t mapPage = 0;
    auto newMap = [&](const std::vector<uint32_t>& pagesInMap) {
        if (mapPage == 0 || le16(pager.read(mapPage)->data + DataPage::kFreeSpaceOffset) < kUsageMapRowSize + 2) {
            mapPage = pager.allocate();
            initDataPage(pager.modify(mapPage), 0);
        }
        return addUsageMapRow(pager.modify(mapPage), mapPage, pagesInMap);
    };
    put(kTdefRowCountOffset, 0);
    put(0x37, newMap({}));
    put(0x3B, newMap({}));
    for (const RealIndex& index : source.realIndexes) {
        uint32_t root = pager.allocate();
        IndexNode empty;
        empty.leaf = true;
        empty.owner = tdefPage;
        empty.encode(pager.modify(root));
        put(index.countOffset, 0);
        put(index.blockOffset + 34, newMap({root}));
        put(index.blockOffset + 38, root);
    }
    for (const LogicalIndex& li : source.indexes) {
        if (li.relatedTablePage == 0) continue;
        auto it = tablePages.find(li.relatedTablePage);
        if (it == tablePages.end())
            throw JetError("table '" + source.name + "': index '" + li.utf8Name + "' relates to definition page " +
                           std::to_string(li.relatedTablePage) + ", which is no table of the file");
        put(li.blockOffset + 17, it->second);
    }
    // Columns with usage maps of their own: 2 column number, 4 + 4 map pointers.
    for (size_t o = source.columnMapsOffset; o + 2 <= d.size() && le16(&d[o]) != 0xFFFF; o += 10) {
        put(o + 2, newMap({}));
        put(o + 6, newMap({}));
    }

    // The bytes over the page chain: the first page holds the header, each
    // later one its own 8-byte header and the next bytes.
    size_t done = 0;
    for (size_t k = 0; k < pages.size(); ++k) {
        uint8_t* page = pager.modify(pages[k]);
        std::memset(page, 0, kPageSize);
        size_t headerSize = k == 0 ? 0 : 8;
        size_t n = std::min(d.size() - done, kPageSize - headerSize);
        std::memcpy(page + headerSize, d.data() + done, n);
        done += n;
        page[0] = 0x02;
        page[1] = 0x01;
        put16(page + 2, uint16_t(kPageSize - headerSize - n));
        put32(page + 4, k + 1 < pages.size() ? pages[k + 1] : 0);
    }
}

std::unique_ptr<Database> SchemaWriter::createDatabase(const std::string& path)
{
    try {
        std::unique_ptr<Database> db = startFile(path, currentDateTime(), 0x04E4, 0x0409);
        WriteTransaction tx(*db);

        ColumnSpec id = col("Id", ColumnType::Long);
        TableSpec objects = systemTable(
            "MSysObjects",
            {id, col("ParentId", ColumnType::Long), col("Name", ColumnType::Text, 255), col("Type", ColumnType::Integer),
             col("DateCreate", ColumnType::DateTime), col("DateUpdate", ColumnType::DateTime),
             col("Owner", ColumnType::Binary, 510), col("Flags", ColumnType::Long), col("Database", ColumnType::Memo),
             col("Connect", ColumnType::Memo), col("ForeignName", ColumnType::Text, 255),
             col("RmtInfoShort", ColumnType::Binary, 510), col("RmtInfoLong", ColumnType::OLE),
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
                                     {col("ObjectId", ColumnType::Long), col("SID", ColumnType::Binary, 510),
                                      col("ACM", ColumnType::Long), col("FInheritable", ColumnType::Boolean)},
                                     {IndexSpec{"ObjectId", {{"ObjectId", true}}, false, false, false}}));
        createTable(*db, systemTable("MSysQueries",
                                     {col("ObjectId", ColumnType::Long), col("Attribute", ColumnType::Byte),
                                      col("Order", ColumnType::Binary, 510), col("Name1", ColumnType::Text, 255),
                                      col("Name2", ColumnType::Text, 255), col("Expression", ColumnType::Memo),
                                      col("Flag", ColumnType::Integer), col("LvExtra", ColumnType::Long)},
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
        tx.commit();
        db->reload();
        return db;
    } catch (...) {
        removeFile(path);
        throw;
    }
}

} // namespace jet
