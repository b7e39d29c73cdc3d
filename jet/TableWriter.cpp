// The write side of Table: row encoding, placing rows on data pages, long
// values, index maintenance and the counters of the table definition.
#include "jet/Table.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/DefaultValue.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/LongValue.h"
#include "jet/Pager.h"
#include "jet/RowCodec.h"
#include "jet/RowView.h"
#include "jet/TextCodec.h"
#include "jet/UsageMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace jet {

namespace {

constexpr size_t kMaxRowSize = 4096 - DataPage::kSlotsOffset - 2; // one row alone on a page
constexpr size_t kMaxInlineLongValue = 64;
constexpr size_t kMaxLongValueRow = 4096 - DataPage::kSlotsOffset - 2 - 4; // room for the chain pointer
constexpr uint32_t kGlobalFreeMap = (1u << 8) | 0;

struct SlotInfo {
    size_t start, end;
    uint16_t flags;
};

SlotInfo slotInfo(const uint8_t* page, unsigned row)
{
    uint16_t raw = le16(page + DataPage::kSlotsOffset + row * 2);
    size_t start = raw & DataPage::kOffsetMask;
    size_t end = row == 0 ? kPageSize : (le16(page + DataPage::kSlotsOffset + (row - 1) * 2) & DataPage::kOffsetMask);
    return {start, std::max(start, end), uint16_t(raw & 0xC000)};
}

size_t freeSpace(const uint8_t* page)
{
    unsigned count = DataPage::rowCount(page);
    size_t lowest = count == 0 ? kPageSize : (le16(page + DataPage::kSlotsOffset + (count - 1) * 2) & DataPage::kOffsetMask);
    size_t slotsEnd = DataPage::kSlotsOffset + count * 2;
    return lowest > slotsEnd ? lowest - slotsEnd : 0;
}

void setFreeSpace(uint8_t* page) { put16(page + DataPage::kFreeSpaceOffset, uint16_t(freeSpace(page))); }

// Replaces the bytes of slot `row` with `bytes` (empty for a deleted row),
// moving the rows stored below it. The caller has checked the room.
void replaceRowBytes(uint8_t* page, unsigned row, const uint8_t* bytes, size_t size, uint16_t flags)
{
    unsigned count = DataPage::rowCount(page);
    SlotInfo s = slotInfo(page, row);
    size_t oldSize = s.end - s.start;
    size_t lowest = le16(page + DataPage::kSlotsOffset + (count - 1) * 2) & DataPage::kOffsetMask;
    lowest = std::min(lowest, s.start);
    ptrdiff_t shift = ptrdiff_t(oldSize) - ptrdiff_t(size); // rows below move up by this much
    if (shift != 0) {
        std::memmove(page + lowest + shift, page + lowest, s.start - lowest);
        for (unsigned j = row + 1; j < count; ++j) {
            uint8_t* slot = page + DataPage::kSlotsOffset + j * 2;
            uint16_t raw = le16(slot);
            put16(slot, uint16_t((raw & 0xC000) | ((raw & DataPage::kOffsetMask) + shift)));
        }
        if (shift > 0) std::memset(page + lowest, 0, size_t(shift));
    }
    size_t newStart = s.end - size;
    if (size) std::memcpy(page + newStart, bytes, size);
    put16(page + DataPage::kSlotsOffset + row * 2, uint16_t(flags | newStart));
    setFreeSpace(page);
}

// Appends a row to a data page with room; returns its slot.
unsigned appendRowBytes(uint8_t* page, const uint8_t* bytes, size_t size, uint16_t flags)
{
    unsigned count = DataPage::rowCount(page);
    size_t lowest = count == 0 ? kPageSize : (le16(page + DataPage::kSlotsOffset + (count - 1) * 2) & DataPage::kOffsetMask);
    size_t start = lowest - size;
    std::memcpy(page + start, bytes, size);
    put16(page + DataPage::kSlotsOffset + count * 2, uint16_t(flags | start));
    put16(page + DataPage::kRowCountOffset, uint16_t(count + 1));
    setFreeSpace(page);
    return count;
}

void initDataPage(uint8_t* page, uint32_t owner)
{
    std::memset(page, 0, kPageSize);
    page[0] = DataPage::kType;
    page[1] = 0x01;
    put32(page + DataPage::kOwnerOffset, owner);
    setFreeSpace(page);
}

std::string describe(const Value& v)
{
    switch (v.index()) {
    case 0: return "null";
    case 1: return "a Yes/No value";
    case 2: return "the number " + std::to_string(std::get<int64_t>(v));
    case 3: return "a number";
    case 6: return "a text";
    default: return "a value of another type";
    }
}

} // namespace

