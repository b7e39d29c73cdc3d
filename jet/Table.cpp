#include "jet/Table.h"

#include "jet/ByteOrder.h"
#include "jet/ComplexColumn.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/DefaultValue.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/LongValue.h"
#include "jet/Pager.h"
#include "jet/RowCodec.h"
#include "jet/RowView.h"
#include "jet/UsageMap.h"
#include "jet/ValueCoercion.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

namespace jet {


Table::Table(Database& db, TableDef def) : db_(db), def_(std::move(def))
{
    location_ = "'" + db_.path() + "', table '" + def_.name + "'";
    resolveCalculatedTypes();
}

void Table::resolveCalculatedTypes()
{
    if (std::none_of(def_.columns.begin(), def_.columns.end(), [](const ColumnDef& c) { return c.isCalculated(); }))
        return;
    const PropertyMap& properties = db_.properties(def_.name);
    for (ColumnDef& c : def_.columns) {
        if (!c.isCalculated()) continue;
        const Property* type = properties.find(c.utf8Name, "ResultType");
        if (type && type->value.size() == 1 && isKnownColumnType(type->value[0])) c.type = ColumnType(type->value[0]);
    }
}

std::vector<uint32_t> Table::mapPages()
{
    Pager& pager = db_.pager();
    std::vector<uint32_t> pages = UsageMap::read(pager, def_.usedPagesPointer, location()).pages();
    for (uint32_t p : pages)
        if (p >= pager.pageCount())
            throw JetError(location() + ": its usage map names page " + std::to_string(p) + ", past the end of the file");
    return pages;
}

std::vector<uint32_t> Table::dataPages()
{
    Pager& pager = db_.pager();
    UsageMap map = UsageMap::read(pager, def_.usedPagesPointer, location());
    std::vector<uint32_t> out;
    for (uint32_t p : map.pages()) {
        if (p >= pager.pageCount())
            throw JetError(location() + ": its usage map names page " + std::to_string(p) + ", past the end of the file");
        PageRef page = pager.read(p);
        if (DataPage::isOwnedBy(pager.format(), page->data, def_.firstPage)) out.push_back(p);
    }
    return out;
}

std::optional<Table::RowBytes> Table::rowBytes(RowLocator at)
{
    Pager& pager = db_.pager();
    if (at.page == 0 || at.page >= pager.pageCount()) return std::nullopt;
    const Format& f = pager.format();
    PageRef page = pager.read(at.page);
    if (!DataPage::isOwnedBy(f, page->data, def_.firstPage)) return std::nullopt;
    if (at.row >= DataPage::rowCount(f, page->data)) return std::nullopt;
    DataPage::Slot s = DataPage::slot(f, page->data, at.row, at.page, pager.path());
    if (s.deleted() || s.overflowRow()) return std::nullopt;
    if (s.overflowPointer()) {
        if (s.size() < 4)
            throw JetError(location() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           ": the overflow pointer is cut short");
        uint32_t target = le32(page->data + s.start);
        uint32_t tp = DataPage::pointerPage(target);
        unsigned tr = DataPage::pointerRow(target);
        if (tp == 0 || tp >= pager.pageCount())
            throw JetError(location() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           " points to page " + std::to_string(tp) + ", which does not exist");
        PageRef tpage = pager.read(tp);
        DataPage::Slot ts = DataPage::slot(f, tpage->data, tr, tp, pager.path());
        if (DataPage::owner(f, tpage->data) != def_.firstPage || !ts.overflowRow())
            throw JetError(location() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           " points to a row that is not its overflow row (page " + std::to_string(tp) + ")");
        return RowBytes{tpage, tp, tpage->data + ts.start, ts.size()};
    }
    return RowBytes{page, at.page, page->data + s.start, s.size()};
}

void Table::scanViews(const RowViewVisitor& visit)
{
    Pager& pager = db_.pager();
    const Format& f = pager.format();
    ReadScope scope(pager);
    // The pages are read once: the owner check happens here rather than in
    // dataPages(), which would read every page an extra time.
    for (uint32_t p : mapPages()) {
        PageRef page = pager.read(p);
        if (!DataPage::isOwnedBy(f, page->data, def_.firstPage)) continue;
        unsigned count = DataPage::rowCount(f, page->data);
        for (unsigned r = 0; r < count; ++r) {
            DataPage::Slot s = DataPage::slot(f, page->data, r, p, pager.path());
            if (s.deleted() || s.overflowRow()) continue;
            RowLocator at{p, uint8_t(r)};
            if (s.overflowPointer()) {
                auto rb = rowBytes(at);
                if (!rb) continue;
                if (!visit(at, RowView(def_, rb->data, rb->size, pager, RowPlace{&location_, rb->pageNumber, -1})))
                    return;
            } else if (!visit(at, RowView(def_, page->data + s.start, s.size(), pager, RowPlace{&location_, p, int(r)}))) {
                return;
            }
        }
    }
}

void Table::scan(const RowVisitor& visit, const std::vector<bool>* wanted)
{
    std::vector<Value> values;
    scanViews([&](RowLocator at, const RowView& row) {
        row.decode(values, wanted);
        return visit(at, values);
    });
}

std::optional<std::vector<Value>> Table::read(RowLocator at)
{
    ReadScope scope(db_.pager());
    auto rb = rowBytes(at);
    if (!rb) return std::nullopt;
    std::vector<Value> values;
    RowCodec::decode(def_, rb->data, rb->size, db_.pager(), RowPlace{&location_, rb->pageNumber, at.row}, values);
    return values;
}


namespace {

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

} // namespace

uint32_t Table::newDataPage()
{
    Pager& pager = db_.pager();
    uint32_t p = pager.allocate();
    DataPage::init(pager.format(), pager.modify(p), def_.firstPage);
    UsageMap::read(pager, def_.usedPagesPointer, location()).add(pager, p);
    if (def_.freePagesPointer) UsageMap::read(pager, def_.freePagesPointer, location()).add(pager, p);
    return p;
}

RowLocator Table::placeRow(const Bytes& row, uint16_t flags)
{
    Pager& pager = db_.pager();
    auto hasRoom = [&](uint32_t p) {
        if (p == 0 || p >= pager.pageCount()) return false;
        PageRef page = pager.read(p);
        return DataPage::isOwnedBy(pager.format(), page->data, def_.firstPage) &&
               DataPage::hasRoomFor(pager.format(), page->data, row.size());
    };
    if (!hasRoom(insertPage_)) {
        insertPage_ = 0;
        // The last data page is the one that usually has room; older pages
        // keep the space of deleted rows for updates in place. It is found
        // from the end of the map: reading every page here would make a
        // copy of a big table read its pages once per page it adds.
        std::vector<uint32_t> pages = mapPages();
        auto last = std::find_if(pages.rbegin(), pages.rend(), [&](uint32_t p) {
            return DataPage::isOwnedBy(pager.format(), pager.read(p)->data, def_.firstPage);
        });
        if (last != pages.rend() && hasRoom(*last)) insertPage_ = *last;
        else insertPage_ = newDataPage();
    }
    unsigned slot = DataPage::append(pager.format(), pager.modify(insertPage_), row.data(), row.size(), flags);
    return RowLocator{insertPage_, uint8_t(slot)};
}

void Table::refuseUnknownType(const ColumnDef& c) const
{
    if (isKnownColumnType(c.type)) return;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", unsigned(c.type));
    throw JetError(location() + ": column '" + c.utf8Name + "' has a type this program does not know (code " + code +
                   "); its values are kept as they are but cannot be written");
}

void Table::refuseUnwritable(const ColumnDef& c) const
{
    if (c.isComplex()) {
        std::string kind = "attachments or a multi-value list";
        try {
            kind = ComplexColumn(db_, def_, c).kind();
        } catch (const JetError&) {
            // The plain description does.
        }
        throw JetError(location() + ": column '" + c.utf8Name + "' is a complex column (" + kind +
                       ") whose values Access keeps in a hidden table; this program reads them but does not write them");
    }
    if (c.isCalculated())
        throw JetError(location() + ": column '" + c.utf8Name +
                       "' is calculated by Access from an expression; this program reads its stored value but does "
                       "not write it");
}

void Table::deleteComplexValues(const std::vector<Value>& row)
{
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        if (!c.isComplex() || !std::holds_alternative<int64_t>(row[i])) continue;
        ComplexColumn(db_, def_, c).deleteValues(std::get<int64_t>(row[i]));
    }
}

