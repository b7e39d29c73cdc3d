#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jet/Value.h"
#include "sql/ValueOrder.h"

namespace sql {

// The order by keys of the rows a query collects, kept column by column in
// compact form (a number or date in 8 bytes, a text as its collation key),
// so that a million rows can be ordered without holding the rows themselves.
class SortKeys {
public:
    struct Key {
        ValueClass valueClass = ValueClass::Number;
        bool descending = false;
    };
    explicit SortKeys(std::vector<Key> keys);

    size_t rowCount() const { return rows_; }
    // Adds one row: one value per key, in key order.
    void add(const std::vector<const jet::Value*>& values);
    // Row numbers in key order; rows with equal keys keep the order they
    // were added in. Nulls come first in ascending order, last in descending.
    std::vector<uint32_t> order() const;

private:
    enum State : uint8_t { Null, Exact, Real, Bytes };
    struct Column {
        Key key;
        std::vector<uint8_t> state;
        std::vector<uint64_t> bits;      // Exact: int64_t, Real: double
        std::vector<std::string> bytes;  // Bytes: text collation key or raw bytes
    };
    int compareRows(uint32_t a, uint32_t b) const;
    static int compareIn(const Column& c, uint32_t a, uint32_t b);

    std::vector<Column> columns_;
    size_t rows_ = 0;
};

} // namespace sql