uint32_t Table::newDataPage()
{
    Pager& pager = db_.pager();
    uint32_t p = pager.allocate();
    initDataPage(pager.modify(p), def_.firstPage);
    UsageMap::read(pager, def_.usedPagesPointer, where()).add(pager, p);
    if (def_.freePagesPointer) UsageMap::read(pager, def_.freePagesPointer, where()).add(pager, p);
    return p;
}

uint32_t Table::longValuePage(size_t size)
{
    // Long values of one write share pages, as Access fills them.
    Pager& pager = db_.pager();
    if (longValuePage_ != 0 && longValuePage_ < pager.pageCount()) {
        PageRef page = pager.read(longValuePage_);
        if (page->data[0] == DataPage::kType && le32(page->data + DataPage::kOwnerOffset) == DataPage::kLongValueOwner &&
            DataPage::rowCount(page->data) < DataPage::kMaxRows && freeSpace(page->data) >= size + 2)
            return longValuePage_;
    }
    longValuePage_ = pager.allocate();
    initDataPage(pager.modify(longValuePage_), DataPage::kLongValueOwner);
    return longValuePage_;
}

RowLocator Table::placeRow(const Bytes& row, uint16_t flags)
{
    Pager& pager = db_.pager();
    size_t need = row.size() + 2;
    auto hasRoom = [&](uint32_t p) {
        if (p == 0 || p >= pager.pageCount()) return false;
        PageRef page = pager.read(p);
        if (page->data[0] != DataPage::kType || le32(page->data + DataPage::kOwnerOffset) != def_.firstPage) return false;
        return DataPage::rowCount(page->data) < DataPage::kMaxRows && freeSpace(page->data) >= need;
    };
    if (!hasRoom(insertPage_)) {
        insertPage_ = 0;
        std::vector<uint32_t> pages = dataPages();
        // The last page is the one that usually has room; older pages keep
        // the space of deleted rows for updates in place.
        if (!pages.empty() && hasRoom(pages.back())) insertPage_ = pages.back();
        else insertPage_ = newDataPage();
    }
    unsigned slot = appendRowBytes(pager.modify(insertPage_), row.data(), row.size(), flags);
    return RowLocator{insertPage_, uint8_t(slot)};
}

namespace {

// Decimal magnitudes are 128 bits, held as two 64-bit halves (there is no
// portable 128-bit integer type), worked on in 32-bit limbs.
struct Magnitude {
    uint64_t high = 0;
    uint64_t low = 0;
    bool operator<(const Magnitude& o) const { return high != o.high ? high < o.high : low < o.low; }
    bool isZero() const { return high == 0 && low == 0; }
};

// Multiplies by ten; false (and m unchanged) when the result needs more than 128 bits.
bool timesTen(Magnitude& m)
{
    uint64_t l0 = (m.low & 0xFFFFFFFFu) * 10;
    uint64_t l1 = (m.low >> 32) * 10 + (l0 >> 32);
    uint64_t h0 = (m.high & 0xFFFFFFFFu) * 10 + (l1 >> 32);
    uint64_t h1 = (m.high >> 32) * 10 + (h0 >> 32);
    if (h1 >> 32) return false;
    m.low = (l1 << 32) | (l0 & 0xFFFFFFFFu);
    m.high = (h1 << 32) | (h0 & 0xFFFFFFFFu);
    return true;
}

// Divides by ten and returns the remainder.
unsigned divideByTen(Magnitude& m)
{
    uint64_t limbs[4] = {m.high >> 32, m.high & 0xFFFFFFFFu, m.low >> 32, m.low & 0xFFFFFFFFu};
    uint64_t remainder = 0;
    for (uint64_t& limb : limbs) {
        uint64_t current = (remainder << 32) | limb;
        limb = current / 10;
        remainder = current % 10;
    }
    m.high = (limbs[0] << 32) | limbs[1];
    m.low = (limbs[2] << 32) | limbs[3];
    return unsigned(remainder);
}

// A new replication ID for an auto-GUID column: random, marked as version 4.
Guid randomGuid()
{
    static std::mt19937_64 generator{std::random_device{}()};
    Guid g;
    for (size_t k = 0; k < 16; k += 8) {
        uint64_t r = generator();
        std::memcpy(g.bytes.data() + k, &r, 8);
    }
    g.bytes[7] = uint8_t((g.bytes[7] & 0x0F) | 0x40); // stored little-endian: the version nibble is in byte 7
    g.bytes[8] = uint8_t((g.bytes[8] & 0x3F) | 0x80);
    return g;
}

// A fixed-width column's bytes (the value already checked for the column).
void encodeFixed(const ColumnDef& c, const Value& v, uint8_t* p)
{
    switch (c.type) {
    case ColumnType::Byte: p[0] = uint8_t(std::get<int64_t>(v)); break;
    case ColumnType::Integer: put16(p, uint16_t(int16_t(std::get<int64_t>(v)))); break;
    case ColumnType::Long: put32(p, uint32_t(int32_t(std::get<int64_t>(v)))); break;
    case ColumnType::Currency: put64(p, uint64_t(std::get<Currency>(v).units)); break;
    case ColumnType::Single: putFloat(p, float(std::get<double>(v))); break;
    case ColumnType::Double: putDouble(p, std::get<double>(v)); break;
    case ColumnType::DateTime: putDouble(p, std::get<DateTime>(v).days); break;
    case ColumnType::Guid: std::memcpy(p, std::get<Guid>(v).bytes.data(), 16); break;
    case ColumnType::Numeric: {
        const Decimal& d = std::get<Decimal>(v);
        p[0] = d.negative ? 0x80 : 0x00;
        put32(p + 1, uint32_t(d.high >> 32));
        put32(p + 5, uint32_t(d.high));
        put32(p + 9, uint32_t(d.low >> 32));
        put32(p + 13, uint32_t(d.low));
        break;
    }
    case ColumnType::Text: {
        Bytes t = encodeText(std::get<std::u16string>(v), false);
        if (!t.empty()) std::memcpy(p, t.data(), std::min<size_t>(t.size(), c.length));
        break;
    }
    default: {
        const Bytes& b = std::get<Bytes>(v);
        if (!b.empty()) std::memcpy(p, b.data(), std::min<size_t>(b.size(), c.length));
    }
    }
}

} // namespace

