#include "jet/TableDef.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/TextCodec.h"

#include <algorithm>
#include <set>

namespace jet {

class DefinitionReader {
public:
    DefinitionReader(const std::vector<uint8_t>& b, const std::string& where, size_t nameLengthSize,
                     const TextCoding& text)
        : bytes_(b), where_(where), nameLengthSize_(nameLengthSize), text_(text)
    {
    }
    void need(size_t offset, size_t n) const
    {
        if (offset > bytes_.size() || n > bytes_.size() - offset)
            throw JetError(where_ + ": the table definition is cut short (needs " + std::to_string(offset + n) +
                           " bytes, has " + std::to_string(bytes_.size()) + ")");
    }
    uint8_t u8(size_t o) const { need(o, 1); return bytes_[o]; }
    uint16_t u16(size_t o) const { need(o, 2); return le16(&bytes_[o]); }
    uint32_t u32(size_t o) const { need(o, 4); return le32(&bytes_[o]); }
    std::u16string name(size_t& o) const
    {
        size_t len = nameLengthSize_ == 2 ? u16(o) : u8(o);
        o += nameLengthSize_;
        need(o, len);
        std::u16string s = text_.decode(&bytes_[o], len);
        o += len;
        return s;
    }

private:
    const std::vector<uint8_t>& bytes_;
    const std::string& where_;
    size_t nameLengthSize_;
    const TextCoding& text_;
};

TableDef TableDef::read(Pager& pager, uint32_t firstPage, const std::string& name)
{
    TableDef t;
    t.name = name;
    t.firstPage = firstPage;
    t.format = &pager.format();
    t.text = &pager.textCoding();
    std::string where = "'" + pager.path() + "', table '" + name + "' (definition page " +
                        std::to_string(firstPage) + ")";
    t.readPages(pager, where);
    DefinitionReader r(t.bytes, where, t.format->tdef.nameLengthSize, *t.text);
    const Format::TableDefinitionLayout& layout = t.format->tdef;
    t.rowCount = r.u32(layout.rowCount);
    t.autoNumber = r.u32(layout.autoNumber);
    if (layout.complexAutoNumber != kAbsent) t.complexAutoNumber = r.u32(layout.complexAutoNumber);
    t.tableType = r.u8(layout.tableType);
    t.maxColumns = r.u16(layout.maxColumns);
    t.variableColumns = r.u16(layout.variableColumns);
    uint16_t columnCount = r.u16(layout.columnCount);
    uint32_t logicalCount = r.u32(layout.logicalIndexCount);
    uint32_t realCount = r.u32(layout.realIndexCount);
    t.usedPagesPointer = r.u32(layout.usedPagesMap);
    t.freePagesPointer = r.u32(layout.freePagesMap);
    if (realCount > 256 || logicalCount > 256)
        throw JetError(where + ": implausible index counts (" + std::to_string(realCount) + " physical, " +
                       std::to_string(logicalCount) + " logical)");

    size_t o = layout.headerSize;
    t.realIndexes.resize(realCount);
    for (uint32_t i = 0; i < realCount; ++i) {
        t.realIndexes[i].countOffset = o + layout.uniqueEntryCount;
        t.realIndexes[i].uniqueEntryCount = r.u32(o + layout.uniqueEntryCount);
        o += layout.realIndexCountBlock;
    }
    o = t.readColumns(r, o, columnCount);
    o = t.readRealIndexes(r, o, where);
    o = t.readLogicalIndexes(r, o, logicalCount, where);
    t.columnMapsOffset = o;
    t.length = std::min<size_t>(t.bytes.size(), size_t(r.u32(layout.length)) + layout.pageHeaderSize);
    return t;
}

void TableDef::readPages(Pager& pager, const std::string& where)
{
    const Format::TableDefinitionLayout& layout = format->tdef;
    std::set<uint32_t> seen;
    uint32_t page = firstPage;
    while (page != 0) {
        if (!seen.insert(page).second)
            throw JetError(where + ": the definition pages form a cycle at page " + std::to_string(page));
        PageRef p = pager.read(page);
        if (p->data[0] != kPageType)
            throw JetError(where + ": page " + std::to_string(page) + " is not a table definition page (type " +
                           std::to_string(p->data[0]) + ")");
        size_t skip = pages.empty() ? 0 : layout.pageHeaderSize;
        bytes.insert(bytes.end(), p->data + skip, p->data + format->pageSize);
        pages.push_back(page);
        page = le32(p->data + layout.nextPage);
    }
}

size_t TableDef::readColumns(const DefinitionReader& r, size_t start, uint16_t count)
{
    const Format::TableDefinitionLayout::ColumnBlock& block = format->tdef.column;
    r.need(start, size_t(count) * block.size);
    std::vector<ColumnDef> cols(count);
    for (uint16_t i = 0; i < count; ++i) {
        ColumnDef& c = cols[i];
        size_t b = start + size_t(i) * block.size;
        c.definitionOffset = b;
        c.type = ColumnType(r.u8(b + block.type));
        c.number = r.u16(b + block.number);
        c.varIndex = r.u16(b + block.varIndex);
        c.sortOrder = r.u16(b + block.sortOrder);
        if (block.sortOrderVersion != kAbsent) c.sortOrderVersion = r.u8(b + block.sortOrderVersion);
        c.precision = r.u8(b + block.precision);
        c.scale = r.u8(b + block.scale);
        c.flags = r.u8(b + block.flags);
        if (block.extFlags != kAbsent) c.extFlags = r.u8(b + block.extFlags);
        c.fixedOffset = r.u16(b + block.fixedOffset);
        c.length = r.u16(b + block.length);
        if (c.type == ColumnType::Complex && block.complexId != kAbsent) c.complexId = r.u32(b + block.complexId);
        if (c.type == ColumnType::Boolean) c.flags |= kColumnFixed; // booleans live in the null mask
    }
    size_t o = start + size_t(count) * block.size;
    for (uint16_t i = 0; i < count; ++i) {
        cols[i].name = r.name(o);
        cols[i].utf8Name = toUtf8(cols[i].name);
    }
    std::stable_sort(cols.begin(), cols.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    columns = std::move(cols);
    return o;
}

size_t TableDef::readRealIndexes(const DefinitionReader& r, size_t o, const std::string& where)
{
    const Format::TableDefinitionLayout& layout = format->tdef;
    const Format::TableDefinitionLayout::RealIndexBlock& block = layout.realIndex;
    for (uint32_t i = 0; i < realIndexes.size(); ++i) {
        RealIndex& ri = realIndexes[i];
        ri.number = i;
        ri.blockOffset = o;
        r.need(o, block.size);
        size_t c = o + block.columns;
        for (size_t k = 0; k < layout.maxIndexColumns; ++k, c += 3) {
            uint16_t colNum = r.u16(c);
            if (colNum == 0xFFFF) continue;
            if (!columnByNumber(colNum))
                throw JetError(where + ": index " + std::to_string(i) + " names column number " +
                               std::to_string(colNum) + ", which the table does not have");
            ri.columns.push_back(IndexColumn{colNum, (r.u8(c + 2) & 0x01) != 0});
        }
        ri.usageMapPointer = r.u32(o + block.usageMap);
        ri.rootPage = r.u32(o + block.root);
        ri.flags = r.u8(o + block.flags);
        o += block.size;
    }
    return o;
}

size_t TableDef::readLogicalIndexes(const DefinitionReader& r, size_t o, uint32_t count, const std::string& where)
{
    const Format::TableDefinitionLayout::LogicalIndexBlock& block = format->tdef.logicalIndex;
    indexes.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        LogicalIndex& li = indexes[i];
        li.blockOffset = o;
        r.need(o, block.size);
        li.number = r.u32(o + block.number);
        li.realIndex = r.u32(o + block.realIndex);
        li.relatedTableType = r.u8(o + block.relatedTableType);
        li.relatedIndex = int32_t(r.u32(o + block.relatedIndex));
        li.relatedTablePage = r.u32(o + block.relatedTablePage);
        li.cascadeUpdates = r.u8(o + block.cascadeUpdates) != 0;
        li.cascadeDeletes = r.u8(o + block.cascadeDeletes) != 0;
        li.kind = r.u8(o + block.kind);
        if (li.realIndex >= realIndexes.size())
            throw JetError(where + ": logical index " + std::to_string(i) + " refers to physical index " +
                           std::to_string(li.realIndex) + " of " + std::to_string(realIndexes.size()));
        o += block.size;
    }
    for (uint32_t i = 0; i < count; ++i) {
        indexes[i].name = r.name(o);
        indexes[i].utf8Name = toUtf8(indexes[i].name);
    }
    return o;
}

const ColumnDef* TableDef::findColumn(const std::string& utf8Name) const
{
    for (const ColumnDef& c : columns)
        if (base::NameCase::equalUtf8(c.utf8Name, utf8Name)) return &c;
    return nullptr;
}

const ColumnDef* TableDef::columnByNumber(uint16_t number) const
{
    for (const ColumnDef& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

size_t TableDef::columnIndex(uint16_t number) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].number == number) return i;
    return size_t(-1);
}

