#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/NameCase.h"
#include "jet/Format.h"
#include "jet/IndexKey.h"
#include "jet/TextCoding.h"
#include "jet/Value.h"

namespace jet {

class DefinitionReader;
class Pager;

// Column flags of the column definition.
enum ColumnFlag : uint8_t {
    kColumnFixed = 0x01,
    kColumnNullable = 0x02,
    kColumnAutoLong = 0x04,
    kColumnReplication = 0x10,
    // An automatic replication ID, on a GUID column only: Access 97 leaves
    // the bit on ordinary columns too (Northwind's Orders.Freight, dates,
    // texts), where it gives no value and is kept as read.
    kColumnAutoGuid = 0x40,
    kColumnHyperlink = 0x80,
};
constexpr uint8_t kColumnExtCompressedUnicode = 0x01;
// ACE: the column's value is computed by Access from an expression and
// stored wrapped (CalculatedValue.h).
constexpr uint8_t kColumnExtCalculated = 0xC0;

struct ColumnDef {
    ColumnType type = ColumnType::Long;
    uint16_t number = 0;      // stored column number; deleted columns leave gaps
    uint16_t varIndex = 0;    // slot in the variable-length offset table
    uint16_t fixedOffset = 0; // offset in the fixed area of a row
    uint16_t length = 0;      // bytes (Text: 2 per character)
    uint8_t flags = 0;
    uint8_t extFlags = 0;
    uint8_t precision = 0;    // Numeric
    uint8_t scale = 0;        // Numeric
    uint16_t sortOrder = 0;   // Text, Memo: the LCID of the sort order (0x0409 General)
    uint8_t sortOrderVersion = 0;
    uint32_t complexId = 0;   // Complex: its row in MSysComplexColumns (ComplexID)
    std::u16string name;
    std::string utf8Name;
    size_t definitionOffset = 0; // where its 25-byte block lies in the definition bytes

    bool isFixed() const { return flags & kColumnFixed; }
    bool isAutoGuid() const { return (flags & kColumnAutoGuid) && type == ColumnType::Guid; }
    // Whether the table gives the column its values (not updateable).
    bool isAutoNumber() const { return (flags & kColumnAutoLong) || isAutoGuid(); }
    bool isCompressedUnicode() const { return extFlags & kColumnExtCompressedUnicode; }
    bool isCalculated() const { return extFlags & kColumnExtCalculated; }
    bool isComplex() const { return type == ColumnType::Complex; }
};

struct IndexColumn {
    uint16_t columnNumber = 0;
    bool ascending = true;
};

enum IndexFlag : uint8_t {
    kIndexUnique = 0x01,
    kIndexIgnoreNulls = 0x02,
    kIndexRequired = 0x08,
};

// A physical index: one B-tree. Several logical indexes may share one.
struct RealIndex {
    uint32_t number = 0;
    std::vector<IndexColumn> columns;
    uint32_t usageMapPointer = 0; // row pointer of the index's page usage map
    uint32_t rootPage = 0;
    uint8_t flags = 0;
    uint32_t uniqueEntryCount = 0;
    size_t countOffset = 0;       // definition-bytes offset of uniqueEntryCount
    size_t blockOffset = 0;       // definition-bytes offset of the 52-byte block

    bool isUnique() const { return flags & kIndexUnique; }
    bool ignoresNulls() const { return flags & kIndexIgnoreNulls; }
};

// A logical index: a name, a kind (primary key, foreign key) and its B-tree.
struct LogicalIndex {
    uint32_t number = 0;
    uint32_t realIndex = 0;
    uint8_t kind = 0; // 1 primary key, 2 foreign key
    uint8_t relatedTableType = 0;
    int32_t relatedIndex = -1;
    uint32_t relatedTablePage = 0;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    std::u16string name;
    size_t blockOffset = 0; // definition-bytes offset of its 28-byte block
    std::string utf8Name;

