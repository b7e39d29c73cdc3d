#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "jet/Value.h"

namespace sql {

// What a value can be compared with. Jet compares numbers with numbers
// (Yes/No counting as -1 and 0), text with text and dates with dates; any
// other pairing is a type mismatch.
enum class ValueClass { Number, Text, Date, Binary, Guid };

// Jet's ordering of values: numerically, texts by the General sort order,
// dates by time.
class ValueOrder {
public:
    static ValueClass classOf(jet::ColumnType type);
    // Null has no class.
    static std::optional<ValueClass> classOf(const jet::Value& value);
    static const char* className(ValueClass c);
    static bool isComparable(ValueClass c) { return c != ValueClass::Binary; }

    // A number, exact while it is a whole number that fits 64 bits.
    struct Number {
        bool exact = true;
        int64_t integer = 0;
        double real = 0;
        double asDouble() const { return exact ? double(integer) : real; }
    };
    static Number number(const jet::Value& value);
    static int compareNumbers(const Number& a, const Number& b);

    // A date as a number that grows with time: stored dates before 1899-12-30
    // count days backwards but the time of day forwards.
    static double timeline(jet::DateTime date);

    // Compares two non-null values of one class: <0, 0, >0.
    static int compare(const jet::Value& a, const jet::Value& b, ValueClass c);

    // A byte string that is equal for equal values of one class (texts that
    // differ only in case give the same key), for hash joins.
    static std::string equalityKey(const jet::Value& value, ValueClass c);
};

} // namespace sql