Bytes Table::encodeRow(const std::vector<Value>& values)
{
    Pager& pager = db_.pager();
    uint16_t columnCount = 0;
    size_t fixedSize = 0;
    unsigned varSlots = 0;
    for (const ColumnDef& c : def_.columns) {
        columnCount = std::max<uint16_t>(columnCount, uint16_t(c.number + 1));
        if (c.isFixed()) fixedSize = std::max(fixedSize, size_t(c.fixedOffset) + RowCodec::fixedSize(c));
        else varSlots = std::max(varSlots, unsigned(c.varIndex) + 1);
    }
    columnCount = std::max(columnCount, def_.maxColumns);
    Bytes row(2 + fixedSize, 0);
    put16(row.data(), columnCount);
    std::vector<uint8_t> mask((columnCount + 7) / 8, 0);
    std::vector<std::pair<size_t, size_t>> var(varSlots, {0, 0}); // (start, end) in row
    auto setPresent = [&](const ColumnDef& c) { mask[c.number / 8] |= uint8_t(1 << (c.number % 8)); };
    // Variable columns go in slot order.
    std::vector<size_t> varOrder;
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        const Value& v = values[i];
        if (c.type == ColumnType::Boolean) {
            if (auto b = std::get_if<bool>(&v); b && *b) setPresent(c);
            continue;
        }
        if (isNull(v)) continue;
        if (!c.isFixed()) {
            varOrder.push_back(i);
            continue;
        }
        setPresent(c);
        encodeFixed(c, v, row.data() + 2 + c.fixedOffset);
    }
    std::sort(varOrder.begin(), varOrder.end(),
              [&](size_t a, size_t b) { return def_.columns[a].varIndex < def_.columns[b].varIndex; });
    for (size_t i : varOrder) {
        const ColumnDef& c = def_.columns[i];
        const Value& v = values[i];
        Bytes data;
        switch (c.type) {
        case ColumnType::Text: data = encodeText(std::get<std::u16string>(v), c.isCompressedUnicode()); break;
        case ColumnType::Binary: data = std::get<Bytes>(v); break;
        case ColumnType::Memo:
        case ColumnType::OLE: {
            Bytes raw = c.type == ColumnType::Memo ? encodeText(std::get<std::u16string>(v), c.isCompressedUnicode())
                                                  : std::get<Bytes>(v);
            data.assign(LongValue::kReferenceSize, 0);
            if (raw.size() >= 0x3FFFFFFF) throw JetError(where() + ": a value of column '" + c.utf8Name + "' is too long");
            if (raw.size() <= kMaxInlineLongValue) {
                put32(data.data(), uint32_t(raw.size()) | (uint32_t(LongValue::kInline) << 24));
                data.insert(data.end(), raw.begin(), raw.end());
            } else {
                // LVAL rows, written back to front so each knows the next.
                uint32_t next = 0;
                size_t parts = (raw.size() + kMaxLongValueRow - 1) / kMaxLongValueRow;
                bool single = parts == 1;
                for (size_t k = parts; k-- > 0;) {
                    size_t from = k * kMaxLongValueRow;
                    size_t n = std::min(kMaxLongValueRow, raw.size() - from);
                    Bytes lv;
                    if (!single) {
                        lv.resize(4);
                        put32(lv.data(), next);
                    }
                    lv.insert(lv.end(), raw.begin() + long(from), raw.begin() + long(from + n));
                    uint32_t p = longValuePage(lv.size());
                    unsigned slot = appendRowBytes(pager.modify(p), lv.data(), lv.size(), 0);
                    next = DataPage::makeRowPointer(p, slot);
                }
                put32(data.data(), uint32_t(raw.size()) |
                                       (uint32_t(single ? LongValue::kSingleRow : LongValue::kChained) << 24));
                put32(data.data() + 4, next);
            }
            break;
        }
        default:
            if (!isKnownColumnType(c.type)) {
                // A type the engine does not know keeps the bytes it was read with.
                data = std::get<Bytes>(v);
            } else {
                // A fixed-width type kept in the variable area (Access 2000's
                // MSysAccessObjects has its Long ID there).
                data.assign(RowCodec::fixedSize(c), 0);
                encodeFixed(c, v, data.data());
            }
        }
        setPresent(c);
        size_t start = row.size();
        row.insert(row.end(), data.begin(), data.end());
        var[c.varIndex] = {start, row.size()};
    }
    if (varSlots > 0 || def_.variableColumns > 0) {
        // Null columns take no bytes: their slot starts where the next data starts.
        size_t eod = row.size();
        std::vector<uint16_t> offsets(varSlots);
        size_t nextStart = eod;
        for (unsigned k = varSlots; k-- > 0;) {
            if (var[k].second) nextStart = var[k].first;
            offsets[k] = uint16_t(nextStart);
        }
        Bytes tail;
        tail.resize(2);
        put16(tail.data(), uint16_t(eod));
        for (unsigned k = varSlots; k-- > 0;) {
            uint8_t b[2];
            put16(b, offsets[k]);
            tail.insert(tail.end(), b, b + 2);
        }
        uint8_t cnt[2];
        put16(cnt, uint16_t(varSlots));
        tail.insert(tail.end(), cnt, cnt + 2);
        row.insert(row.end(), tail.begin(), tail.end());
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > kMaxRowSize)
        throw JetError(where() + ": the row takes " + std::to_string(row.size()) + " bytes, more than a page holds (" +
                       std::to_string(kMaxRowSize) + ")");
    return row;
}