void Table::checkValues(std::vector<Value>& values) const
{
    for (size_t i = 0; i < def_.columns.size(); ++i) ValueCoercion::coerce(def_.columns[i], values[i], location(), *def_.text);
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
        if (def_.unencodableColumn(index)) {
            queueUnencodableChange(i, oldValues, oldAt, newValues);
            continue;
        }
        std::optional<IndexEntry> before, after;
        if (oldValues) before = indexEntryForRow(def_, index, *oldValues, oldAt.page, oldAt.row);
        if (newValues) after = indexEntryForRow(def_, index, *newValues, newAt.page, newAt.row);
        if (before && after && before->compare(*after) == 0) continue;
        PendingIndex& p = pending_[i];
        const bool uniqueKey = after && index.isUnique() && !indexKeyHoldsNull(def_, index, *newValues);
        if (uniqueKey && (!before || before->key != after->key)) refuseDuplicate(index, p, after->key);
        if (before) {
            // An entry added earlier in this transaction is simply taken back.
            if (!p.additions.takeBack(*before)) p.removals.add(*before);
        }
        if (after) {
            p.additions.add(*after, uniqueKey);
        }
    }
}

void Table::refuseDuplicate(const RealIndex& index, PendingIndex& pending, const Bytes& key)
{
    // The transaction's net entries of the key so far (a unique index holds
    // each key once, so each side has it at most once); the tree is asked
    // only when the transaction has not settled the key.
    int present = int(pending.additions.hasKey(key)) - int(pending.removals.hasKey(key));
    if (present <= 0 && IndexTree(db_.pager(), def_, index, location()).containsKey(key)) ++present;
    if (present > 0)
        throw JetError(location() + ": the change would create a duplicate value in index '" + def_.indexName(index) +
                       "', which allows each value once");
}

