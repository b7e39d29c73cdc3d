#pragma once

#include <QString>

// Field types as the ADO layer reports them.
enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftGuid,
    ftFMTBcd,
    ftWideMemo,
    ftByte,
};

// One column of a dataset as its provider describes it.
struct TFieldDef {
    QString name;
    TFieldType type = ftUnknown;
    int size = 0;       // characters for text, bytes for binary data
    int precision = 0;  // digits of ftBCD/ftFMTBcd
    int scale = 0;      // digits after the point of ftBCD/ftFMTBcd
    bool required = false;
    bool autoIncrement = false;
    QString baseTable;  // where the column comes from; empty for computed columns
    QString baseColumn;
};