void Table::refuseUnknownType(const ColumnDef& c) const
{
    if (isKnownColumnType(c.type)) return;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", unsigned(c.type));
    throw JetError(where() + ": column '" + c.utf8Name + "' has a type this program does not know (code " + code +
                   "); its values are kept as they are but cannot be written");
}

void Table::checkValues(std::vector<Value>& values) const
{
    for (size_t i = 0; i < def_.columns.size(); ++i) checkValue(i, values[i]);
}

void Table::checkValue(size_t column, Value& v) const
{
    {
        const ColumnDef& c = def_.columns[column];
        auto wrong = [&]() {
            return JetError(where() + ": column '" + c.utf8Name + "' (" + columnTypeName(c.type) + ") cannot hold " +
                            describe(v));
        };
        if (!isKnownColumnType(c.type)) {
            // Only the bytes read from the row itself come this way (refuseUnknownType turns new values away).
            if (!isNull(v) && !std::holds_alternative<Bytes>(v)) throw wrong();
            return;
        }
        if (isNull(v)) {
            if (c.type == ColumnType::Boolean) v = false;
            else if (!(c.flags & kColumnNullable) && !c.isAutoNumber())
                throw JetError(where() + ": column '" + c.utf8Name + "' requires a value");
            return;
        }
        switch (c.type) {
        case ColumnType::Boolean:
            if (auto n = std::get_if<int64_t>(&v)) v = *n != 0;
            else if (!std::holds_alternative<bool>(v)) throw wrong();
            break;
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long: {
            if (auto d = std::get_if<double>(&v)) {
                if (!std::isfinite(*d) || std::nearbyint(*d) != *d) throw wrong();
                v = int64_t(*d);
            }
            if (auto b = std::get_if<bool>(&v)) v = int64_t(*b ? -1 : 0);
            auto n = std::get_if<int64_t>(&v);
            if (!n) throw wrong();
            int64_t lo = c.type == ColumnType::Byte ? 0 : c.type == ColumnType::Integer ? -32768 : INT32_MIN;
            int64_t hi = c.type == ColumnType::Byte ? 255 : c.type == ColumnType::Integer ? 32767 : INT32_MAX;
            if (*n < lo || *n > hi)
                throw JetError(where() + ": " + std::to_string(*n) + " is out of range for column '" + c.utf8Name + "' (" +
                               columnTypeName(c.type) + ")");
            break;
        }
        case ColumnType::Single:
        case ColumnType::Double:
            if (auto n = std::get_if<int64_t>(&v)) v = double(*n);
            else if (!std::holds_alternative<double>(v)) throw wrong();
            break;
        case ColumnType::Currency:
            if (auto n = std::get_if<int64_t>(&v)) v = Currency{*n * 10000};
            else if (auto d = std::get_if<double>(&v)) v = Currency{int64_t(std::llround(*d * 10000))};
            else if (!std::holds_alternative<Currency>(v)) throw wrong();
            break;
        case ColumnType::DateTime:
            if (auto d = std::get_if<double>(&v)) v = DateTime{*d};
            else if (!std::holds_alternative<DateTime>(v)) throw wrong();
            break;
        case ColumnType::Text:
        case ColumnType::Memo: {
            auto s = std::get_if<std::u16string>(&v);
            if (!s) throw wrong();
            if (c.type == ColumnType::Text && s->size() * 2 > c.length)
                throw JetError(where() + ": the text for column '" + c.utf8Name + "' has " + std::to_string(s->size()) +
                               " characters, more than the column's " + std::to_string(c.length / 2));
            break;
        }
        case ColumnType::Binary:
        case ColumnType::OLE: {
            auto b = std::get_if<Bytes>(&v);
            if (!b) throw wrong();
            if (c.type == ColumnType::Binary && b->size() > c.length)
                throw JetError(where() + ": the value for column '" + c.utf8Name + "' is longer than the column");
            break;
        }
        case ColumnType::Guid:
            if (!std::holds_alternative<Guid>(v)) throw wrong();
            break;
        case ColumnType::Numeric: {
            Decimal d;
            auto tooLarge = [&]() {
                return JetError(where() + ": the value is too large for column '" + c.utf8Name + "' (precision " +
                                std::to_string(c.precision) + ")");
            };
            Magnitude mag;
            if (auto n = std::get_if<int64_t>(&v)) {
                d.negative = *n < 0;
                mag.low = d.negative ? uint64_t(0) - uint64_t(*n) : uint64_t(*n);
                for (int k = 0; k < c.scale; ++k)
                    if (!timesTen(mag)) throw tooLarge();
            } else if (auto p = std::get_if<Decimal>(&v)) {
                d = *p;
                mag = {d.high, d.low};
                for (; d.scale < c.scale; ++d.scale)
                    if (!timesTen(mag)) throw tooLarge();
                for (; d.scale > c.scale; --d.scale) {
                    Magnitude shorter = mag;
                    if (divideByTen(shorter) != 0)
                        throw JetError(where() + ": column '" + c.utf8Name + "' holds only " + std::to_string(c.scale) +
                                       " decimal places");
                    mag = shorter;
                }
            } else {
                throw wrong();
            }
            d.scale = c.scale;
            d.precision = c.precision;
            d.high = mag.high;
            d.low = mag.low;
            Magnitude limit{0, 1};
            bool limited = true;
            for (int k = 0; k < c.precision && limited; ++k) limited = timesTen(limit);
            if (limited && !(mag < limit)) throw tooLarge();
            if (mag.isZero()) d.negative = false;
            v = d;
            break;
        }
        }
    }
}