void Table::queueUnencodableChange(size_t i, const std::vector<Value>* oldValues, RowLocator oldAt,
                                   const std::vector<Value>* newValues)
{
    const RealIndex& index = def_.realIndexes[i];
    if (newValues) {
        const ColumnDef* c = def_.unencodableColumn(index);
        const std::string how = isKnownColumnType(c->type)
                                    ? "in the " + TableDef::sortOrderName(*c) + " sort order"
                                    : "of a type this program does not know";
        throw JetError(location() + ": index '" + def_.indexName(index) + "' keeps the keys of column '" + c->utf8Name +
                       "' " + how + ", which this program cannot write; the row is neither added nor changed");
    }
    // A row leaves the index: its entry is found by the row, whatever its key.
    std::optional<IndexEntry> stored = IndexTree(db_.pager(), def_, index, location()).entryOfRow(oldAt.page, oldAt.row);
    if (stored) {
        pending_[i].removals.add(*stored);
        return;
    }
    const bool leftOut = oldValues && indexLeavesOutRow(def_, index, *oldValues);
    if (!leftOut)
        throw JetError(location() + ", index '" + def_.indexName(index) + "': the index has no entry for the row at page " +
                       std::to_string(oldAt.page) + ", row " + std::to_string(oldAt.row));
}

