#pragma once

#include "jet/RowView.h"
#include "jet/Value.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The rows a dataset fetched, held column by column: listings reach a million
// rows, so a cell costs its raw size (plus a null bit), not a jet::Value.
// Row indexes are stable for the life of the store: a removed row keeps its
// slot (marked removed), so indexes held elsewhere (bookmarks, sort orders)
// never shift.
class RecordStore {
public:
    enum class Kind : uint8_t { Bool, Int32, Int64, Double, Currency, DateTime, Decimal, Guid, Text, Bytes };

    // Drops every row and sets the columns.
    void reset(std::vector<Kind> kinds);
    void clear() { reset({}); }
    // Room for `rows` rows; text and binary space is reserved once the first
    // rows show how long their values are.
    void reserve(int rows);
    // Gives back spare capacity (when there is much of it) once the rows are in.
    void shrinkToFit();

    int columnCount() const { return int(m_columns.size()); }
    Kind kind(int column) const { return m_columns.at(std::size_t(column)).kind; }

    // Slots ever appended, removed rows included.
    int rowCount() const { return m_rowCount; }
    int liveRowCount() const { return m_rowCount - m_removedCount; }

    // One value per column, of a type the column's kind takes: integers and
    // booleans widen to Int64, Double, Currency and Decimal columns, a double
    // to DateTime. Throws std::invalid_argument for anything else (naming
    // the column). Returns the row index.
    int appendRow(const std::vector<jet::Value>& values, uint64_t tag);
    // The same straight from a stored row, one cell per column (the row's
    // column count must match): numbers, dates, yes/no and text go into the
    // columns without becoming Values. A row that fails to decode leaves the
    // store as it was.
    int appendRow(const jet::RowView& row, uint64_t tag);
    // For a store of one column: that column of a stored row.
    int appendColumnOf(const jet::RowView& row, std::size_t column, uint64_t tag);
    jet::Value value(int row, int column) const;
    bool isNull(int row, int column) const;
    // Same conversions as appendRow.
    void setValue(int row, int column, const jet::Value& value);
    uint64_t tag(int row) const { return m_tags.at(std::size_t(row)); }
    void removeRow(int row);
    bool isRemoved(int row) const { return m_removed.get(std::size_t(row)); }

    // Raw access for sorting; the column must be of the matching kind and the
    // cell not null.
    std::u16string_view text(int row, int column) const;
    int64_t integer(int row, int column) const;   // Bool, Int32, Int64, Currency units
    double real(int row, int column) const;       // Double, DateTime
    const jet::Decimal& decimal(int row, int column) const;
    const jet::Guid& guid(int row, int column) const;
    std::basic_string_view<uint8_t> bytes(int row, int column) const;

    std::size_t memoryUsage() const;

private:
    class BitVector {
    public:
        void clear() { m_words.clear(); m_size = 0; }
        void reserve(std::size_t bits) { m_words.reserve((bits + 63) / 64); }
        void shrinkToFit() { shrinkIfSpare(m_words); }
        // Small enough to be inlined into the per-cell loops; the rare
        // growth is out of line.
        void push(bool bit)
        {
            std::size_t word = m_size / 64;
            if (word == m_words.size()) [[unlikely]] addWord();
            m_words[word] |= uint64_t(bit) << (m_size % 64);
            ++m_size;
        }
        bool get(std::size_t i) const { return (m_words[i / 64] >> (i % 64)) & 1u; }
        void truncate(std::size_t size)
        {
            if (size >= m_size) return;
            m_size = size;
            m_words.resize((size + 63) / 64);
            if (size % 64) m_words.back() &= (uint64_t(1) << (size % 64)) - 1;
        }
        void set(std::size_t i, bool bit)
        {
            uint64_t mask = uint64_t(1) << (i % 64);
            if (bit) m_words[i / 64] |= mask;
            else m_words[i / 64] &= ~mask;
        }
        std::size_t memoryUsage() const { return m_words.capacity() * sizeof(uint64_t); }
    private:
        void addWord();
        std::vector<uint64_t> m_words;
        std::size_t m_size = 0;
    };

    // Variable-length cells packed end to end; a cell changed later lives in
    // the override map, so an edit never moves the packed data.
    template <typename Unit>
    class PackedArena {
    public:
        void clear();
        void reserve(std::size_t cells) { m_ends.reserve(cells); }
        // Room for `cells` cells as long on average as those held so far
        // (and an eighth of a unit more each, for longer ones to come).
        void reserveLike(std::size_t cells)
        {
            if (!m_ends.empty()) reserveUnits(m_used * cells / m_ends.size() + cells / 8);
        }
        void shrinkToFit();
        void push(std::basic_string_view<Unit> cell);
        // Appends a cell that `write(Unit*)` puts in place (at most `maxUnits`
        // units; it returns how many it wrote).
        template <typename Write>
        void pushWith(std::size_t maxUnits, Write write)
        {
            if (m_used + maxUnits > m_capacity) makeRoom(maxUnits);
            m_used += write(m_units.get() + m_used);
            m_ends.push_back(uint32_t(m_used));
        }
        // Drops the cells from `cells` on.
        void truncate(std::size_t cells);
        std::basic_string_view<Unit> get(std::size_t i) const;
        void set(std::size_t i, std::basic_string_view<Unit> cell);
        std::size_t memoryUsage() const;
    private:
        // Room for `extra` more units (doubling), within the 4G units that the
        // end offsets can address.
        void makeRoom(std::size_t extra);
        void reserveUnits(std::size_t units);
        // The units, not initialised beyond m_used: a cell is written in
        // place by its decoder (zeroing room first costs as much as decoding).
        std::unique_ptr<Unit[]> m_units;
        std::size_t m_used = 0;
        std::size_t m_capacity = 0;
        std::vector<uint32_t> m_ends;  // end offsets; 4G units is beyond any memory we would fill
        std::unordered_map<std::size_t, std::basic_string<Unit>> m_overrides;
    };

    struct Column {
        Kind kind = Kind::Text;
        BitVector nulls;
        std::vector<uint8_t> bools;
        std::vector<int32_t> int32s;
        std::vector<int64_t> int64s;    // Int64 and Currency units
        std::vector<double> doubles;    // Double and DateTime
        std::vector<jet::Decimal> decimals;
        std::vector<jet::Guid> guids;
        PackedArena<char16_t> texts;
        PackedArena<uint8_t> blobs;
    };

    // Throws std::invalid_argument when the value cannot go into a column of that kind.
    static void validate(Kind kind, const jet::Value& value, int columnIndex);
    void pushCell(Column& column, const jet::Value& value, int columnIndex);
    // One cell from column `c` of a stored row.
    void pushViewCell(Column& column, const jet::RowView& row, std::size_t c, int columnIndex);
    template <typename Vector>
    static void shrinkIfSpare(Vector& v)
    {
        if (v.capacity() > v.size() + v.size() / 4 + 64) v.shrink_to_fit();
    }
    void storeCell(Column& column, std::size_t row, const jet::Value& value, int columnIndex);
    void checkCell(int row, int column) const;
    // Counts the row just appended; grows text room once the first rows show
    // how long texts are.
    int finishRow(uint64_t tag);
    // Drops the cells of a row only partly appended.
    void dropPartialRow();

    std::vector<Column> m_columns;
    std::vector<uint64_t> m_tags;
    BitVector m_removed;
    int m_rowCount = 0;
    int m_removedCount = 0;
    int m_expectedRows = 0;
};