void Table::queueIndexChanges(const std::vector<Value>* oldValues, RowLocator oldAt, const std::vector<Value>* newValues,
                              RowLocator newAt)
{
    pending_.resize(def_.realIndexes.size());
    for (size_t i = 0; i < def_.realIndexes.size(); ++i) {
        const RealIndex& index = def_.realIndexes[i];
        if (oldValues && newValues && oldAt == newAt) {
            // An update that leaves the index's columns alone leaves its entry alone.
            bool same = true;
            for (const IndexColumn& ic : index.columns) {
                size_t c = def_.columnIndex(ic.columnNumber);
                if (c < oldValues->size() && !((*oldValues)[c] == (*newValues)[c])) same = false;
            }
            if (same) continue;
        }
        std::optional<IndexEntry> before, after;
        if (oldValues) before = indexEntryForRow(def_, index, *oldValues, oldAt.page, oldAt.row);
        if (newValues) after = indexEntryForRow(def_, index, *newValues, newAt.page, newAt.row);
        if (before && after && before->compare(*after) == 0) continue;
        PendingIndex& p = pending_[i];
        if (after && index.isUnique() && !indexKeyHoldsNull(def_, index, *newValues)) {
            // The transaction's net entries of the key so far (a unique
            // index holds each key once, so each side has it at most once).
            int present = int(p.additions.hasKey(after->key)) - int(p.removals.hasKey(after->key));
            if (!before || before->key != after->key) {
                // Look in the tree only when the transaction has not settled the key yet.
                IndexTree tree(db_.pager(), def_, index, where());
                IndexEntry probe = *after;
                probe.page = 0;
                probe.row = 0;
                bool inTree = false;
                if (present <= 0) {
                    for (const IndexEntry& e : tree.entriesFrom(probe, 1))
                        if (e.key == after->key) inTree = true;
                }
                if (present + (inTree ? 1 : 0) > 0)
                    throw JetError(where() + ": the change would create a duplicate value in index '" +
                                   def_.indexName(index) + "', which allows each value once");
            }
        }
        if (before) {
            // An entry added earlier in this transaction is simply taken back.
            if (!p.additions.takeBack(*before)) p.removals.add(*before);
        }
        if (after) {
            p.additions.add(*after);
        }
    }
}