    bool isPrimaryKey() const { return kind == 1; }
    bool isForeignKey() const { return kind == 2; }
};

// A table definition, read from its chain of definition pages (type 0x02).
// Offsets are the format's (Format::tdef); in Jet 4:
//
// Page header:
//   0x00  1  page type 0x02
//   0x01  1  0x01
//   0x02  2  free space in this page minus 8 (Jet 4)
//   0x04  4  next definition page of this table, 0 for the last
// Definition bytes, offsets counted in the first page (later pages add
// their bytes after their own 8-byte header):
//   0x08  4  length of the definition bytes
//   0x0C  4  unknown
//   0x10  4  row count
//   0x14  4  autonumber: the last value given out
//   0x18  1  autonumber flag
//   0x19  3  unknown
//   0x1C  4  ACE: the last key given to the complex columns of a row
//   0x20  8  unknown
//   0x28  1  table type: 0x4E user, 0x53 system
//   0x29  2  max column count a row can hold (deleted columns included)
//   0x2B  2  number of variable-length columns
//   0x2D  2  number of columns
//   0x2F  4  number of logical indexes
//   0x33  4  number of physical indexes
//   0x37  4  row pointer of the usage map of the table's pages
//   0x3B  4  row pointer of the usage map of its pages with free space
//   0x3F  then, in order:
//     per physical index, 12 bytes: 4 unknown, 4 unique-entry count, 4 unknown
//     per column, 25 bytes:
//        +0 type, +1 4 unknown, +5 2 number, +7 2 variable-table slot,
//        +9 2 number again, +11 2 sort order (Text) or +11 precision +12 scale
//        (Numeric) or +11 4 complex id (Complex, ACE), +13 2 sort-order version
//        (its second byte), +15 flags, +16 extended flags (0x01 compressed
//        unicode, 0xC0 calculated), +17 4 unknown, +21 2 fixed offset, +23 2 length
//     per column: 2-byte byte length and the UTF-16 name
//     per physical index, 52 bytes: 4 unknown, 10 x (2 column number or
//        0xFFFF, 1 order flags: 0x01 ascending), 4 usage-map row pointer,
//        4 root page, 4 unknown, 1 flags, 5 unknown
//     per logical index, 28 bytes: 4 unknown, 4 number, 4 physical index,
//        1 related table type, 4 related index, 4 related table page,
//        1 cascade updates, 1 cascade deletes, 1 kind (1 primary, 2 foreign), 4 unknown
//     per logical index: 2-byte byte length and the UTF-16 name
//     per variable column with its own usage maps: 2 column number, 4 + 4
//        usage map pointers; ended by 0xFFFF
constexpr uint8_t kUserTableType = 0x4E;
constexpr uint8_t kSystemTableType = 0x53;

struct TableDef {
    static constexpr uint8_t kPageType = 0x02;

    const Format* format = &Format::jet4();
    const TextCoding* text = &TextCoding::unicode(); // how names and text values are stored
    std::string name;             // UTF-8, as in the catalog
    uint32_t firstPage = 0;
    std::vector<uint32_t> pages;  // the definition chain
    std::vector<uint8_t> bytes;   // the definition bytes as laid out above
    size_t length = 0;            // how many of them the definition uses
    size_t columnMapsOffset = 0;  // where the per-column usage maps start (ended by 0xFFFF)

    uint32_t rowCount = 0;
    uint32_t autoNumber = 0;
    uint32_t complexAutoNumber = 0; // ACE: the last key given to complex columns
    uint8_t tableType = kUserTableType;
    uint16_t maxColumns = 0;
    uint16_t variableColumns = 0;
    uint32_t usedPagesPointer = 0;
    uint32_t freePagesPointer = 0;

    std::vector<ColumnDef> columns;   // ordered by column number
    std::vector<RealIndex> realIndexes;
    std::vector<LogicalIndex> indexes;

    static TableDef read(Pager& pager, uint32_t firstPage, const std::string& name);

    const ColumnDef* findColumn(const std::string& utf8Name) const; // case-insensitive
    const ColumnDef* columnByNumber(uint16_t number) const;
    size_t columnIndex(uint16_t number) const; // position in columns, or npos
    // The name of the first logical index on a physical one ("index N" when none names it).
    std::string indexName(const RealIndex& index) const;
    // Whether an index admits no null key column: a primary key, or one flagged required.
    bool indexRequiresValues(const RealIndex& index) const;
    // Whether the engine writes the column's index keys as Jet does: any
    // column of a type it knows but Text and Memo, and those in the General
    // sort order (either version in Jet 4 and ACE files, Access 97's in Jet 3
    // files). Keys in other sort orders (Chinese PRC, ...) are kept but never
    // written.
    static bool keysEncodable(const ColumnDef& column);
    // How the column's values are keyed in an index of this table.
    IndexKeyColumn keyColumn(const ColumnDef& column, bool ascending) const;
    // The first column of the index whose keys are not encodable, or nullptr.
    const ColumnDef* unencodableColumn(const RealIndex& index) const;
    // "General (1033)", "Chinese PRC (2052)", "sort order N": for messages and `jetdb schema`.
    static std::string sortOrderName(const ColumnDef& column);

    // Bytes the column takes in the fixed area of a row.
    size_t fixedWidth(const ColumnDef& c) const { return format->fixedWidth(c.type, c.length); }

    // Where a definition-bytes offset lives: (page, offset in page).
    std::pair<uint32_t, size_t> locate(size_t offset) const;

private:
    void readPages(Pager& pager, const std::string& where);
    // Each reads its blocks from `offset` on and returns where the next part starts.
    size_t readColumns(const DefinitionReader& r, size_t offset, uint16_t count);
    size_t readRealIndexes(const DefinitionReader& r, size_t offset, const std::string& where);
    size_t readLogicalIndexes(const DefinitionReader& r, size_t offset, uint32_t count, const std::string& where);
};


} // namespace jet