void Table::refuseNullKeys(const std::vector<Value>& values) const
{
    for (const RealIndex& index : def_.realIndexes) {
        if (!def_.indexRequiresValues(index)) continue;
        for (const IndexColumn& ic : index.columns) {
            size_t at = def_.columnIndex(ic.columnNumber);
            if (at < values.size() && isNull(values[at]))
                throw JetError(location() + ": index '" + def_.indexName(index) + "' admits no null, and column '" +
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
    put(def_.format->tdef.rowCount, def_.rowCount);
    put(def_.format->tdef.autoNumber, def_.autoNumber);
    if (def_.format->tdef.complexAutoNumber != kAbsent) put(def_.format->tdef.complexAutoNumber, def_.complexAutoNumber);
    for (const RealIndex& index : def_.realIndexes) put(index.countOffset, index.uniqueEntryCount);
}

RowLocator Table::insertRow(const std::vector<std::optional<Value>>& given)
{
    if (!db_.inWrite()) throw JetError(location() + ": rows can only be inserted inside a write");
    if (given.size() != def_.columns.size())
        throw JetError(location() + ": an insert gives " + std::to_string(given.size()) + " values for " +
                       std::to_string(def_.columns.size()) + " columns");
    std::vector<Value> values(def_.columns.size());
    const PropertyMap& props = db_.properties(def_.name);
    std::optional<int64_t> complexKey; // one for all complex columns of the row
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        const ColumnDef& c = def_.columns[i];
        if (given[i] && (c.isComplex() || c.isCalculated()) && !isNull(*given[i])) refuseUnwritable(c);
        if (c.isComplex()) {
            if (!complexKey) {
                if (def_.complexAutoNumber >= uint32_t(INT32_MAX))
                    throw JetError(location() + ": the keys of its complex columns have run out");
                complexKey = int64_t(++def_.complexAutoNumber);
            }
            values[i] = *complexKey;
            continue;
        }
        if (c.isCalculated()) continue;
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
            if (def_.autoNumber >= uint32_t(INT32_MAX)) throw JetError(location() + ": the autonumber has run out");
            values[i] = int64_t(++def_.autoNumber);
        } else if (c.isAutoGuid()) {
            values[i] = randomGuid();
        } else if (const Property* d = props.find(c.utf8Name, "DefaultValue")) {
            values[i] = evaluateDefault(d->text(), c, location());
        }
    }
    checkValues(values);
    refuseNullKeys(values);
    Bytes row = RowCodec::encode(def_, values, db_.pager(), longValuePage_, location());
    RowLocator at = placeRow(row, 0);
    queueIndexChanges(nullptr, {}, &values, at);
    ++def_.rowCount;
    writeCounters();
    return at;
}

RowLocator Table::insertCopy(const std::vector<Value>& values)
{
    if (!db_.inWrite()) throw JetError(location() + ": rows can only be inserted inside a write");
    if (values.size() != def_.columns.size())
        throw JetError(location() + ": a copied row has " + std::to_string(values.size()) + " values for " +
                       std::to_string(def_.columns.size()) + " columns");
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        auto n = std::get_if<int64_t>(&values[i]);
        if (!n) continue;
        if (def_.columns[i].isComplex()) {
            if (*n > int64_t(def_.complexAutoNumber)) def_.complexAutoNumber = uint32_t(*n);
        } else if ((def_.columns[i].flags & kColumnAutoLong) && *n > int64_t(def_.autoNumber)) {
            def_.autoNumber = uint32_t(*n);
        }
    }
    Bytes row = RowCodec::encode(def_, values, db_.pager(), longValuePage_, location());
    RowLocator at = placeRow(row, 0);
    queueIndexChanges(nullptr, {}, &values, at);
    ++def_.rowCount;
    writeCounters();
    return at;
}

void Table::releaseLongValues(const uint8_t* row, size_t size, uint32_t pageNumber)
{
    // LVAL rows of memo/OLE columns become deleted rows on their pages.
    Pager& pager = db_.pager();
    RowView view(def_, row, size, pager, RowPlace{&location_, pageNumber, -1});
    for (const ColumnDef& c : def_.columns) {
        if (!isLongValueType(c.type)) continue;
        const uint8_t* reference = nullptr;
        size_t available = 0;
        if (!view.columnBytes(c, reference, available) || available < LongValue::kReferenceSize) continue;
        LongValue::release(pager, reference, available, location());
    }
}

void Table::deleteRow(RowLocator at)
{
    if (!db_.inWrite()) throw JetError(location() + ": rows can only be deleted inside a write");
    auto old = read(at);
    if (!old) throw JetError(location() + ": there is no row at page " + std::to_string(at.page) + ", row " + std::to_string(at.row));
    Pager& pager = db_.pager();
    auto rb = rowBytes(at);
    Bytes oldRow(rb->data, rb->data + rb->size);
    uint32_t overflowPage = rb->pageNumber;
    int overflowRow = -1;
    if (overflowPage != at.page) {
        PageRef page = pager.read(at.page);
        DataPage::Slot s = DataPage::rawSlot(pager.format(), page->data, at.row);
        uint32_t target = le32(page->data + s.start);
        overflowRow = int(DataPage::pointerRow(target));
    }
    releaseLongValues(oldRow.data(), oldRow.size(), overflowPage);
    const Format& f = pager.format();
    if (overflowRow >= 0)
        DataPage::replace(f, pager.modify(overflowPage), unsigned(overflowRow), nullptr, 0, DataPage::kDeletedFlags);
    DataPage::replace(f, pager.modify(at.page), at.row, nullptr, 0, DataPage::kDeletedFlags);
    queueIndexChanges(&*old, at, nullptr, {});
    if (def_.rowCount > 0) --def_.rowCount;
    writeCounters();
    deleteComplexValues(*old);
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
        ValueCoercion::coerce(c, v, location(), *def_.text);
        checked.emplace_back(col, std::move(v));
    }
    auto rb = rowBytes(at);
    if (!rb) return false;
    RowView view(def_, rb->data, rb->size, db_.pager(), RowPlace{&location_, rb->pageNumber, at.row});
    for (const auto& [col, v] : checked) {
        // A null column would need its bit in the null mask set: the general path.
        if (view.isNull(col)) return false;
        (void)view.value(col); // checks that the column lies inside the row
    }
    const size_t rowOffset = size_t(rb->data - rb->page->data);
    uint8_t* page = db_.pager().modify(rb->pageNumber);
    for (const auto& [col, v] : checked) {
        const ColumnDef& c = def_.columns[col];
        RowCodec::encodeFixed(def_, c, v, page + rowOffset + def_.format->row.columnCountSize + c.fixedOffset);
    }
    return true;
}