void Table::refuseNullKeys(const std::vector<Value>& values) const
{
    for (const RealIndex& index : def_.realIndexes) {
        if (!def_.indexRequiresValues(index)) continue;
        for (const IndexColumn& ic : index.columns) {
            size_t at = def_.columnIndex(ic.columnNumber);
            if (at < values.size() && isNull(values[at]))
                throw JetError(where() + ": index '" + def_.indexName(index) + "' admits no null, and column '" +
                               def_.columns[at].utf8Name + "' has no value");
        }
    }
}

void Table::writeCounters()
{
    Pager& pager = db_.pager();
    auto put = [&](size_t offset, uint32_t value) {
        auto [page, at] = def_.locate(offset);
        put32(pager.modify(page) + at, value);
    };
    put(kTdefRowCountOffset, def_.rowCount);
    put(kTdefAutoNumberOffset, def_.autoNumber);
    for (const RealIndex& index : def_.realIndexes) put(index.countOffset, index.uniqueEntryCount);
}

RowLocator Table::insertRow(const std::vector<std::optional<Value>>& given)
{
    if (!db_.inWrite()) throw JetError(where() + ": rows can only be inserted inside a write");
    if (given.size() != def_.columns.size())
        throw JetError(where() + ": an insert gives " + std::to_string(given.size()) + " values for " +
                       std::to_string(def_.columns.size()) + " columns");
    std::vector<Value> values(def_.columns.size());
    const PropertyMap& props = db_.properties(def_.name);
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        if (given[i]) {
            refuseUnknownType(c);
            values[i] = *given[i];
            if (c.flags & kColumnAutoLong) {
                if (auto n = std::get_if<int64_t>(&values[i]); n && *n > int64_t(def_.autoNumber))
                    def_.autoNumber = uint32_t(*n);
            }
            continue;
        }
        if (c.flags & kColumnAutoLong) {
            if (def_.autoNumber >= uint32_t(INT32_MAX)) throw JetError(where() + ": the autonumber has run out");
            values[i] = int64_t(++def_.autoNumber);
        } else if ((c.flags & kColumnAutoGuid) && c.type == ColumnType::Guid) {
            values[i] = randomGuid();
        } else if (const Property* d = props.find(c.utf8Name, "DefaultValue")) {
            values[i] = evaluateDefault(d->text(), c, where());
        }
    }
    checkValues(values);
    refuseNullKeys(values);
    Bytes row = encodeRow(values);
    RowLocator at = placeRow(row, 0);
    queueIndexChanges(nullptr, {}, &values, at);
    ++def_.rowCount;
    writeCounters();
    return at;
}

