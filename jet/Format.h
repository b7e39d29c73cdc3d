#pragma once
#include <cstddef>
#include <cstdint>
#include <cstddef>

#include "jet/IndexKey.h"
#include "jet/Value.h"

namespace jet {

// Every size and offset of one version of the file format, in one place:
// the reader (Pager, TableDef, RowView, IndexNode, DataPage) and the writer
// (SchemaWriter, Table's writes, RowCodec) take them from here, so that a
// second version is a second description, not a second copy of the code.
// The tables at the top of each structure's header show the Jet 4 values.
struct Format {
    const char* name;  // for messages: "Jet 4", "Access 2010"
    uint32_t version;  // the version byte of the header page
    size_t pageSize;
    // Access 2007 and later (ACE): the header says "Standard ACE DB", a
    // database key on page 0 means Office's encryption, tables may have
    // complex columns (attachments, multi-value) and calculated ones.
    bool ace = false;
    // Numeric index keys in Jet 4's encoding, whose descending order ACE
    // corrected (IndexKey.h).
    bool legacyNumericKeys = true;

    // The header page (HeaderPage.h): its RC4-masked area starts at 0x18.
    struct HeaderLayout {
        size_t maskLength;
        size_t sortOrder;
        size_t sortOrderSize;
        size_t codePage;
        size_t databaseKey;
        size_t password;
        size_t passwordLength;
        size_t creationDate;  // kAbsent where the version keeps none
    } header;

    // How texts are stored: UTF-16 (compressible) or the file's code page.
    enum class TextStorage { Unicode, CodePage } textStorage;
    // The sort order of text index keys (IndexKey.h) of columns in the
    // General sort order's first version; ACE 2010 and later write new text
    // columns in its second (TableDef::keyColumn chooses per column).
    TextKeyOrder textKeys;
    uint8_t newTextSortOrderVersion = 0;

    // Data pages (DataPage.h).
    struct DataPageLayout {
        size_t freeSpace;
        size_t owner;
        size_t rowCount;
        size_t slotTable;
    } dataPage;

    // Table definitions (TableDef.h). Offsets into the definition bytes.
    struct TableDefinitionLayout {
        size_t freeSpace;       // in each page of the chain
        size_t nextPage;
        size_t pageHeaderSize;  // what later pages of the chain start with
        size_t length;
        size_t unknown;  // 4 bytes Access fills with a constant
        size_t rowCount;
        size_t autoNumber;
        size_t autoNumberFlag;
        size_t complexAutoNumber;  // ACE: the last key given to a row's complex columns
        size_t tableType;
        size_t maxColumns;
        size_t variableColumns;
        size_t columnCount;
        size_t logicalIndexCount;
        size_t realIndexCount;
        size_t usedPagesMap;
        size_t freePagesMap;
        size_t headerSize;  // where the per-index blocks begin

        size_t realIndexCountBlock;  // per physical index, before the columns
        size_t uniqueEntryCount;     // within that block

        struct ColumnBlock {
            size_t size;
            size_t type;
            size_t unknown;  // 4 bytes Access fills with a constant
            size_t number;
            size_t varIndex;
            size_t numberAgain;
            size_t sortOrder;  // Text, Memo
            size_t precision;  // Numeric, in place of the sort order
            size_t scale;
            size_t sortOrderVersion;
            size_t flags;
            size_t extFlags;
            size_t fixedOffset;
            size_t length;
            size_t codePage;  // Text, Memo (Jet 3), in place of the precision
            size_t one;       // two bytes holding 1 (Jet 3)
            size_t complexId; // ACE complex columns: 4 bytes, in place of the sort order
        } column;
        size_t nameLengthSize;  // each name: its byte length, then the name

        struct RealIndexBlock {
            size_t size;
            size_t columns;  // maxIndexColumns x (2 column number, 1 order flags)
            size_t usageMap;
            size_t root;
            size_t flags;
        } realIndex;
        size_t maxIndexColumns;

        struct LogicalIndexBlock {
            size_t size;
            size_t number;
            size_t realIndex;
            size_t relatedTableType;
            size_t relatedIndex;
            size_t relatedTablePage;
            size_t cascadeUpdates;
            size_t cascadeDeletes;
            size_t kind;
        } logicalIndex;

        size_t columnMapEntrySize;  // after the index names: 2 column number, 4 + 4 map pointers
    } tdef;

    // Rows (RowCodec.h).
    struct RowLayout {
        size_t columnCountSize;  // the row's own column count
        size_t varOffsetSize;    // each entry of the variable-column table
        size_t varCountSize;
    } row;

    // Index pages (IndexNode.h).
    struct IndexPageLayout {
        size_t freeSpace;
        size_t owner;
        size_t prev;
        size_t next;
        size_t tail;
        size_t prefixLength;
        size_t prefixLengthSize;  // 2 in Jet 4, 1 in Jet 3 (the next byte is something else)
        size_t mask;
        size_t maskSize;
        size_t entries;
    } indexPage;

    // Usage map pages (UsageMap.h): the bitmap after a 4-byte header.
    size_t mapPageBitmap;

    // Long values (LongValue.h): values up to this size stay in the row.
    size_t maxInlineLongValue;

    // Bytes a column of the type takes in the fixed area of a row (0 for
    // Boolean, whose value is its bit in the null mask; the column's own
    // length for types kept at their declared size).
    size_t fixedWidth(ColumnType type, size_t declaredLength) const;
    // The largest row a page holds alone.
    size_t maxRowSize() const { return pageSize - dataPage.slotTable - 2; }
    // The largest part of a chained long value one row holds.
    size_t maxLongValueRow() const { return maxRowSize() - 4; }
    // Entry bytes an index page holds.
    size_t indexCapacity() const { return pageSize - indexPage.entries; }
    // Pages one usage map page stands for.
    uint32_t pagesPerMapPage() const { return uint32_t((pageSize - mapPageBitmap) * 8); }

    // Whether a column type exists in files of this version (Access 2007
    // brought complex columns, 2016 large numbers, 2019 extended dates).
    bool hasColumnType(ColumnType type) const;

    static const Format& jet3();
    static const Format& jet4();
    // Access 2007 (version 2), 2010 (3), 2013 (4), 2016 (5), 2019 (6).
    static const Format& aceVersion(uint8_t version);
    // The description of a header's version field, or nullptr when none.
    // Only its first byte counts: Access 2010 leaves a 1 in the second of
    // files it converted.
    static const Format* forVersion(uint32_t version);
};

// An offset a version does not have.
constexpr size_t kAbsent = SIZE_MAX;

// The largest page of any version: the size of page buffers.
constexpr size_t kMaxPageSize = 4096;

} // namespace jet