void Table::updateRow(RowLocator at, const std::vector<std::pair<size_t, Value>>& changes)
{
    if (!db_.inWrite()) throw JetError(location() + ": rows can only be changed inside a write");
    // Numbers and dates that stay non-null and that no index holds are
    // written over their old bytes: the row keeps its size and its place.
    if (updateInPlace(at, changes)) return;
    auto old = read(at);
    if (!old) throw JetError(location() + ": there is no row at page " + std::to_string(at.page) + ", row " + std::to_string(at.row));
    std::vector<Value> values = *old;
    for (const auto& [col, v] : changes) {
        if (col >= values.size()) throw JetError(location() + ": an update names column " + std::to_string(col) + ", which does not exist");
        refuseUnknownType(def_.columns[col]);
        refuseUnwritable(def_.columns[col]);
        values[col] = v;
    }
    checkValues(values);
    refuseNullKeys(values);
    Pager& pager = db_.pager();
    auto rb = rowBytes(at);
    Bytes oldRow(rb->data, rb->data + rb->size);
    uint32_t oldRowPage = rb->pageNumber;
    // Long values are written anew; the old ones are released.
    Bytes row = RowCodec::encode(def_, values, pager, longValuePage_, location());
    releaseLongValues(oldRow.data(), oldRow.size(), oldRowPage);

    const Format& f = pager.format();
    PageRef home = pager.read(at.page);
    DataPage::Slot hs = DataPage::rawSlot(f, home->data, at.row);
    if (hs.overflowPointer()) {
        // Drop the old overflow row; the row goes back home if it fits there.
        uint32_t target = le32(home->data + hs.start);
        DataPage::replace(f, pager.modify(DataPage::pointerPage(target)), DataPage::pointerRow(target), nullptr, 0,
                          DataPage::kDeletedFlags);
        home = pager.read(at.page);
        hs = DataPage::rawSlot(f, home->data, at.row);
    }
    size_t room = DataPage::freeSpace(f, home->data) + hs.size();
    if (row.size() <= room) {
        DataPage::replace(f, pager.modify(at.page), at.row, row.data(), row.size(), 0);
    } else {
        // Too big for its page: the row moves, the slot keeps a pointer to it.
        RowLocator moved = placeRow(row, DataPage::kOverflowRowFlag);
        uint8_t pointer[4];
        put32(pointer, DataPage::makeRowPointer(moved.page, moved.row));
        if (room < 4) throw JetError(location() + ": page " + std::to_string(at.page) + " has no room for a row pointer");
        DataPage::replace(f, pager.modify(at.page), at.row, pointer, 4, DataPage::kOverflowPointerFlag);
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
        IndexTree tree(pager, def_, index, location());
        IndexTree::Change change = tree.apply(p.removals, p.additions, db_.indexRuns());
        if (!change.allocated.empty() || !change.released.empty()) {
            UsageMap own = UsageMap::read(pager, index.usageMapPointer, location());
            for (uint32_t page : change.allocated) own.add(pager, page);
            for (uint32_t page : change.released) own.remove(pager, page);
            if (!change.released.empty()) {
                UsageMap freeMap = UsageMap::readFreePages(pager, "'" + db_.path() + "'");
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

size_t Table::pendingIndexMemory() const
{
    size_t total = 0;
    for (const PendingIndex& p : pending_) total += p.additions.memoryUse();
    return total;
}

void Table::spillPendingIndexEntries(EntryRunFile& runs)
{
    for (PendingIndex& p : pending_) p.additions.spill(runs);
}

void Table::reloadDefinition()
{
    def_ = TableDef::read(db_.pager(), def_.firstPage, def_.name);
    resolveCalculatedTypes();
    dropPendingWrites();
}

void Table::dropPendingWrites()
{
    pending_.clear();
    insertPage_ = 0;
    longValuePage_ = 0;
}

} // namespace jet