RowLocator Table::insertCopy(const std::vector<Value>& values)
{
    if (!db_.inWrite()) throw JetError(where() + ": rows can only be inserted inside a write");
    if (values.size() != def_.columns.size())
        throw JetError(where() + ": a copied row has " + std::to_string(values.size()) + " values for " +
                       std::to_string(def_.columns.size()) + " columns");
    for (size_t i = 0; i < def_.columns.size(); ++i)
        if (def_.columns[i].flags & kColumnAutoLong)
            if (auto n = std::get_if<int64_t>(&values[i]); n && *n > int64_t(def_.autoNumber)) def_.autoNumber = uint32_t(*n);
    Bytes row = encodeRow(values);
    RowLocator at = placeRow(row, 0);
    queueIndexChanges(nullptr, {}, &values, at);
    ++def_.rowCount;
    writeCounters();
    return at;
}

void Table::releaseLongValues(const std::vector<Value>&, const uint8_t* row, size_t size)
{
    // LVAL rows of memo/OLE columns become deleted rows on their pages.
    Pager& pager = db_.pager();
    const std::string w = where();
    for (const ColumnDef& c : def_.columns) {
        if (!isLongValueType(c.type)) continue;
        RowCodec::Span span;
        if (!RowCodec::columnBytes(def_, c, row, size, RowPlace{&w, 0, -1}, span)) continue;
        if (span.size < LongValue::kReferenceSize) continue;
        for (uint32_t ptr : LongValue::rowPointers(pager, span.data, span.size, w)) {
            uint32_t p = DataPage::pointerPage(ptr);
            unsigned r = DataPage::pointerRow(ptr);
            uint8_t* page = pager.modify(p);
            if (r < DataPage::rowCount(page)) replaceRowBytes(page, r, nullptr, 0, DataPage::kDeletedFlags);
        }
    }
}

void Table::deleteRow(RowLocator at)
{
    if (!db_.inWrite()) throw JetError(where() + ": rows can only be deleted inside a write");
    auto old = read(at);
    if (!old) throw JetError(where() + ": there is no row at page " + std::to_string(at.page) + ", row " + std::to_string(at.row));
    Pager& pager = db_.pager();
    auto rb = rowBytes(at);
    Bytes oldRow(rb->data, rb->data + rb->size);
    uint32_t overflowPage = rb->pageNumber;
    int overflowRow = -1;
    if (overflowPage != at.page) {
        PageRef page = pager.read(at.page);
        SlotInfo s = slotInfo(page->data, at.row);
        uint32_t target = le32(page->data + s.start);
        overflowRow = int(DataPage::pointerRow(target));
    }
    releaseLongValues(*old, oldRow.data(), oldRow.size());
    if (overflowRow >= 0) replaceRowBytes(pager.modify(overflowPage), unsigned(overflowRow), nullptr, 0, DataPage::kDeletedFlags);
    replaceRowBytes(pager.modify(at.page), at.row, nullptr, 0, DataPage::kDeletedFlags);
    queueIndexChanges(&*old, at, nullptr, {});
    if (def_.rowCount > 0) --def_.rowCount;
    writeCounters();
}

bool Table::updateInPlace(RowLocator at, const std::vector<std::pair<size_t, Value>>& changes)
{
    std::vector<std::pair<size_t, Value>> checked;
    for (const auto& [col, value] : changes) {
        if (col >= def_.columns.size()) return false;
        const ColumnDef& c = def_.columns[col];
        if (!c.isFixed() || c.isAutoNumber() || isNull(value)) return false;
        switch (c.type) {
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
        case ColumnType::Currency:
        case ColumnType::Single:
        case ColumnType::Double:
        case ColumnType::DateTime: break;
        default: return false;
        }
        for (const RealIndex& index : def_.realIndexes)
            for (const IndexColumn& ic : index.columns)
                if (ic.columnNumber == c.number) return false;
        Value v = value;
        checkValue(col, v);
        checked.emplace_back(col, std::move(v));
    }
    auto rb = rowBytes(at);
    if (!rb) return false;
    RowView view(def_, rb->data, rb->size, db_.pager(), RowPlace{&where_, rb->pageNumber, at.row});
    for (const auto& [col, v] : checked) {
        // A null column would need its bit in the null mask set: the general path.
        if (view.isNull(col)) return false;
        (void)view.value(col); // checks that the column lies inside the row
    }
    const size_t rowOffset = size_t(rb->data - rb->page->data);
    uint8_t* page = db_.pager().modify(rb->pageNumber);
    for (const auto& [col, v] : checked) {
        const ColumnDef& c = def_.columns[col];
        encodeFixed(c, v, page + rowOffset + 2 + c.fixedOffset);
    }
    return true;
}

