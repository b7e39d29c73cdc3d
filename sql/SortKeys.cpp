#include "sql/SortKeys.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include "sql/Session.h"
#include "jet/TextCollation.h"

namespace sql {

namespace {

bool isByteKey(ValueClass c) { return c == ValueClass::Text || c == ValueClass::Guid || c == ValueClass::Binary; }

double bitsToDouble(uint64_t bits)
{
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

int64_t bitsToInteger(uint64_t bits)
{
    int64_t i;
    std::memcpy(&i, &bits, 8);
    return i;
}

// Unsigned integers in the order of the doubles they come from.
uint64_t orderedDouble(double d)
{
    if (d == 0) d = 0; // one zero
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return (u & 0x8000000000000000ull) ? ~u : (u | 0x8000000000000000ull);
}

} // namespace

SortKeys::SortKeys(std::vector<Key> keys)
{
    for (const Key& k : keys) {
        Column c;
        c.key = k;
        columns_.push_back(std::move(c));
    }
}

void SortKeys::reserve(size_t rows)
{
    for (Column& c : columns_) {
        c.state.reserve(rows);
        if (isByteKey(c.key.valueClass)) c.ends.reserve(rows);
        else c.bits.reserve(rows);
    }
}

void SortKeys::add(const std::vector<const jet::Value*>& values)
{
    for (size_t k = 0; k < columns_.size(); ++k) {
        Column& c = columns_[k];
        const jet::Value& v = *values[k];
        const bool byteKey = isByteKey(c.key.valueClass);
        State state = Null;
        uint64_t bits = 0;
        if (!jet::isNull(v)) {
            switch (c.key.valueClass) {
            case ValueClass::Number: {
                ValueOrder::Number n = ValueOrder::number(v);
                state = n.exact ? Exact : Real;
                if (n.exact) {
                    std::memcpy(&bits, &n.integer, 8);
                } else {
                    std::memcpy(&bits, &n.real, 8);
                }
                break;
            }
            case ValueClass::Date: {
                double t = ValueOrder::timeline(std::get<jet::DateTime>(v));
                state = Real;
                std::memcpy(&bits, &t, 8);
                break;
            }
            case ValueClass::Text:
                state = Bytes;
                jet::TextCollation::appendKey(c.arena, std::get<std::u16string>(v));
                break;
            case ValueClass::Guid: {
                state = Bytes;
                const auto& g = std::get<jet::Guid>(v).bytes;
                c.arena.insert(c.arena.end(), g.begin(), g.end());
                break;
            }
            case ValueClass::Binary: {
                state = Bytes;
                const auto& b = std::get<jet::Bytes>(v);
                c.arena.insert(c.arena.end(), b.begin(), b.end());
                break;
            }
            }
        }
        c.state.push_back(state);
        if (byteKey) {
            if (c.arena.size() > std::numeric_limits<uint32_t>::max())
                throw SqlError("The sort keys of this query exceed 4 GB; narrow it down with a where clause.");
            c.ends.push_back(uint32_t(c.arena.size()));
        } else {
            c.bits.push_back(bits);
        }
    }
    ++rows_;
}

int SortKeys::compareIn(const Column& c, uint32_t a, uint32_t b)
{
    uint8_t sa = c.state[a], sb = c.state[b];
    if (sa == Null || sb == Null) return (sa != Null) - (sb != Null);
    if (sa == Bytes) {
        int r = c.bytes(a).compare(c.bytes(b));
        return (r > 0) - (r < 0);
    }
    if (sa == Exact && sb == Exact) {
        int64_t x = bitsToInteger(c.bits[a]), y = bitsToInteger(c.bits[b]);
        return (x > y) - (x < y);
    }
    double x = sa == Exact ? double(bitsToInteger(c.bits[a])) : bitsToDouble(c.bits[a]);
    double y = sb == Exact ? double(bitsToInteger(c.bits[b])) : bitsToDouble(c.bits[b]);
    return (x > y) - (x < y);
}

SortKeys::Prefix SortKeys::prefix(const Column& c, uint32_t row)
{
    switch (c.state[row]) {
    case Null: return {};
    case Exact: return {orderedDouble(double(bitsToInteger(c.bits[row]))), 0};
    case Real: return {orderedDouble(bitsToDouble(c.bits[row])), 0};
    case Bytes: {
        // The first 16 key bytes, big-endian; a shorter key pads with zeros.
        std::string_view b = c.bytes(row);
        Prefix p;
        for (size_t i = 0; i < 16; ++i) {
            uint64_t& half = i < 8 ? p.high : p.low;
            half = (half << 8) | (i < b.size() ? uint8_t(b[i]) : 0);
        }
        return p;
    }
    }
    return {};
}

int SortKeys::compareRows(uint32_t a, uint32_t b) const
{
    for (const Column& c : columns_) {
        int r = compareIn(c, a, b);
        if (r != 0) return c.key.descending ? -r : r;
    }
    return 0;
}

std::vector<uint32_t> SortKeys::order() const
{
    std::vector<uint32_t> rows(rows_);
    std::iota(rows.begin(), rows.end(), 0u);
    if (columns_.empty() || rows_ < 2) return rows;

    // Rows often come in key order or in its reverse (an autonumber listed
    // newest first): one pass finds out and saves the sort.
    bool inOrder = true, reversed = true;
    for (uint32_t i = 1; i < rows_ && (inOrder || reversed); ++i) {
        int r = compareRows(i - 1, i);
        if (r > 0) inOrder = false;
        if (r <= 0) reversed = false;
    }
    if (inOrder) return rows;
    if (reversed) {
        std::reverse(rows.begin(), rows.end());
        return rows;
    }

    // Sort small entries that carry a number ordered like the first key, so
    // that most comparisons need no look at the keys themselves.
    struct Entry {
        Prefix prefix;
        uint32_t row;
        bool present;
    };
    const Column& first = columns_[0];
    std::vector<Entry> entries(rows_);
    for (uint32_t i = 0; i < rows_; ++i) entries[i] = {prefix(first, i), i, first.state[i] != Null};
    const bool descending = first.key.descending;
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        int r = a.present != b.present ? int(a.present) - int(b.present)
                                       : (a.prefix > b.prefix) - (a.prefix < b.prefix);
        if (descending) r = -r;
        if (r == 0) r = compareRows(a.row, b.row);
        return r != 0 ? r < 0 : a.row < b.row; // ties keep the order rows came in
    });
    for (uint32_t i = 0; i < rows_; ++i) rows[i] = entries[i].row;
    return rows;
}

} // namespace sql
