#include "jet/TableDef.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/TextCodec.h"

#include <algorithm>
#include <set>

namespace jet {

namespace {
constexpr size_t kHeaderSize = 0x3F;
constexpr size_t kRealIndexCountBlock = 12;
constexpr size_t kColumnBlock = 25;
constexpr size_t kRealIndexBlock = 52;
constexpr size_t kLogicalIndexBlock = 28;
constexpr size_t kMaxIndexColumns = 10;

class DefinitionReader {
public:
    DefinitionReader(const std::vector<uint8_t>& b, const std::string& where) : bytes_(b), where_(where) {}
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
        uint16_t len = u16(o);
        o += 2;
        need(o, len);
        std::u16string s = decodeText(&bytes_[o], len);
        o += len;
        return s;
    }

private:
    const std::vector<uint8_t>& bytes_;
    const std::string& where_;
};
} // namespace

bool equalsIgnoreCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

std::string utf8Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

TableDef TableDef::read(Pager& pager, uint32_t firstPage, const std::string& name)
{
    TableDef t;
    t.name = name;
    t.firstPage = firstPage;
    std::string where = "'" + pager.path() + "', table '" + name + "' (definition page " +
                        std::to_string(firstPage) + ")";
    std::set<uint32_t> seen;
    uint32_t page = firstPage;
    while (page != 0) {
        if (!seen.insert(page).second)
            throw JetError(where + ": the definition pages form a cycle at page " + std::to_string(page));
        PageRef p = pager.read(page);
        if (p->data[0] != 0x02)
            throw JetError(where + ": page " + std::to_string(page) + " is not a table definition page (type " +
                           std::to_string(p->data[0]) + ")");
        if (t.pages.empty())
            t.bytes.assign(p->data, p->data + kPageSize);
        else
            t.bytes.insert(t.bytes.end(), p->data + 8, p->data + kPageSize);
        t.pages.push_back(page);
        page = le32(p->data + 4);
    }
    DefinitionReader r(t.bytes, where);
    t.rowCount = r.u32(kTdefRowCountOffset);
    t.autoNumber = r.u32(kTdefAutoNumberOffset);
    t.tableType = r.u8(0x28);
    t.maxColumns = r.u16(0x29);
    t.variableColumns = r.u16(0x2B);
    uint16_t columnCount = r.u16(0x2D);
    uint32_t logicalCount = r.u32(0x2F);
    uint32_t realCount = r.u32(0x33);
    t.usedPagesPointer = r.u32(0x37);
    t.freePagesPointer = r.u32(0x3B);
    if (realCount > 256 || logicalCount > 256)
        throw JetError(where + ": implausible index counts (" + std::to_string(realCount) + " physical, " +
                       std::to_string(logicalCount) + " logical)");

    size_t o = kHeaderSize;
    t.realIndexes.resize(realCount);
    for (uint32_t i = 0; i < realCount; ++i) {
        t.realIndexes[i].countOffset = o + 4;
        t.realIndexes[i].uniqueEntryCount = r.u32(o + 4);
        o += kRealIndexCountBlock;
    }
    size_t columnsStart = o;
    r.need(columnsStart, size_t(columnCount) * kColumnBlock);
    o = columnsStart + size_t(columnCount) * kColumnBlock;
    std::vector<ColumnDef> cols(columnCount);
    for (uint16_t i = 0; i < columnCount; ++i) {
        ColumnDef& c = cols[i];
        size_t b = columnsStart + size_t(i) * kColumnBlock;
        c.definitionOffset = b;
        c.type = ColumnType(r.u8(b));
        c.number = r.u16(b + 5);
        c.varIndex = r.u16(b + 7);
        c.sortOrder = r.u16(b + 11);
        c.precision = r.u8(b + 11);
        c.scale = r.u8(b + 12);
        c.flags = r.u8(b + 15);
        c.extFlags = r.u8(b + 16);
        c.fixedOffset = r.u16(b + 21);
        c.length = r.u16(b + 23);
        if (c.type == ColumnType::Boolean) c.flags |= kColumnFixed; // booleans live in the null mask
    }
    for (uint16_t i = 0; i < columnCount; ++i) {
        cols[i].name = r.name(o);
        cols[i].utf8Name = toUtf8(cols[i].name);
    }
    std::stable_sort(cols.begin(), cols.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    t.columns = std::move(cols);

    for (uint32_t i = 0; i < realCount; ++i) {
        RealIndex& ri = t.realIndexes[i];
        ri.number = i;
        ri.blockOffset = o;
        r.need(o, kRealIndexBlock);
        size_t c = o + 4;
        for (size_t k = 0; k < kMaxIndexColumns; ++k, c += 3) {
            uint16_t colNum = r.u16(c);
            if (colNum == 0xFFFF) continue;
            if (!t.columnByNumber(colNum))
                throw JetError(where + ": index " + std::to_string(i) + " names column number " +
                               std::to_string(colNum) + ", which the table does not have");
            ri.columns.push_back(IndexColumn{colNum, (r.u8(c + 2) & 0x01) != 0});
        }
        ri.usageMapPointer = r.u32(o + 34);
        ri.rootPage = r.u32(o + 38);
        ri.flags = r.u8(o + 46);
        o += kRealIndexBlock;
    }
    t.indexes.resize(logicalCount);
    for (uint32_t i = 0; i < logicalCount; ++i) {
        LogicalIndex& li = t.indexes[i];
        li.blockOffset = o;
        r.need(o, kLogicalIndexBlock);
        li.number = r.u32(o + 4);
        li.realIndex = r.u32(o + 8);
        li.relatedTableType = r.u8(o + 12);
        li.relatedIndex = int32_t(r.u32(o + 13));
        li.relatedTablePage = r.u32(o + 17);
        li.cascadeUpdates = r.u8(o + 21) != 0;
        li.cascadeDeletes = r.u8(o + 22) != 0;
        li.kind = r.u8(o + 23);
        if (li.realIndex >= realCount)
            throw JetError(where + ": logical index " + std::to_string(i) + " refers to physical index " +
                           std::to_string(li.realIndex) + " of " + std::to_string(realCount));
        o += kLogicalIndexBlock;
    }
    for (uint32_t i = 0; i < logicalCount; ++i) {
        t.indexes[i].name = r.name(o);
        t.indexes[i].utf8Name = toUtf8(t.indexes[i].name);
    }
    t.columnMapsOffset = o;
    t.length = std::min<size_t>(t.bytes.size(), size_t(r.u32(0x08)) + 8);
    return t;
}

const ColumnDef* TableDef::findColumn(const std::string& utf8Name) const
{
    for (const ColumnDef& c : columns)
        if (equalsIgnoreCase(c.utf8Name, utf8Name)) return &c;
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
    if (offset < kPageSize) return {pages.at(0), offset};
    size_t rest = offset - kPageSize;
    size_t perPage = kPageSize - 8;
    return {pages.at(1 + rest / perPage), 8 + rest % perPage};
}

} // namespace jet