void Table::updateRow(RowLocator at, const std::vector<std::pair<size_t, Value>>& changes)
{
    if (!db_.inWrite()) throw JetError(where() + ": rows can only be changed inside a write");
    // Numbers and dates that stay non-null and that no index holds are
    // written over their old bytes: the row keeps its size and its place.
    if (updateInPlace(at, changes)) return;
    auto old = read(at);
    if (!old) throw JetError(where() + ": there is no row at page " + std::to_string(at.page) + ", row " + std::to_string(at.row));
    std::vector<Value> values = *old;
    for (const auto& [col, v] : changes) {
        if (col >= values.size()) throw JetError(where() + ": an update names column " + std::to_string(col) + ", which does not exist");
        refuseUnknownType(def_.columns[col]);
        values[col] = v;
    }
    checkValues(values);
    refuseNullKeys(values);
    Pager& pager = db_.pager();
    auto rb = rowBytes(at);
    Bytes oldRow(rb->data, rb->data + rb->size);
    // Long values are written anew; the old ones are released.
    Bytes row = encodeRow(values);
    releaseLongValues(*old, oldRow.data(), oldRow.size());

    PageRef home = pager.read(at.page);
    SlotInfo hs = slotInfo(home->data, at.row);
    if (hs.flags == DataPage::kOverflowPointerFlag) {
        // Drop the old overflow row; the row goes back home if it fits there.
        uint32_t target = le32(home->data + hs.start);
        replaceRowBytes(pager.modify(DataPage::pointerPage(target)), DataPage::pointerRow(target), nullptr, 0,
                        DataPage::kDeletedFlags);
        home = pager.read(at.page);
        hs = slotInfo(home->data, at.row);
    }
    size_t room = freeSpace(home->data) + (hs.end - hs.start);
    if (row.size() <= room) {
        replaceRowBytes(pager.modify(at.page), at.row, row.data(), row.size(), 0);
    } else {
        // Too big for its page: the row moves, the slot keeps a pointer to it.
        RowLocator moved = placeRow(row, DataPage::kOverflowRowFlag);
        uint8_t pointer[4];
        put32(pointer, DataPage::makeRowPointer(moved.page, moved.row));
        if (room < 4) throw JetError(where() + ": page " + std::to_string(at.page) + " has no room for a row pointer");
        replaceRowBytes(pager.modify(at.page), at.row, pointer, 4, DataPage::kOverflowPointerFlag);
    }
    queueIndexChanges(&*old, at, &values, at);
}

void Table::flushIndexes()
{
    if (pending_.empty()) return;
    Pager& pager = db_.pager();
    for (size_t i = 0; i < pending_.size() && i < def_.realIndexes.size(); ++i) {
        PendingIndex& p = pending_[i];
        if (p.removals.empty() && p.additions.empty()) continue;
        RealIndex& index = def_.realIndexes[i];
        IndexTree tree(pager, def_, index, where());
        IndexTree::Change change = tree.apply(p.removals.release(), p.additions.release());
        if (!change.allocated.empty() || !change.released.empty()) {
            UsageMap own = UsageMap::read(pager, index.usageMapPointer, where());
            for (uint32_t page : change.allocated) own.add(pager, page);
            for (uint32_t page : change.released) own.remove(pager, page);
            if (!change.released.empty()) {
                UsageMap freeMap = UsageMap::read(pager, kGlobalFreeMap, "'" + db_.path() + "'");
                for (uint32_t page : change.released) freeMap.add(pager, page);
            }
        }
        // The unique-entry count: distinct keys, as Access keeps it. Edits in
        // place adjust the stored count (Access lets it drift, so it may
        // already be off: it is never a reason to fail); a rewrite sets it.
        if (change.recounted) {
            index.uniqueEntryCount = change.distinctKeys;
        } else {
            int64_t count = int64_t(index.uniqueEntryCount) + change.distinctDelta;
            index.uniqueEntryCount = uint32_t(std::clamp<int64_t>(count, 0, UINT32_MAX));
        }
        p = PendingIndex{};
    }
    pending_.clear();
    writeCounters();
}

void Table::reloadDefinition()
{
    def_ = TableDef::read(db_.pager(), def_.firstPage, def_.name);
    dropPendingWrites();
}

void Table::dropPendingWrites()
{
    pending_.clear();
    insertPage_ = 0;
    longValuePage_ = 0;
}

} // namespace jet
