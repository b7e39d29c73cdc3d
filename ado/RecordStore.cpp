#include "ado/RecordStore.h"

#include "jet/TextCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace {

constexpr int kSampleRows = 4096;

[[noreturn]] void badValue(int column, const char* expected)
{
    throw std::invalid_argument("column " + std::to_string(column + 1) + " was given a value that is not " +
                                expected);
}

// Whole numbers arrive as int64_t (and yes/no as bool); both count as integers.
bool integerOf(const jet::Value& value, int64_t& out)
{
    if (auto p = std::get_if<int64_t>(&value)) { out = *p; return true; }
    if (auto p = std::get_if<bool>(&value)) { out = *p ? 1 : 0; return true; }
    return false;
}

jet::Decimal decimalOf(int64_t v)
{
    jet::Decimal d;
    d.negative = v < 0;
    d.low = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    d.precision = 18;
    return d;
}


} // namespace

// --- BitVector ---------------------------------------------------------------

void RecordStore::BitVector::addWord()
{
    m_words.push_back(0);
}

// --- PackedArena -------------------------------------------------------------

template <typename Unit>
void RecordStore::PackedArena<Unit>::clear()
{
    m_units.reset();
    m_used = m_capacity = 0;
    m_ends.clear();
    m_overrides.clear();
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::reserveUnits(std::size_t units)
{
    if (units <= m_capacity) return;
    units = std::min<std::size_t>(units, std::numeric_limits<uint32_t>::max());
    auto grown = std::make_unique_for_overwrite<Unit[]>(units);
    if (m_used) std::memcpy(grown.get(), m_units.get(), m_used * sizeof(Unit));
    m_units = std::move(grown);
    m_capacity = units;
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::makeRoom(std::size_t extra)
{
    if (m_used + extra > std::numeric_limits<uint32_t>::max())
        throw std::length_error("too much text or binary data to hold in memory");
    reserveUnits(std::max(m_used + extra, m_capacity * 2 + 64));
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::shrinkToFit()
{
    if (m_capacity > m_used + m_used / 4 + 64) {
        auto fitted = std::make_unique_for_overwrite<Unit[]>(m_used);
        if (m_used) std::memcpy(fitted.get(), m_units.get(), m_used * sizeof(Unit));
        m_units = std::move(fitted);
        m_capacity = m_used;
    }
    shrinkIfSpare(m_ends);
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::push(std::basic_string_view<Unit> cell)
{
    pushWith(cell.size(), [&](Unit* out) {
        if (!cell.empty()) std::memcpy(out, cell.data(), cell.size() * sizeof(Unit));
        return cell.size();
    });
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::truncate(std::size_t cells)
{
    if (cells < m_ends.size()) m_ends.resize(cells);
    m_used = m_ends.empty() ? 0 : std::size_t(m_ends.back());
    for (auto it = m_overrides.begin(); it != m_overrides.end();) {
        if (it->first >= cells) it = m_overrides.erase(it);
        else ++it;
    }
}

template <typename Unit>
std::basic_string_view<Unit> RecordStore::PackedArena<Unit>::get(std::size_t i) const
{
    if (!m_overrides.empty()) {
        auto it = m_overrides.find(i);
        if (it != m_overrides.end()) return it->second;
    }
    std::size_t begin = i == 0 ? 0 : std::size_t(m_ends[i - 1]);
    return {m_units.get() + begin, std::size_t(m_ends[i]) - begin};
}

template <typename Unit>
void RecordStore::PackedArena<Unit>::set(std::size_t i, std::basic_string_view<Unit> cell)
{
    m_overrides[i] = std::basic_string<Unit>(cell);
}

template <typename Unit>
std::size_t RecordStore::PackedArena<Unit>::memoryUsage() const
{
    std::size_t total = m_capacity * sizeof(Unit) + m_ends.capacity() * sizeof(uint32_t);
    for (const auto& [index, text] : m_overrides) total += sizeof(index) + sizeof(text) + text.capacity() * sizeof(Unit);
    return total;
}

// --- RecordStore -------------------------------------------------------------

void RecordStore::reset(std::vector<Kind> kinds)
{
    m_columns.clear();
    m_columns.resize(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) m_columns[i].kind = kinds[i];
    m_tags.clear();
    m_removed.clear();
    m_rowCount = 0;
    m_removedCount = 0;
    m_expectedRows = 0;
}

void RecordStore::reserve(int rows)
{
    if (rows <= 0) return;
    m_expectedRows = rows;
    std::size_t n = std::size_t(rows);
    m_tags.reserve(n);
    m_removed.reserve(n);
    for (Column& c : m_columns) {
        c.nulls.reserve(n);
        switch (c.kind) {
        case Kind::Bool: c.bools.reserve(n); break;
        case Kind::Int32: c.int32s.reserve(n); break;
        case Kind::Int64:
        case Kind::Currency: c.int64s.reserve(n); break;
        case Kind::Double:
        case Kind::DateTime: c.doubles.reserve(n); break;
        case Kind::Decimal: c.decimals.reserve(n); break;
        case Kind::Guid: c.guids.reserve(n); break;
        case Kind::Text: c.texts.reserve(n); break;
        case Kind::Bytes: c.blobs.reserve(n); break;
        }
    }
}

void RecordStore::shrinkToFit()
{
    shrinkIfSpare(m_tags);
    m_removed.shrinkToFit();
    for (Column& c : m_columns) {
        c.nulls.shrinkToFit();
        shrinkIfSpare(c.bools);
        shrinkIfSpare(c.int32s);
        shrinkIfSpare(c.int64s);
        shrinkIfSpare(c.doubles);
        shrinkIfSpare(c.decimals);
        shrinkIfSpare(c.guids);
        c.texts.shrinkToFit();
        c.blobs.shrinkToFit();
    }
    m_expectedRows = 0;
}

int RecordStore::appendRow(const std::vector<jet::Value>& values, uint64_t tag)
{
    if (values.size() != m_columns.size())
        throw std::invalid_argument("a row of " + std::to_string(values.size()) + " values was given for " +
                                    std::to_string(m_columns.size()) + " columns");
    if (m_rowCount == std::numeric_limits<int>::max())
        throw std::length_error("too many rows to hold in memory");
    // Validate every cell before storing any, so a bad value leaves the columns aligned.
    for (std::size_t c = 0; c < values.size(); ++c) validate(m_columns[c].kind, values[c], int(c));
    for (std::size_t c = 0; c < values.size(); ++c) pushCell(m_columns[c], values[c], int(c));
    return finishRow(tag);
}

int RecordStore::appendRow(const jet::RowView& row, uint64_t tag)
{
    if (row.columnCount() != m_columns.size())
        throw std::invalid_argument("a row of " + std::to_string(row.columnCount()) + " values was given for " +
                                    std::to_string(m_columns.size()) + " columns");
    if (m_rowCount == std::numeric_limits<int>::max())
        throw std::length_error("too many rows to hold in memory");
    try {
        for (std::size_t c = 0; c < m_columns.size(); ++c) pushViewCell(m_columns[c], row, c, int(c));
    } catch (...) {
        dropPartialRow();
        throw;
    }
    return finishRow(tag);
}

int RecordStore::appendColumnOf(const jet::RowView& row, std::size_t column, uint64_t tag)
{
    if (m_columns.size() != 1) throw std::invalid_argument("a store of one column takes one column of a row");
    if (column >= row.columnCount())
        throw std::invalid_argument("the row has no column " + std::to_string(column + 1));
    if (m_rowCount == std::numeric_limits<int>::max())
        throw std::length_error("too many rows to hold in memory");
    try {
        pushViewCell(m_columns[0], row, column, int(column));
    } catch (...) {
        dropPartialRow();
        throw;
    }
    return finishRow(tag);
}

void RecordStore::pushViewCell(Column& column, const jet::RowView& row, std::size_t c, int columnIndex)
{
    const jet::ColumnType type = row.type(c);
    // The usual pairs of stored type and column kind go straight in.
    switch (column.kind) {
    case Kind::Bool:
        if (type != jet::ColumnType::Boolean) break;
        column.nulls.push(false);
        column.bools.push_back(row.boolean(c));
        return;
    case Kind::Int32:
        if (type != jet::ColumnType::Long && type != jet::ColumnType::Integer && type != jet::ColumnType::Byte) break;
        if (row.isNull(c)) {
            column.nulls.push(true);
            column.int32s.push_back(0);
        } else {
            int32_t v = int32_t(row.integer(c));
            column.nulls.push(false);
            column.int32s.push_back(v);
        }
        return;
    case Kind::Double:
    case Kind::DateTime:
        if (type != (column.kind == Kind::Double ? jet::ColumnType::Double : jet::ColumnType::DateTime)) break;
        if (row.isNull(c)) {
            column.nulls.push(true);
            column.doubles.push_back(0);
        } else {
            double v = row.real(c);
            column.nulls.push(false);
            column.doubles.push_back(v);
        }
        return;
    case Kind::Text:
        if (type != jet::ColumnType::Text) break;
        const uint8_t* bytes;
        std::size_t size;
        if (row.textBytes(c, bytes, size)) {
            column.texts.pushWith(size, [&](char16_t* out) { return row.textCoding().decodeTo(bytes, size, out); });
            column.nulls.push(false);
        } else {
            column.nulls.push(true);
            column.texts.push({});
        }
        return;
    default: break;
    }
    jet::Value value = row.value(c);
    validate(column.kind, value, columnIndex);
    pushCell(column, value, columnIndex);
}

int RecordStore::finishRow(uint64_t tag)
{
    m_tags.push_back(tag);
    m_removed.push(false);
    if (m_rowCount == kSampleRows && m_expectedRows > 2 * kSampleRows) {
        // Growing the packed text by doubling would copy it over and over.
        for (Column& c : m_columns) {
            if (c.kind == Kind::Text) c.texts.reserveLike(std::size_t(m_expectedRows));
            if (c.kind == Kind::Bytes) c.blobs.reserveLike(std::size_t(m_expectedRows));
        }
    }
    return m_rowCount++;
}

void RecordStore::dropPartialRow()
{
    const std::size_t rows = std::size_t(m_rowCount);
    for (Column& c : m_columns) {
        c.nulls.truncate(rows);
        if (c.bools.size() > rows) c.bools.resize(rows);
        if (c.int32s.size() > rows) c.int32s.resize(rows);
        if (c.int64s.size() > rows) c.int64s.resize(rows);
        if (c.doubles.size() > rows) c.doubles.resize(rows);
        if (c.decimals.size() > rows) c.decimals.resize(rows);
        if (c.guids.size() > rows) c.guids.resize(rows);
        c.texts.truncate(rows);
        c.blobs.truncate(rows);
    }
}

void RecordStore::pushCell(Column& column, const jet::Value& value, int columnIndex)
{
    bool null = jet::isNull(value);
    column.nulls.push(null);
    switch (column.kind) {
    case Kind::Bool: column.bools.push_back(0); break;
    case Kind::Int32: column.int32s.push_back(0); break;
    case Kind::Int64:
    case Kind::Currency: column.int64s.push_back(0); break;
    case Kind::Double:
    case Kind::DateTime: column.doubles.push_back(0); break;
    case Kind::Decimal: column.decimals.push_back({}); break;
    case Kind::Guid: column.guids.push_back({}); break;
    case Kind::Text: {
        auto s = std::get_if<std::u16string>(&value);
        if (!null && !s) badValue(columnIndex, "text");
        column.texts.push(s ? std::u16string_view(*s) : std::u16string_view());
        return;
    }
    case Kind::Bytes: {
        auto b = std::get_if<jet::Bytes>(&value);
        if (!null && !b) badValue(columnIndex, "binary data");
        column.blobs.push(b ? std::basic_string_view<uint8_t>(b->data(), b->size()) : std::basic_string_view<uint8_t>());
        return;
    }
    }
    // The row being appended is m_rowCount: it is counted once all its cells are in.
    if (!null) storeCell(column, std::size_t(m_rowCount), value, columnIndex);
}

void RecordStore::validate(Kind kind, const jet::Value& value, int columnIndex)
{
    if (jet::isNull(value)) return;
    int64_t whole = 0;
    bool isWhole = integerOf(value, whole);
    switch (kind) {
    case Kind::Bool:
        if (!isWhole) badValue(columnIndex, "yes/no");
        break;
    case Kind::Int32:
        if (!isWhole) badValue(columnIndex, "a whole number");
        if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max())
            badValue(columnIndex, "a 32-bit whole number");
        break;
    case Kind::Int64:
        if (!isWhole) badValue(columnIndex, "a whole number");
        break;
    case Kind::Currency:
        if (!isWhole && !std::holds_alternative<jet::Currency>(value)) badValue(columnIndex, "a currency amount");
        break;
    case Kind::Double:
        if (!isWhole && !std::holds_alternative<double>(value) && !std::holds_alternative<jet::Currency>(value) &&
            !std::holds_alternative<jet::Decimal>(value))
            badValue(columnIndex, "a number");
        break;
    case Kind::DateTime:
        if (!std::holds_alternative<jet::DateTime>(value) && !std::holds_alternative<double>(value))
            badValue(columnIndex, "a date/time");
        break;
    case Kind::Decimal:
        if (!isWhole && !std::holds_alternative<jet::Decimal>(value)) badValue(columnIndex, "a decimal number");
        break;
    case Kind::Guid:
        if (!std::holds_alternative<jet::Guid>(value)) badValue(columnIndex, "a replication ID");
        break;
    case Kind::Text:
        if (!std::holds_alternative<std::u16string>(value)) badValue(columnIndex, "text");
        break;
    case Kind::Bytes:
        if (!std::holds_alternative<jet::Bytes>(value)) badValue(columnIndex, "binary data");
        break;
    }
}

void RecordStore::storeCell(Column& column, std::size_t row, const jet::Value& value, int columnIndex)
{
    if (jet::isNull(value)) {
        column.nulls.set(row, true);
        return;
    }
    int64_t whole = 0;
    bool isWhole = integerOf(value, whole);
    switch (column.kind) {
    case Kind::Bool:
        if (!isWhole) badValue(columnIndex, "yes/no");
        column.bools[row] = whole != 0;
        break;
    case Kind::Int32:
        if (!isWhole) badValue(columnIndex, "a whole number");
        if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max())
            badValue(columnIndex, "a 32-bit whole number");
        column.int32s[row] = int32_t(whole);
        break;
    case Kind::Int64:
        if (!isWhole) badValue(columnIndex, "a whole number");
        column.int64s[row] = whole;
        break;
    case Kind::Currency:
        if (auto c = std::get_if<jet::Currency>(&value)) column.int64s[row] = c->units;
        else if (isWhole) column.int64s[row] = whole * 10000;
        else badValue(columnIndex, "a currency amount");
        break;
    case Kind::Double:
        if (auto d = std::get_if<double>(&value)) column.doubles[row] = *d;
        else if (isWhole) column.doubles[row] = double(whole);
        else if (auto c = std::get_if<jet::Currency>(&value)) column.doubles[row] = double(c->units) / 10000.0;
        else if (auto dec = std::get_if<jet::Decimal>(&value)) column.doubles[row] = jet::nearestDouble(*dec);
        else badValue(columnIndex, "a number");
        break;
    case Kind::DateTime:
        if (auto t = std::get_if<jet::DateTime>(&value)) column.doubles[row] = t->days;
        else if (auto d = std::get_if<double>(&value)) column.doubles[row] = *d;
        else badValue(columnIndex, "a date/time");
        break;
    case Kind::Decimal:
        if (auto dec = std::get_if<jet::Decimal>(&value)) column.decimals[row] = *dec;
        else if (isWhole) column.decimals[row] = decimalOf(whole);
        else badValue(columnIndex, "a decimal number");
        break;
    case Kind::Guid:
        if (auto g = std::get_if<jet::Guid>(&value)) column.guids[row] = *g;
        else badValue(columnIndex, "a replication ID");
        break;
    case Kind::Text:
        if (auto s = std::get_if<std::u16string>(&value)) column.texts.set(row, *s);
        else badValue(columnIndex, "text");
        break;
    case Kind::Bytes:
        if (auto b = std::get_if<jet::Bytes>(&value))
            column.blobs.set(row, std::basic_string_view<uint8_t>(b->data(), b->size()));
        else badValue(columnIndex, "binary data");
        break;
    }
    column.nulls.set(row, false);
}

void RecordStore::checkCell(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= columnCount())
        throw std::out_of_range("record store cell (" + std::to_string(row) + ", " + std::to_string(column) +
                                ") does not exist");
}

bool RecordStore::isNull(int row, int column) const
{
    checkCell(row, column);
    return m_columns[std::size_t(column)].nulls.get(std::size_t(row));
}

jet::Value RecordStore::value(int row, int column) const
{
    checkCell(row, column);
    const Column& c = m_columns[std::size_t(column)];
    std::size_t r = std::size_t(row);
    if (c.nulls.get(r)) return {};
    switch (c.kind) {
    case Kind::Bool: return bool(c.bools[r]);
    case Kind::Int32: return int64_t(c.int32s[r]);
    case Kind::Int64: return c.int64s[r];
    case Kind::Currency: return jet::Currency{c.int64s[r]};
    case Kind::Double: return c.doubles[r];
    case Kind::DateTime: return jet::DateTime{c.doubles[r]};
    case Kind::Decimal: return c.decimals[r];
    case Kind::Guid: return c.guids[r];
    case Kind::Text: return std::u16string(c.texts.get(r));
    case Kind::Bytes: {
        auto b = c.blobs.get(r);
        return jet::Bytes(b.begin(), b.end());
    }
    }
    return {};
}

void RecordStore::setValue(int row, int column, const jet::Value& value)
{
    checkCell(row, column);
    validate(m_columns[std::size_t(column)].kind, value, column);
    storeCell(m_columns[std::size_t(column)], std::size_t(row), value, column);
}

void RecordStore::removeRow(int row)
{
    if (row < 0 || row >= m_rowCount) throw std::out_of_range("record " + std::to_string(row) + " does not exist");
    if (m_removed.get(std::size_t(row))) return;
    m_removed.set(std::size_t(row), true);
    ++m_removedCount;
}

std::u16string_view RecordStore::text(int row, int column) const
{
    return m_columns[std::size_t(column)].texts.get(std::size_t(row));
}

int64_t RecordStore::integer(int row, int column) const
{
    const Column& c = m_columns[std::size_t(column)];
    switch (c.kind) {
    case Kind::Bool: return c.bools[std::size_t(row)];
    case Kind::Int32: return c.int32s[std::size_t(row)];
    default: return c.int64s[std::size_t(row)];
    }
}

double RecordStore::real(int row, int column) const
{
    return m_columns[std::size_t(column)].doubles[std::size_t(row)];
}

const jet::Decimal& RecordStore::decimal(int row, int column) const
{
    return m_columns[std::size_t(column)].decimals[std::size_t(row)];
}

const jet::Guid& RecordStore::guid(int row, int column) const
{
    return m_columns[std::size_t(column)].guids[std::size_t(row)];
}

std::basic_string_view<uint8_t> RecordStore::bytes(int row, int column) const
{
    return m_columns[std::size_t(column)].blobs.get(std::size_t(row));
}

std::size_t RecordStore::memoryUsage() const
{
    std::size_t total = m_tags.capacity() * sizeof(uint64_t) + m_removed.memoryUsage();
    for (const Column& c : m_columns) {
        total += c.nulls.memoryUsage() + c.bools.capacity() + c.int32s.capacity() * sizeof(int32_t) +
                 c.int64s.capacity() * sizeof(int64_t) + c.doubles.capacity() * sizeof(double) +
                 c.decimals.capacity() * sizeof(jet::Decimal) + c.guids.capacity() * sizeof(jet::Guid) +
                 c.texts.memoryUsage() + c.blobs.memoryUsage();
    }
    return total;
}
