#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/Value.h"
#include "sql/ValueOrder.h"

namespace sql {

// The order by keys of the rows a query collects, kept column by column in
// compact form (a number or date in 8 bytes, a text as its collation key in
// one shared buffer), so that a million rows can be ordered without holding
// the rows themselves.
class SortKeys {
public:
    struct Key {
        ValueClass valueClass = ValueClass::Number;
        bool descending = false;
    };
    explicit SortKeys(std::vector<Key> keys);

    size_t rowCount() const { return rows_; }
    // Room for `rows` rows (text keys grow as they come).
    void reserve(size_t rows);
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
        std::vector<uint64_t> bits;     // Exact: int64_t, Real: double
        jet::Bytes arena;               // Bytes: the keys one after another
        std::vector<uint32_t> ends;     // Bytes: where each row's key ends in the arena
        std::string_view bytes(uint32_t row) const
        {
            uint32_t begin = row == 0 ? 0 : ends[row - 1];
            return std::string_view(reinterpret_cast<const char*>(arena.data()) + begin, ends[row] - begin);
        }
    };
    int compareRows(uint32_t a, uint32_t b) const;
    static int compareIn(const Column& c, uint32_t a, uint32_t b);
    // Two numbers that order like the row's key in column c (ties possible).
    struct Prefix {
        uint64_t high = 0;
        uint64_t low = 0;
        auto operator<=>(const Prefix&) const = default;
    };
    static Prefix prefix(const Column& c, uint32_t row);

    std::vector<Column> columns_;
    size_t rows_ = 0;
};

} // namespace sql
