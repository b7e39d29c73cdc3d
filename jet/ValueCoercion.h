#pragma once
#include <string>

#include "jet/TableDef.h"
#include "jet/TextCoding.h"
#include "jet/Value.h"

namespace jet {

// Brings a value given for a column to the column's type before it is
// stored: whole numbers into Byte/Integer/Long ranges, numbers into
// currency and decimals of the column's scale and precision, texts within
// the column's length. Refusals are JetErrors that start with `where` and
// name the column.
class ValueCoercion {
public:
    // Null stays null (a Boolean becomes false); a required column refuses it.
    // Texts are measured as `text` stores them.
    static void coerce(const ColumnDef& column, Value& value, const std::string& where,
                       const TextCoding& text = TextCoding::unicode());

private:
    static void toWholeNumber(const ColumnDef& column, Value& value, const std::string& where);
    static void toDecimal(const ColumnDef& column, Value& value, const std::string& where);
    static void checkTextLength(const ColumnDef& column, const std::u16string& text, const std::string& where,
                                const TextCoding& coding);
};

} // namespace jet
