#include "sql/SortKeys.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "sql/TextCollation.h"

namespace sql {

SortKeys::SortKeys(std::vector<Key> keys)
{
    for (const Key& k : keys) {
        Column c;
        c.key = k;
        columns_.push_back(std::move(c));
    }
}

void SortKeys::add(const std::vector<const jet::Value*>& values)
{
    for (size_t k = 0; k < columns_.size(); ++k) {
        Column& c = columns_[k];
        const jet::Value& v = *values[k];
        bool textual = c.key.valueClass == ValueClass::Text || c.key.valueClass == ValueClass::Guid ||
                       c.key.valueClass == ValueClass::Binary;
        if (textual) {
            c.bytes.emplace_back();
        } else {
            c.bits.push_back(0);
        }
        if (jet::isNull(v)) {
            c.state.push_back(Null);
            continue;
        }
        switch (c.key.valueClass) {
        case ValueClass::Number: {
            ValueOrder::Number n = ValueOrder::number(v);
            if (n.exact) {
                c.state.push_back(Exact);
                std::memcpy(&c.bits.back(), &n.integer, 8);
            } else {
                c.state.push_back(Real);
                std::memcpy(&c.bits.back(), &n.real, 8);
            }
            break;
        }
        case ValueClass::Date: {
            double t = ValueOrder::timeline(std::get<jet::DateTime>(v));
            c.state.push_back(Real);
            std::memcpy(&c.bits.back(), &t, 8);
            break;
        }
        case ValueClass::Text:
            c.state.push_back(Bytes);
            TextCollation::appendKey(c.bytes.back(), std::get<std::u16string>(v));
            break;
        case ValueClass::Guid: {
            c.state.push_back(Bytes);
            const auto& g = std::get<jet::Guid>(v).bytes;
            c.bytes.back().assign(g.begin(), g.end());
            break;
        }
        case ValueClass::Binary: {
            c.state.push_back(Bytes);
            const auto& b = std::get<jet::Bytes>(v);
            c.bytes.back().assign(b.begin(), b.end());
            break;
        }
        }
    }
    ++rows_;
}

int SortKeys::compareIn(const Column& c, uint32_t a, uint32_t b)
{
    uint8_t sa = c.state[a], sb = c.state[b];
    if (sa == Null || sb == Null) return (sa != Null) - (sb != Null);
    if (sa == Bytes) {
        int r = c.bytes[a].compare(c.bytes[b]);
        return (r > 0) - (r < 0);
    }
    if (sa == Exact && sb == Exact) {
        int64_t x, y;
        std::memcpy(&x, &c.bits[a], 8);
        std::memcpy(&y, &c.bits[b], 8);
        return (x > y) - (x < y);
    }
    auto asDouble = [&](uint8_t s, uint32_t row) {
        if (s == Exact) {
            int64_t i;
            std::memcpy(&i, &c.bits[row], 8);
            return double(i);
        }
        double d;
        std::memcpy(&d, &c.bits[row], 8);
        return d;
    };
    double x = asDouble(sa, a), y = asDouble(sb, b);
    return (x > y) - (x < y);
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
    // Ties broken by row number make the plain sort stable.
    std::sort(rows.begin(), rows.end(), [this](uint32_t a, uint32_t b) {
        int r = compareRows(a, b);
        return r != 0 ? r < 0 : a < b;
    });
    return rows;
}

} // namespace sql
