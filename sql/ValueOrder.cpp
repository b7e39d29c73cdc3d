#include "sql/ValueOrder.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "jet/TextCollation.h"

namespace sql {

ValueClass ValueOrder::classOf(jet::ColumnType type)
{
    switch (type) {
    case jet::ColumnType::Boolean:
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long:
    case jet::ColumnType::BigInt:
    case jet::ColumnType::Complex:
    case jet::ColumnType::Currency:
    case jet::ColumnType::Single:
    case jet::ColumnType::Double:
    case jet::ColumnType::Numeric: return ValueClass::Number;
    case jet::ColumnType::DateTime: return ValueClass::Date;
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo:
    case jet::ColumnType::ExtDateTime: return ValueClass::Text; // "YYYY-MM-DD HH:MM:SS.fffffff"
    case jet::ColumnType::Guid: return ValueClass::Guid;
    case jet::ColumnType::Binary:
    case jet::ColumnType::OLE: return ValueClass::Binary;
    }
    return ValueClass::Binary;
}

std::optional<ValueClass> ValueOrder::classOf(const jet::Value& value)
{
    struct Visitor {
        std::optional<ValueClass> operator()(std::monostate) const { return std::nullopt; }
        std::optional<ValueClass> operator()(bool) const { return ValueClass::Number; }
        std::optional<ValueClass> operator()(int64_t) const { return ValueClass::Number; }
        std::optional<ValueClass> operator()(double) const { return ValueClass::Number; }
        std::optional<ValueClass> operator()(const jet::Currency&) const { return ValueClass::Number; }
        std::optional<ValueClass> operator()(const jet::Decimal&) const { return ValueClass::Number; }
        std::optional<ValueClass> operator()(const jet::DateTime&) const { return ValueClass::Date; }
        std::optional<ValueClass> operator()(const std::u16string&) const { return ValueClass::Text; }
        std::optional<ValueClass> operator()(const jet::Bytes&) const { return ValueClass::Binary; }
        std::optional<ValueClass> operator()(const jet::Guid&) const { return ValueClass::Guid; }
    };
    return std::visit(Visitor{}, value);
}

const char* ValueOrder::className(ValueClass c)
{
    switch (c) {
    case ValueClass::Number: return "number";
    case ValueClass::Text: return "text";
    case ValueClass::Date: return "date";
    case ValueClass::Binary: return "binary";
    case ValueClass::Guid: return "replication ID";
    }
    return "value";
}

namespace {

ValueOrder::Number fromDouble(double d)
{
    ValueOrder::Number n;
    // Whole numbers in range compare exactly with 64-bit integers.
    if (std::trunc(d) == d && std::fabs(d) < 9.2e18) {
        n.exact = true;
        n.integer = int64_t(d);
    } else {
        n.exact = false;
        n.real = d;
    }
    return n;
}

ValueOrder::Number fromDecimal(const jet::Decimal& d)
{
    if (d.high == 0 && d.low <= uint64_t(std::numeric_limits<int64_t>::max())) {
        int64_t magnitude = int64_t(d.low);
        if (d.scale == 0) return ValueOrder::Number{true, d.negative ? -magnitude : magnitude, 0};
    }
    return fromDouble(jet::nearestDouble(d));
}

} // namespace

ValueOrder::Number ValueOrder::number(const jet::Value& value)
{
    if (auto* i = std::get_if<int64_t>(&value)) return Number{true, *i, 0};
    if (auto* b = std::get_if<bool>(&value)) return Number{true, *b ? -1 : 0, 0};
    if (auto* d = std::get_if<double>(&value)) return fromDouble(*d);
    if (auto* c = std::get_if<jet::Currency>(&value)) {
        if (c->units % 10000 == 0) return Number{true, c->units / 10000, 0};
        return Number{false, 0, double(c->units) / 10000.0};
    }
    if (auto* dec = std::get_if<jet::Decimal>(&value)) return fromDecimal(*dec);
    if (auto* dt = std::get_if<jet::DateTime>(&value)) return fromDouble(dt->days);
    return Number{};
}

int ValueOrder::compareNumbers(const Number& a, const Number& b)
{
    if (a.exact && b.exact) return (a.integer > b.integer) - (a.integer < b.integer);
    double x = a.asDouble(), y = b.asDouble();
    return (x > y) - (x < y);
}

double ValueOrder::timeline(jet::DateTime date)
{
    if (date.days >= 0) return date.days;
    double whole = std::trunc(date.days);
    return whole + (whole - date.days);
}

int ValueOrder::compare(const jet::Value& a, const jet::Value& b, ValueClass c)
{
    switch (c) {
    case ValueClass::Number: return compareNumbers(number(a), number(b));
    case ValueClass::Date: {
        double x = timeline(std::get<jet::DateTime>(a)), y = timeline(std::get<jet::DateTime>(b));
        return (x > y) - (x < y);
    }
    case ValueClass::Text: return jet::TextCollation::compare(std::get<std::u16string>(a), std::get<std::u16string>(b));
    case ValueClass::Guid: {
        const auto& x = std::get<jet::Guid>(a).bytes;
        const auto& y = std::get<jet::Guid>(b).bytes;
        int r = std::memcmp(x.data(), y.data(), x.size());
        return (r > 0) - (r < 0);
    }
    case ValueClass::Binary: {
        const auto& x = std::get<jet::Bytes>(a);
        const auto& y = std::get<jet::Bytes>(b);
        return (x > y) - (x < y);
    }
    }
    return 0;
}

std::string ValueOrder::equalityKey(const jet::Value& value, ValueClass c)
{
    std::string key;
    auto appendRaw = [&key](const void* p, size_t n) { key.append(static_cast<const char*>(p), n); };
    switch (c) {
    case ValueClass::Number: {
        Number n = number(value);
        key.push_back(n.exact ? 'i' : 'r');
        if (n.exact) {
            appendRaw(&n.integer, sizeof n.integer);
        } else {
            appendRaw(&n.real, sizeof n.real);
        }
        break;
    }
    case ValueClass::Date: {
        double t = timeline(std::get<jet::DateTime>(value)) + 0.0; // no negative zero
        appendRaw(&t, sizeof t);
        break;
    }
    case ValueClass::Text: {
        jet::Bytes k = jet::TextCollation::key(std::get<std::u16string>(value));
        appendRaw(k.data(), k.size());
        break;
    }
    case ValueClass::Guid: appendRaw(std::get<jet::Guid>(value).bytes.data(), 16); break;
    case ValueClass::Binary: {
        const auto& b = std::get<jet::Bytes>(value);
        appendRaw(b.data(), b.size());
        break;
    }
    }
    return key;
}

} // namespace sql