bool TableDef::keysEncodable(const ColumnDef& c)
{
    if (!isKnownColumnType(c.type)) return false;
    if (!isTextType(c.type)) return true;
    return (c.sortOrder == 0x0409 || c.sortOrder == 0) && c.sortOrderVersion <= 1;
}

IndexKeyColumn TableDef::keyColumn(const ColumnDef& c, bool ascending) const
{
    IndexKeyColumn k{c.type, ascending, format->textKeys, format->legacyNumericKeys};
    if (c.sortOrderVersion == 1 && format->textKeys == TextKeyOrder::General) k.textOrder = TextKeyOrder::General2010;
    return k;
}

const ColumnDef* TableDef::unencodableColumn(const RealIndex& index) const
{
    for (const IndexColumn& ic : index.columns)
        if (const ColumnDef* c = columnByNumber(ic.columnNumber); c && !keysEncodable(*c)) return c;
    return nullptr;
}

std::string TableDef::sortOrderName(const ColumnDef& c)
{
    const std::string number = std::to_string(c.sortOrder);
    const std::string version = c.sortOrderVersion ? ", version " + std::to_string(c.sortOrderVersion) : "";
    switch (c.sortOrder) {
    case 0:
    case 0x0409: return "General (" + std::string(c.sortOrder ? number : "1033") + version + ")";
    case 0x0804: return "Chinese PRC (" + number + version + ")";
    default: return "sort order " + number + version;
    }
}

std::string TableDef::indexName(const RealIndex& index) const
{
    for (const LogicalIndex& li : indexes)
        if (li.realIndex == index.number) return li.utf8Name;
    return "index " + std::to_string(index.number);
}

bool TableDef::indexRequiresValues(const RealIndex& index) const
{
    if (index.flags & kIndexRequired) return true;
    for (const LogicalIndex& li : indexes)
        if (li.realIndex == index.number && li.isPrimaryKey()) return true;
    return false;
}

std::pair<uint32_t, size_t> TableDef::locate(size_t offset) const
{
    const size_t pageSize = format->pageSize;
    if (offset < pageSize) return {pages.at(0), offset};
    size_t rest = offset - pageSize;
    size_t perPage = pageSize - format->tdef.pageHeaderSize;
    return {pages.at(1 + rest / perPage), format->tdef.pageHeaderSize + rest % perPage};
}

} // namespace jet
