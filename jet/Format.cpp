#include "jet/Format.h"

namespace jet {

namespace {

// Access 2000-2003 files (Jet 4).
Format makeJet4()
{
    Format f{};
    f.name = "Jet 4";
    f.version = 1;
    f.pageSize = 4096;

    f.header = {.maskLength = 128,
                .sortOrder = 0x6E,
                .sortOrderSize = 4,
                .codePage = 0x3C,
                .databaseKey = 0x3E,
                .password = 0x42,
                .passwordLength = 40,
                .creationDate = 0x72};
    f.textStorage = Format::TextStorage::Unicode;
    f.textKeys = TextKeyOrder::General;
    f.dataPage = {.freeSpace = 0x02, .owner = 0x04, .rowCount = 0x0C, .slotTable = 0x0E};

    Format::TableDefinitionLayout& t = f.tdef;
    t.freeSpace = 0x02;
    t.nextPage = 0x04;
    t.pageHeaderSize = 8;
    t.length = 0x08;
    t.unknown = 0x0C;
    t.rowCount = 0x10;
    t.autoNumber = 0x14;
    t.autoNumberFlag = 0x18;
    t.complexAutoNumber = kAbsent;
    t.tableType = 0x28;
    t.maxColumns = 0x29;
    t.variableColumns = 0x2B;
    t.columnCount = 0x2D;
    t.logicalIndexCount = 0x2F;
    t.realIndexCount = 0x33;
    t.usedPagesMap = 0x37;
    t.freePagesMap = 0x3B;
    t.headerSize = 0x3F;
    t.realIndexCountBlock = 12;
    t.uniqueEntryCount = 4;
    t.column = {.size = 25,
                .type = 0,
                .unknown = 1,
                .number = 5,
                .varIndex = 7,
                .numberAgain = 9,
                .sortOrder = 11,
                .precision = 11,
                .scale = 12,
                .sortOrderVersion = 14,
                .flags = 15,
                .extFlags = 16,
                .fixedOffset = 21,
                .length = 23,
                .codePage = kAbsent,
                .one = kAbsent,
                .complexId = kAbsent};
    t.nameLengthSize = 2;
    t.realIndex = {.size = 52, .columns = 4, .usageMap = 34, .root = 38, .flags = 46};
    t.maxIndexColumns = 10;
    t.logicalIndex = {.size = 28,
                      .number = 4,
                      .realIndex = 8,
                      .relatedTableType = 12,
                      .relatedIndex = 13,
                      .relatedTablePage = 17,
                      .cascadeUpdates = 21,
                      .cascadeDeletes = 22,
                      .kind = 23};
    t.columnMapEntrySize = 10;

    f.row = {.columnCountSize = 2, .varOffsetSize = 2, .varCountSize = 2};

    f.indexPage = {.freeSpace = 0x02,
                   .owner = 0x04,
                   .prev = 0x0C,
                   .next = 0x10,
                   .tail = 0x14,
                   .prefixLength = 0x18,
                   .prefixLengthSize = 2,
                   .mask = 0x1B,
                   .maskSize = 453,
                   .entries = 0x1E0};

    f.mapPageBitmap = 4;
    f.maxInlineLongValue = 64;
    return f;
}

// Access 97 files (Jet 3): 2048-byte pages, texts in the file's code page,
// one-byte row offsets with a jump table (RowView), shorter blocks.
Format makeJet3()
{
    Format f{};
    f.name = "Jet 3";
    f.version = 0;
    f.pageSize = 2048;
    f.header = {.maskLength = 126,
                .sortOrder = 0x3A,
                .sortOrderSize = 2,
                .codePage = 0x3C,
                .databaseKey = 0x3E,
                .password = 0x42,
                .passwordLength = 20,
                .creationDate = kAbsent};
    f.textStorage = Format::TextStorage::CodePage;
    f.textKeys = TextKeyOrder::General97;
    f.dataPage = {.freeSpace = 0x02, .owner = 0x04, .rowCount = 0x08, .slotTable = 0x0A};

    Format::TableDefinitionLayout& t = f.tdef;
    t.freeSpace = kAbsent; // Jet 3 keeps the letters "VC" there
    t.nextPage = 0x04;
    t.pageHeaderSize = 8;
    t.length = 0x08;
    t.unknown = kAbsent;
    t.rowCount = 0x0C;
    t.autoNumber = 0x10;
    t.autoNumberFlag = kAbsent;
    t.complexAutoNumber = kAbsent;
    t.tableType = 0x14;
    t.maxColumns = 0x15;
    t.variableColumns = 0x17;
    t.columnCount = 0x19;
    t.logicalIndexCount = 0x1B;
    t.realIndexCount = 0x1F;
    t.usedPagesMap = 0x23;
    t.freePagesMap = 0x27;
    t.headerSize = 0x2B;
    t.realIndexCountBlock = 8;
    t.uniqueEntryCount = 4;
    // Bytes 5..6 are zero and 7..8 hold 1 in the files Access 97 wrote.
    t.column = {.size = 18,
                .type = 0,
                .unknown = kAbsent,
                .number = 1,
                .varIndex = 3,
                .numberAgain = kAbsent,
                .sortOrder = 9,
                .precision = 11,
                .scale = 12,
                .sortOrderVersion = kAbsent,
                .flags = 13,
                .extFlags = kAbsent,
                .fixedOffset = 14,
                .length = 16,
                .codePage = 11,
                .one = 7,
                .complexId = kAbsent};
    t.nameLengthSize = 1;
    t.realIndex = {.size = 39, .columns = 0, .usageMap = 30, .root = 34, .flags = 38};
    t.maxIndexColumns = 10;
    t.logicalIndex = {.size = 20,
                      .number = 0,
                      .realIndex = 4,
                      .relatedTableType = 8,
                      .relatedIndex = 9,
                      .relatedTablePage = 13,
                      .cascadeUpdates = 17,
                      .cascadeDeletes = 18,
                      .kind = 19};
    t.columnMapEntrySize = 10;

    f.row = {.columnCountSize = 1, .varOffsetSize = 1, .varCountSize = 1};
    f.indexPage = {.freeSpace = 0x02,
                   .owner = 0x04,
                   .prev = 0x08,
                   .next = 0x0C,
                   .tail = 0x10,
                   .prefixLength = 0x14,
                   .prefixLengthSize = 1,
                   .mask = 0x16,
                   .maskSize = 0xF8 - 0x16,
                   .entries = 0xF8};
    f.mapPageBitmap = 4;
    f.maxInlineLongValue = 64;
    return f;
}

// Access 2007 and later (ACE): Jet 4's layout, with the counter of complex
// column keys in the table definition, a complex column's id where other
// columns keep their sort order, and Numeric index keys in the corrected
// encoding. From Access 2010 on, new text columns use the second version
// of the General sort order.
Format makeAce(uint8_t version, const char* name)
{
    Format f = makeJet4();
    f.name = name;
    f.version = version;
    f.ace = true;
    f.legacyNumericKeys = false;
    f.newTextSortOrderVersion = version >= 3 ? 1 : 0;
    f.tdef.complexAutoNumber = 0x1C;
    f.tdef.column.complexId = 11;
    return f;
}

} // namespace

bool Format::hasColumnType(ColumnType type) const
{
    switch (type) {
    case ColumnType::Complex: return ace;
    case ColumnType::BigInt: return ace && version >= 5;
    case ColumnType::ExtDateTime: return ace && version >= 6;
    default: return isKnownColumnType(type);
    }
}

size_t Format::fixedWidth(ColumnType type, size_t declaredLength) const
{
    switch (type) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long:
    case ColumnType::Single:
    case ColumnType::Complex: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::BigInt: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    case ColumnType::ExtDateTime: return 42;
    default: return declaredLength;
    }
}

const Format& Format::jet4()
{
    static const Format format = makeJet4();
    return format;
}

const Format& Format::jet3()
{
    static const Format format = makeJet3();
    return format;
}

const Format& Format::aceVersion(uint8_t version)
{
    static const Format v2007 = makeAce(2, "Access 2007");
    static const Format v2010 = makeAce(3, "Access 2010");
    static const Format v2013 = makeAce(4, "Access 2013");
    static const Format v2016 = makeAce(5, "Access 2016");
    static const Format v2019 = makeAce(6, "Access 2019");
    switch (version) {
    case 2: return v2007;
    case 3: return v2010;
    case 4: return v2013;
    case 5: return v2016;
    default: return v2019;
    }
}

const Format* Format::forVersion(uint32_t version)
{
    const uint32_t code = version & 0xFF;
    if (code == jet4().version) return &jet4();
    if (code == jet3().version) return &jet3();
    if (code >= 2 && code <= 6) return &aceVersion(uint8_t(code));
    return nullptr;
}

} // namespace jet
