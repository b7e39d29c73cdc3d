#include "ado/TDataSet.h"

#include "ado/RowBufferPool.h"
#include "ado/TDataSource.h"
#include "base/NameCase.h"
#include "qtcommon/IgnoredError.h"
#include "jet/TextCollation.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// m_rowOf of a position not read yet, and of a deleted record.
constexpr int32_t kNotRead = -1;
constexpr int32_t kRemoved = -2;
// Rows read at a time when the dataset reaches one not read yet: a screen
// of the grid and more, few enough to cost nothing noticeable.
constexpr std::size_t kReadBatch = 256;
constexpr std::size_t kLongestReadBatch = 16384;
// Rows read at a time for a sort column.
constexpr std::size_t kColumnBatch = 4096;
// How often the dataset opens again in a row when the rows keep changing
// under it before it gives up.
constexpr int kMaxRefetches = 3;

// Field names compare as Jet compares names.
bool sameName(const QString& a, const QString& b)
{
    return base::NameCase::equal(std::u16string_view(reinterpret_cast<const char16_t*>(a.utf16()), std::size_t(a.size())),
                                 std::u16string_view(reinterpret_cast<const char16_t*>(b.utf16()), std::size_t(b.size())));
}

RecordStore::Kind storeKindOf(TFieldType type)
{
    switch (type) {
    case ftBoolean: return RecordStore::Kind::Bool;
    case ftByte:
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: return RecordStore::Kind::Int32;
    case ftLargeint: return RecordStore::Kind::Int64;
    case ftFloat: return RecordStore::Kind::Double;
    case ftCurrency: return RecordStore::Kind::Currency;
    case ftBCD:
    case ftFMTBcd: return RecordStore::Kind::Decimal;
    case ftDate:
    case ftTime:
    case ftDateTime: return RecordStore::Kind::DateTime;
    case ftGuid: return RecordStore::Kind::Guid;
    case ftBytes:
    case ftVarBytes:
    case ftBlob: return RecordStore::Kind::Bytes;
    default: return RecordStore::Kind::Text;
    }
}


int compareDecimal(const jet::Decimal& a, const jet::Decimal& b)
{
    bool aZero = a.high == 0 && a.low == 0, bZero = b.high == 0 && b.low == 0;
    bool aNeg = a.negative && !aZero, bNeg = b.negative && !bZero;
    if (aNeg != bNeg) return aNeg ? -1 : 1;
    if (a.scale != b.scale) {
        double x = jet::nearestDouble(a), y = jet::nearestDouble(b);
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    int magnitude = a.high != b.high ? (a.high < b.high ? -1 : 1) : (a.low != b.low ? (a.low < b.low ? -1 : 1) : 0);
    return aNeg ? -magnitude : magnitude;
}

template <typename T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

template <typename Unit>
int compareBytes(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b)
{
    return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
}

// The collation keys of one text column, by store row (null: no key, and
// ordered before every key).
class TextKeys {
public:
    void build(const RecordStore& store, int column, const std::vector<int32_t>& rows)
    {
        m_arena.clear();
        m_range.assign(std::size_t(store.rowCount()), {0, 0});
        m_null.assign(std::size_t(store.rowCount()), true);
        for (int32_t row : rows) {
            if (store.isNull(row, column)) continue;
            const std::size_t begin = m_arena.size();
            jet::TextCollation::appendKey(m_arena, store.text(row, column));
            m_range[std::size_t(row)] = {begin, m_arena.size()};
            m_null[std::size_t(row)] = false;
        }
        m_built = true;
    }
    bool built() const { return m_built; }
    int compare(int32_t a, int32_t b) const
    {
        const bool aNull = m_null[std::size_t(a)], bNull = m_null[std::size_t(b)];
        if (aNull || bNull) return aNull == bNull ? 0 : (aNull ? -1 : 1);
        return compareBytes(key(a), key(b));
    }

private:
    std::string_view key(int32_t row) const
    {
        const auto [begin, end] = m_range[std::size_t(row)];
        return {reinterpret_cast<const char*>(m_arena.data()) + begin, end - begin};
    }

    jet::Bytes m_arena;
    std::vector<std::pair<std::size_t, std::size_t>> m_range;
    std::vector<bool> m_null;
    bool m_built = false;
};

} // namespace

TDataSet::TDataSet() = default;

TDataSet::~TDataSet()
{
    for (TDataSource* source : std::vector<TDataSource*>(m_sources)) source->dataSetDestroyed();
}

// --- opening and closing -----------------------------------------------------

void TDataSet::Open()
{
    if (Active()) return;
    fire(BeforeOpen);
    resetRows();
    m_fields.clear();
    try {
        InternalOpen();
    } catch (...) {
        resetRows();
        m_fields.clear();
        try {
            InternalClose();
        } catch (...) {
            ignoreBecause("the error that made the open fail is the one to report");
        }
        throw;
    }
    m_store.shrinkToFit();
    m_order = fetchOrder();
    ++m_generation;
    m_state = dsBrowse;
    m_current = m_order.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_order.empty();
    notify(Change::State);
    notify(Change::Active);
    fire(AfterOpen);
    if (!IsEmpty()) fire(AfterScroll);
}

void TDataSet::Close()
{
    if (!Active()) return;
    fire(BeforeClose);
    // An edit still pending when the dataset closes is dropped, as leaving a
    // form drops it; callers that want it kept call Post first.
    m_editBuffer.clear();
    m_editChanged.clear();
    m_modified = false;
    m_state = dsInactive;
    notify(Change::State);
    notify(Change::Active);
    resetRows();
    m_fields.clear();
    InternalClose();
    fire(AfterClose);
}

void TDataSet::resetRows()
{
    m_store.clear();
    RowBufferPool<int32_t>::give(m_order);
    RowBufferPool<int32_t>::give(m_fetchOrder);
    m_lazy = false;
    RowBufferPool<uint32_t>::give(m_lazyTags);
    RowBufferPool<int32_t>::give(m_rowOf);
    m_removedPositions = 0;
    m_readBatchEnd = -1;
    m_sortColumns.clear();
    if (!m_refetching) m_sortKeys.clear();
    m_current = -1;
    m_eof = m_bof = true;
    m_editBuffer.clear();
    m_editChanged.clear();
    m_modified = false;
}

void TDataSet::setFieldDefs(const std::vector<TFieldDef>& defs)
{
    std::vector<RecordStore::Kind> kinds;
    for (const TFieldDef& def : defs) kinds.push_back(storeKindOf(def.type));
    // Opening again after a change keeps the fields (callers hold them)
    // when the columns are the same.
    bool keep = m_refetching && defs.size() == m_fields.size();
    for (std::size_t i = 0; keep && i < defs.size(); ++i)
        keep = storeKindOf(m_fields[i]->Def().type) == kinds[i] &&
               sameName(m_fields[i]->Def().name, defs[i].name);
    if (!keep) {
        if (m_refetching)
            throw EDatabaseError(QStringLiteral("The columns of the records changed in the database; open the list again"));
        m_fields.clear();
        for (std::size_t i = 0; i < defs.size(); ++i) m_fields.push_back(std::make_unique<TField>(this, int(i), defs[i]));
    }
    m_sortColumns.clear();
    m_sortColumns.resize(defs.size());
    m_store.reset(std::move(kinds));
}

void TDataSet::setLazyRecords(std::vector<uint32_t> tags)
{
    if (m_store.rowCount() > 0) throw EDatabaseError(QStringLiteral("Records were given twice"));
    m_lazy = true;
    m_lazyTags = std::move(tags);
    m_rowOf = RowBufferPool<int32_t>::take();
    m_rowOf.assign(m_lazyTags.size(), kNotRead);
}

bool TDataSet::InternalReadRows(const std::vector<uint32_t>&, const RowVisitor&)
{
    throw EDatabaseError(QStringLiteral("This dataset cannot read records on demand"));
}

// The store's refusals as the dataset's errors, whichever form the row came in.
template <typename Row>
int TDataSet::appendToStore(const Row& row, uint64_t tag)
{
    try {
        return m_store.appendRow(row, tag);
    } catch (const std::invalid_argument& e) {
        throw EDatabaseError(QStringLiteral("Record %1 could not be read: %2")
                                 .arg(m_store.rowCount() + 1)
                                 .arg(QString::fromStdString(e.what())));
    } catch (const std::length_error& e) {
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
}

void TDataSet::appendRecord(const std::vector<jet::Value>& values, uint64_t tag)
{
    appendToStore(values, tag);
}

void TDataSet::appendRecord(const jet::RowView& row, uint64_t tag)
{
    appendToStore(row, tag);
}

void TDataSet::setFetchOrder(const std::vector<uint32_t>& positions)
{
    const std::size_t rows = std::size_t(m_store.rowCount());
    std::vector<bool> seen(rows, false);
    if (positions.size() != rows)
        throw EDatabaseError(QStringLiteral("The query gave an order of %1 records for %2").arg(positions.size()).arg(rows));
    for (uint32_t p : positions) {
        if (p >= rows || seen[p])
            throw EDatabaseError(QStringLiteral("The query gave an order that names record %1 twice or out of range").arg(p + 1));
        seen[p] = true;
    }
    m_fetchOrder.assign(positions.begin(), positions.end());
}

std::vector<int32_t> TDataSet::fetchOrder() const
{
    std::vector<int32_t> order = RowBufferPool<int32_t>::take();
    if (m_lazy) {
        if (m_removedPositions == 0) {
            order.resize(m_rowOf.size());
            std::iota(order.begin(), order.end(), 0);
            return order;
        }
        order.reserve(m_rowOf.size());
        for (std::size_t p = 0; p < m_rowOf.size(); ++p)
            if (m_rowOf[p] != kRemoved) order.push_back(int32_t(p));
        return order;
    }
    order.reserve(std::size_t(m_store.liveRowCount()));
    if (m_fetchOrder.empty()) {
        for (int row = 0; row < m_store.rowCount(); ++row)
            if (!m_store.isRemoved(row)) order.push_back(row);
    } else {
        for (int32_t row : m_fetchOrder)
            if (!m_store.isRemoved(row)) order.push_back(row);
    }
    return order;
}

void TDataSet::checkActive() const
{
    if (!Active()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

// --- fields ------------------------------------------------------------------

TField* TDataSet::Fields(int index) const
{
    if (index < 0 || index >= FieldCount())
        throw EDatabaseError(QStringLiteral("Field index %1 out of range (the dataset has %2 fields)")
                                 .arg(index)
                                 .arg(FieldCount()));
    return m_fields[std::size_t(index)].get();
}

TField* TDataSet::FindField(const QString& name) const
{
    QString wanted = name.trimmed();
    for (const auto& field : m_fields)
        if (sameName(field->FieldName(), wanted)) return field.get();
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const
{
    if (TField* field = FindField(name)) return field;
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

QStringList TDataSet::FieldNames() const
{
    QStringList names;
    for (const auto& field : m_fields) names << field->FieldName();
    return names;
}

// --- navigation --------------------------------------------------------------

int TDataSet::RecordCount() const
{
    return Active() ? int(m_order.size()) : 0;
}

int TDataSet::RecNo() const
{
    return Active() && m_current >= 0 ? m_current + 1 : 0;
}

void TDataSet::moveTo(int index, bool fireEvents)
{
    if (fireEvents) fire(BeforeScroll);
    int old = m_current;
    m_current = index;
    if (old != m_current) notify(Change::Scroll);
    if (fireEvents) fire(AfterScroll);
}

void TDataSet::setRecNo(int recNo)
{
    checkActive();
    checkBrowseMode();
    if (IsEmpty()) return;
    int index = std::clamp(recNo - 1, 0, RecordCount() - 1);
    m_bof = m_eof = false;
    moveTo(index);
}

void TDataSet::First()
{
    checkActive();
    checkBrowseMode();
    fire(BeforeScroll);
    int old = m_current;
    m_current = IsEmpty() ? -1 : 0;
    m_bof = true;
    m_eof = IsEmpty();
    if (old != m_current) notify(Change::Scroll);
    fire(AfterScroll);
}

void TDataSet::Last()
{
    checkActive();
    checkBrowseMode();
    fire(BeforeScroll);
    int old = m_current;
    m_current = RecordCount() - 1;
    m_eof = true;
    m_bof = IsEmpty();
    if (old != m_current) notify(Change::Scroll);
    fire(AfterScroll);
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

int TDataSet::MoveBy(int distance)
{
    checkActive();
    checkBrowseMode();
    fire(BeforeScroll);
    int moved = 0;
    if ((distance > 0 && !m_eof) || (distance < 0 && !m_bof)) {
        m_bof = m_eof = false;
        int64_t last = RecordCount() - 1;
        int64_t target = int64_t(m_current) + distance;
        if (distance > 0 && target > last) {
            target = last;
            m_eof = true;
        } else if (distance < 0 && target < 0) {
            target = 0;
            m_bof = true;
        }
        moved = int(target - m_current);
        int old = m_current;
        m_current = int(target);
        if (old != m_current) notify(Change::Scroll);
    }
    fire(AfterScroll);
    return moved;
}

// --- editing -----------------------------------------------------------------

bool TDataSet::CanModify() const
{
    return Active() && InternalCanModify();
}

void TDataSet::Edit()
{
    checkActive();
    if (m_state == dsEdit) return;
    if (!CanModify()) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
    if (IsEmpty()) throw EDatabaseError(QStringLiteral("There is no record to edit: the dataset is empty"));
    fire(BeforeEdit);
    int row = storeRow(m_current);
    if (row < 0 && m_current >= 0) row = storeRow(m_current);
    if (row < 0) throw EDatabaseError(QStringLiteral("There is no record to edit: the list was read again and is empty"));
    m_editBuffer.clear();
    for (int f = 0; f < FieldCount(); ++f) m_editBuffer.push_back(m_store.value(row, f));
    m_editChanged.assign(std::size_t(FieldCount()), false);
    m_modified = false;
    m_state = dsEdit;
    notify(Change::State);
    fire(AfterEdit);
}

void TDataSet::setEditValue(int field, const jet::Value& value)
{
    if (m_state != dsEdit) throw EDatabaseError(QStringLiteral("Dataset not in edit mode: call Edit before changing a field"));
    m_editBuffer[std::size_t(field)] = value;
    m_editChanged[std::size_t(field)] = true;
    m_modified = true;
    notify(Change::Record, m_fields[std::size_t(field)].get());
}

void TDataSet::Post()
{
    checkActive();
    if (m_state != dsEdit) return;
    fire(BeforePost);
    const uint64_t tag = tagOf(m_order[std::size_t(m_current)]);
    int row = storeRow(m_current);  // may read the list again when the file changed
    if (row < 0 && m_current >= 0) row = storeRow(m_current);
    if (row < 0 || tagOf(m_order[std::size_t(m_current)]) != tag)
        throw EDatabaseError(QStringLiteral("The record is no longer in the database; the list was read again"));
    const int32_t position = m_order[std::size_t(m_current)];
    std::vector<std::pair<int, jet::Value>> changes;
    for (int f = 0; f < FieldCount(); ++f)
        if (m_editChanged[std::size_t(f)] && !(m_editBuffer[std::size_t(f)] == m_store.value(row, f)))
            changes.emplace_back(f, m_editBuffer[std::size_t(f)]);
    // A failed write leaves the record in edit state with its changes, so the
    // user can correct them or cancel.
    if (!changes.empty()) InternalPost(tagOf(position), changes);
    for (const auto& [field, value] : changes) {
        m_store.setValue(row, field, value);
        if (m_lazy && m_sortColumns[std::size_t(field)]) m_sortColumns[std::size_t(field)]->setValue(position, 0, value);
    }
    leaveEditState();
    fire(AfterPost);
}

void TDataSet::Cancel()
{
    if (m_state != dsEdit) return;
    fire(BeforeCancel);
    leaveEditState();
    fire(AfterCancel);
}

void TDataSet::leaveEditState()
{
    m_editBuffer.clear();
    m_editChanged.clear();
    m_modified = false;
    m_state = dsBrowse;
    notify(Change::State);
    notify(Change::Record);
}

void TDataSet::checkBrowseMode()
{
    if (m_state != dsEdit) return;
    if (m_modified) Post();
    else Cancel();
}

void TDataSet::Delete()
{
    checkActive();
    if (IsEmpty()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (!CanModify()) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
    Cancel();
    fire(BeforeDelete);
    fire(BeforeScroll);
    int32_t position = 0;
    for (;;) {
        checkActive();
        if (IsEmpty()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
        position = m_order[std::size_t(m_current)];
        try {
            InternalDelete(tagOf(position));
            break;
        } catch (const EDatabaseError& error) {
            TDataAction action = daFail;
            if (OnDeleteError) OnDeleteError(this, error, action);
            if (action == daFail) throw;
            if (action == daAbort) return;
        }
    }
    if (!m_lazy) {
        m_store.removeRow(position);
    } else {
        if (m_rowOf[std::size_t(position)] >= 0) m_store.removeRow(m_rowOf[std::size_t(position)]);
        m_rowOf[std::size_t(position)] = kRemoved;
        ++m_removedPositions;
    }
    m_order.erase(m_order.begin() + m_current);
    if (m_current >= RecordCount()) m_current = RecordCount() - 1;
    m_bof = m_eof = IsEmpty();
    notify(Change::Data);
    fire(AfterDelete);
    fire(AfterScroll);
}

// --- values ------------------------------------------------------------------

int TDataSet::storeRow(int index) const
{
    checkActive();
    if (index < 0 || index >= RecordCount())
        throw EDatabaseError(QStringLiteral("Record %1 does not exist (the dataset holds %2 records)")
                                 .arg(index + 1)
                                 .arg(RecordCount()));
    int row = rowOfPosition(m_order[std::size_t(index)], index);
    // Read again from a changed file: the index now names another record, or none.
    if (row < 0 && index < RecordCount()) row = rowOfPosition(m_order[std::size_t(index)], index);
    return row;
}

int TDataSet::rowOfPosition(int32_t position, int index) const
{
    if (!m_lazy) return position;
    if (m_rowOf[std::size_t(position)] >= 0) return m_rowOf[std::size_t(position)];
    const uint64_t generation = m_generation;
    readPositions(index);
    if (m_generation != generation) return -1;
    return m_rowOf[std::size_t(position)];
}

void TDataSet::readPositions(int index) const
{
    // Reading a row changes what the dataset holds, not what it shows; the
    // const accessors read rows the first time they are asked for them.
    TDataSet& self = const_cast<TDataSet&>(*this);
    // A walk through the records (an export, a search) reads on where the
    // last batch ended: batches grow, so that a long walk costs few reads.
    m_readBatch = index == m_readBatchEnd ? std::min(m_readBatch * 2, kLongestReadBatch) : kReadBatch;
    std::vector<uint32_t> tags;
    std::vector<int32_t> positions;
    std::size_t i = std::size_t(index);
    for (; i < m_order.size() && positions.size() < m_readBatch; ++i) {
        const int32_t p = m_order[i];
        if (m_rowOf[std::size_t(p)] != kNotRead) continue;
        positions.push_back(p);
        tags.push_back(m_lazyTags[std::size_t(p)]);
    }
    m_readBatchEnd = int(i);
    if (positions.empty()) return;
    const bool current = self.InternalReadRows(tags, [&](std::size_t i, const jet::RowView& row) {
        m_rowOf[std::size_t(positions[i])] = self.appendToStore(row, tags[i]);
    });
    if (!current) self.refetch();
}

void TDataSet::FetchAll()
{
    checkActive();
    for (int attempt = 0; m_lazy; ++attempt) {
        std::vector<uint32_t> tags;
        std::vector<int32_t> positions;
        for (std::size_t p = 0; p < m_rowOf.size(); ++p)
            if (m_rowOf[p] == kNotRead) {
                positions.push_back(int32_t(p));
                tags.push_back(m_lazyTags[p]);
            }
        if (positions.empty()) return;
        const bool current = InternalReadRows(tags, [&](std::size_t i, const jet::RowView& row) {
            m_rowOf[std::size_t(positions[i])] = appendToStore(row, tags[i]);
        });
        if (current) return;
        if (attempt >= kMaxRefetches)
            throw EDatabaseError(QStringLiteral("The records keep changing in the database while they are read; try again"));
        refetch();
    }
}

void TDataSet::Refresh()
{
    checkActive();
    checkBrowseMode();
    refetch();
}

uint64_t TDataSet::tagOf(int32_t position) const
{
    return m_lazy ? m_lazyTags[std::size_t(position)] : m_store.tag(position);
}

bool TDataSet::positionRemoved(int32_t position) const
{
    return m_lazy ? m_rowOf[std::size_t(position)] == kRemoved : m_store.isRemoved(position);
}

jet::Value TDataSet::currentValue(int field) const
{
    checkActive();
    if (m_state == dsEdit) return m_editBuffer[std::size_t(field)];
    if (m_current < 0) return {};
    int row = storeRow(m_current);
    // Read again from a changed file: the current record may have moved.
    if (row < 0 && m_current >= 0) row = storeRow(m_current);
    return row < 0 ? jet::Value{} : m_store.value(row, field);
}

jet::Value TDataSet::peekValue(int index, int field) const
{
    if (field < 0 || field >= FieldCount()) Fields(field);  // throws with the message
    if (m_state == dsEdit && index == m_current) return m_editBuffer[std::size_t(field)];
    int row = storeRow(index);
    return row < 0 ? jet::Value{} : m_store.value(row, field);
}

bool TDataSet::peekIsNull(int index, int field) const
{
    if (field < 0 || field >= FieldCount()) Fields(field);
    if (m_state == dsEdit && index == m_current) return jet::isNull(m_editBuffer[std::size_t(field)]);
    int row = storeRow(index);
    return row < 0 || m_store.isNull(row, field);
}

std::size_t TDataSet::memoryUsage() const
{
    std::size_t bytes = m_store.memoryUsage() + m_order.capacity() * sizeof(int32_t) +
                        m_lazyTags.capacity() * sizeof(uint32_t) + m_rowOf.capacity() * sizeof(int32_t);
    for (const auto& column : m_sortColumns)
        if (column) bytes += column->memoryUsage();
    return bytes;
}

void TDataSet::refetch()
{
    // Opening again may itself find the rows changed (while it sorts); a
    // file that keeps changing ends the attempts.
    if (m_refetchDepth >= kMaxRefetches)
        throw EDatabaseError(QStringLiteral("The records keep changing in the database while they are read; try again"));
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    } depth{++m_refetchDepth};
    const int oldIndex = m_current;
    const bool hadCurrent = m_current >= 0 && std::size_t(m_current) < m_order.size();
    const uint64_t currentTag = hadCurrent ? tagOf(m_order[std::size_t(m_current)]) : 0;
    const std::vector<SortKey> keys = m_sortKeys;
    std::vector<jet::Value> editBuffer = m_editBuffer;
    std::vector<bool> editChanged = m_editChanged;
    const bool modified = m_modified;
    m_refetching = true;
    try {
        resetRows();
        InternalOpen();
    } catch (...) {
        m_refetching = false;
        resetRows();
        ++m_generation;
        notify(Change::Data);
        throw;
    }
    m_refetching = false;
    m_sortKeys = keys;
    ++m_generation;
    std::vector<int32_t> order = fetchOrder();
    // When this finds the rows changed again, the refetch it makes leaves m_order.
    if (orderBy(order, keys)) {
        RowBufferPool<int32_t>::give(m_order);
        m_order = std::move(order);
    }
    m_editBuffer = std::move(editBuffer);
    m_editChanged = std::move(editChanged);
    m_modified = modified;
    m_current = -1;
    if (hadCurrent) {
        for (std::size_t i = 0; i < m_order.size(); ++i)
            if (tagOf(m_order[i]) == currentTag) {
                m_current = int(i);
                break;
            }
        if (m_current < 0 && !m_order.empty()) m_current = std::clamp(oldIndex, 0, int(m_order.size()) - 1);
    }
    if (m_current < 0 && m_state == dsEdit) leaveEditState();
    m_bof = m_current <= 0;
    m_eof = m_order.empty();
    notify(Change::Data);
    fire(AfterRefresh);
}

// --- sorting -----------------------------------------------------------------

void TDataSet::sortRecords(const std::vector<SortKey>& keys)
{
    checkActive();
    checkBrowseMode();
    for (const SortKey& key : keys) Fields(key.field);
    for (int attempt = 0;; ++attempt) {
        const int currentPosition = m_current >= 0 ? m_order[std::size_t(m_current)] : -1;
        // Start from fetch order; equal keys keep it (the sorts are stable),
        // whatever the previous sort was.
        std::vector<int32_t> order = fetchOrder();
        if (!orderBy(order, keys)) {
            // The rows were read again meanwhile: sort what is there now.
            if (attempt + 1 < kMaxRefetches) continue;
            throw EDatabaseError(QStringLiteral("The records keep changing in the database while they are read; try again"));
        }
        RowBufferPool<int32_t>::give(m_order);
        m_order = std::move(order);
        m_sortKeys = keys;
        if (currentPosition >= 0) {
            auto it = std::find(m_order.begin(), m_order.end(), currentPosition);
            m_current = int(it - m_order.begin());
        }
        break;
    }
    notify(Change::Data);
}

bool TDataSet::orderBy(std::vector<int32_t>& order, const std::vector<SortKey>& keys) const
{
    const uint64_t generation = m_generation;
    std::vector<SortColumn> columns;
    for (const SortKey& key : keys)
        columns.push_back(m_lazy ? SortColumn{&sortColumn(key.field), 0} : SortColumn{&m_store, key.field});
    if (m_generation != generation) return false;
    std::vector<TextRanks> ranks(keys.size());
    bool ranked = false;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (columns[k].store->kind(columns[k].column) != RecordStore::Kind::Text) continue;
        ranks[k] = rankTexts(columns[k], order);
        ranked |= !ranks[k].empty();
    }
    if (ranked) sortByKeys(order, keys, columns, ranks);
    else if (keys.size() == 1) sortByOneKey(order, keys[0], columns[0]);
    else if (!keys.empty()) sortByKeys(order, keys, columns);
    return true;
}

TDataSet::TextRanks TDataSet::rankTexts(const SortColumn& sortColumn, const std::vector<int32_t>& rows) const
{
    // The database ranks each distinct text once.
    const RecordStore& store = *sortColumn.store;
    const int column = sortColumn.column;
    std::unordered_map<std::u16string_view, uint32_t> distinct;
    std::vector<std::u16string_view> texts;
    for (int32_t row : rows) {
        if (store.isNull(row, column)) continue;
        if (distinct.try_emplace(store.text(row, column), uint32_t(texts.size())).second)
            texts.push_back(store.text(row, column));
    }
    if (texts.empty()) return {};
    const std::optional<std::vector<uint32_t>> textRanks = const_cast<TDataSet*>(this)->InternalRankTexts(texts);
    if (!textRanks) return {};
    if (textRanks->size() != texts.size())
        throw EDatabaseError(QStringLiteral("The database ranked %1 texts of %2 for sorting")
                                 .arg(textRanks->size()).arg(texts.size()));
    TextRanks ranks(std::size_t(store.rowCount()), -1);
    for (int32_t row : rows)
        if (!store.isNull(row, column)) ranks[std::size_t(row)] = (*textRanks)[distinct.at(store.text(row, column))];
    return ranks;
}

std::optional<std::vector<uint32_t>> TDataSet::InternalRankTexts(const std::vector<std::u16string_view>&)
{
    return std::nullopt;
}

const RecordStore& TDataSet::sortColumn(int field) const
{
    std::unique_ptr<RecordStore>& cached = m_sortColumns[std::size_t(field)];
    if (cached) return *cached;
    // Every position's value: copied for the rows read already, read from
    // the file (this column only) for the others, in batches.
    TDataSet& self = const_cast<TDataSet&>(*this);
    auto column = std::make_unique<RecordStore>();
    column->reset({m_store.kind(field)});
    const std::size_t positions = m_rowOf.size();
    column->reserve(int(positions));
    std::vector<jet::Value> cell(1);
    std::size_t next = 0;  // the next position to append
    auto copyUpTo = [&](std::size_t end) {
        for (; next < end; ++next) {
            const int32_t row = m_rowOf[next];
            cell[0] = row >= 0 ? m_store.value(row, field) : jet::Value{};
            column->appendRow(cell, 0);
        }
    };
    std::vector<uint32_t> tags;
    std::vector<std::size_t> unread;
    for (std::size_t begin = 0; begin < positions; begin += kColumnBatch) {
        const std::size_t end = std::min(positions, begin + kColumnBatch);
        tags.clear();
        unread.clear();
        for (std::size_t p = begin; p < end; ++p)
            if (m_rowOf[p] == kNotRead) {
                unread.push_back(p);
                tags.push_back(m_lazyTags[p]);
            }
        if (unread.empty()) continue;
        const bool current = self.InternalReadRows(tags, [&](std::size_t i, const jet::RowView& row) {
            copyUpTo(unread[i]);
            try {
                column->appendColumnOf(row, std::size_t(field), 0);
            } catch (const std::exception& e) {
                throw EDatabaseError(QStringLiteral("Record %1 could not be read: %2").arg(next + 1).arg(QString::fromStdString(e.what())));
            }
            ++next;
        });
        if (!current) {
            self.refetch();
            return sortColumn(field);
        }
    }
    copyUpTo(positions);
    column->shrinkToFit();
    cached = std::move(column);
    return *cached;
}

int TDataSet::compareCells(const SortColumn& sortColumn, int a, int b)
{
    const RecordStore& store = *sortColumn.store;
    const int column = sortColumn.column;
    bool aNull = store.isNull(a, column), bNull = store.isNull(b, column);
    if (aNull || bNull) return aNull == bNull ? 0 : (aNull ? -1 : 1);
    switch (store.kind(column)) {
    case RecordStore::Kind::Bool:
    case RecordStore::Kind::Int32:
    case RecordStore::Kind::Int64:
    case RecordStore::Kind::Currency: return threeWay(store.integer(a, column), store.integer(b, column));
    case RecordStore::Kind::Double:
    case RecordStore::Kind::DateTime: return threeWay(store.real(a, column), store.real(b, column));
    case RecordStore::Kind::Decimal: return compareDecimal(store.decimal(a, column), store.decimal(b, column));
    case RecordStore::Kind::Guid: return threeWay(store.guid(a, column).bytes, store.guid(b, column).bytes);
    case RecordStore::Kind::Text: return jet::TextCollation::compare(store.text(a, column), store.text(b, column));
    case RecordStore::Kind::Bytes: return compareBytes(store.bytes(a, column), store.bytes(b, column));
    }
    return 0;
}

void TDataSet::sortByKeys(std::vector<int32_t>& order, const std::vector<SortKey>& keys,
                          const std::vector<SortColumn>& columns, const std::vector<TextRanks>& ranks)
{
    // Text columns are keyed once, not at every comparison: by the
    // database's ranks where it gave them, else by the engine's keys.
    const auto rankedAt = [&](std::size_t k) { return k < ranks.size() && !ranks[k].empty(); };
    std::vector<TextKeys> textKeys(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (columns[k].store->kind(columns[k].column) == RecordStore::Kind::Text && !rankedAt(k))
            textKeys[k].build(*columns[k].store, columns[k].column, order);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const SortKey& key = keys[k];
            const int c = rankedAt(k)           ? threeWay(ranks[k][std::size_t(a)], ranks[k][std::size_t(b)])
                          : textKeys[k].built() ? textKeys[k].compare(a, b)
                                                : compareCells(columns[k], a, b);
            if (c != 0) return key.descending ? c > 0 : c < 0;
        }
        return false;
    });
}

void TDataSet::sortByOneKey(std::vector<int32_t>& order, const SortKey& key, const SortColumn& sortColumn)
{
    // Each row gets a 64-bit key that orders as the column's values do, so most
    // comparisons are one integer comparison.
    const RecordStore& store = *sortColumn.store;
    const int column = sortColumn.column;
    const RecordStore::Kind kind = store.kind(column);
    switch (kind) {
    case RecordStore::Kind::Text: sortTexts(order, key, sortColumn); return;
    case RecordStore::Kind::Bool:
    case RecordStore::Kind::Int32:
    case RecordStore::Kind::Int64:
    case RecordStore::Kind::Currency:
    case RecordStore::Kind::Double:
    case RecordStore::Kind::DateTime: break;
    default: sortByKeys(order, {key}, {sortColumn}); return;
    }

    struct Entry {
        uint64_t key;
        int32_t row;
        bool null;
    };
    std::vector<Entry> entries;
    entries.reserve(order.size());
    for (int32_t row : order) {
        Entry e{0, row, store.isNull(row, column)};
        if (!e.null) {
            if (kind == RecordStore::Kind::Double || kind == RecordStore::Kind::DateTime) {
                double v = store.real(row, column);
                uint64_t bits = 0;
                std::memcpy(&bits, &v, sizeof bits);
                e.key = (bits >> 63) ? ~bits : bits | (uint64_t(1) << 63);
            } else {
                e.key = uint64_t(store.integer(row, column)) ^ (uint64_t(1) << 63);
            }
        }
        entries.push_back(e);
    }
    const bool descending = key.descending;
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        int c;
        if (a.null || b.null) c = a.null == b.null ? 0 : (a.null ? -1 : 1);
        else c = a.key == b.key ? 0 : (a.key < b.key ? -1 : 1);
        return c != 0 && (descending ? c > 0 : c < 0);
    });
    for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].row;
}

void TDataSet::sortTexts(std::vector<int32_t>& order, const SortKey& key, const SortColumn& sortColumn)
{
    // Texts in the order of the database (jet::TextCollation), by the first
    // 12 bytes of their keys, which with the store row make a 16-byte
    // entry; only texts whose prefixes tie and whose keys go on are keyed
    // whole. Nulls come first (last when descending); equal texts keep their
    // fetch order.
    const RecordStore& store = *sortColumn.store;
    const int column = sortColumn.column;
    const bool descending = key.descending;
    constexpr std::size_t kPrefixBytes = 12;
    constexpr uint32_t kKeyGoesOn = 0x80000000u; // flag in Entry::row
    struct Entry {
        uint64_t high;
        uint32_t low;
        uint32_t row; // store row, and kKeyGoesOn
    };
    std::vector<int32_t> nulls;
    std::vector<Entry> entries;
    entries.reserve(order.size());
    for (int32_t row : order) {
        if (store.isNull(row, column)) {
            nulls.push_back(row);
            continue;
        }
        const jet::TextCollation::Prefix p = jet::TextCollation::prefix(store.text(row, column));
        entries.push_back({p.high, uint32_t(p.low >> 32), uint32_t(row) | (p.length > kPrefixBytes ? kKeyGoesOn : 0)});
    }
    const auto samePrefix = [](const Entry& a, const Entry& b) { return a.high == b.high && a.low == b.low; };
    std::stable_sort(entries.begin(), entries.end(), [descending](const Entry& a, const Entry& b) {
        if (a.high != b.high) return descending ? a.high > b.high : a.high < b.high;
        return descending ? a.low > b.low : a.low < b.low;
    });

    // Runs of equal prefixes (in fetch order so far) where a key goes on:
    // ordered by the whole keys.
    jet::Bytes arena;
    std::vector<std::size_t> ends;
    std::vector<uint32_t> ranks;
    std::vector<Entry> run;
    for (std::size_t begin = 0; begin < entries.size();) {
        std::size_t end = begin + 1;
        bool goesOn = entries[begin].row & kKeyGoesOn;
        while (end < entries.size() && samePrefix(entries[begin], entries[end]))
            goesOn |= (entries[end++].row & kKeyGoesOn) != 0;
        if (end - begin > 1 && goesOn) {
            arena.clear();
            ends.clear();
            for (std::size_t i = begin; i < end; ++i) {
                jet::TextCollation::appendKey(arena, store.text(int(entries[i].row & ~kKeyGoesOn), column));
                ends.push_back(arena.size());
            }
            const auto keyOf = [&](uint32_t i) {
                const std::size_t from = i == 0 ? 0 : ends[i - 1];
                return std::string_view(reinterpret_cast<const char*>(arena.data()) + from, ends[i] - from);
            };
            ranks.resize(end - begin);
            std::iota(ranks.begin(), ranks.end(), 0u);
            std::stable_sort(ranks.begin(), ranks.end(), [&](uint32_t a, uint32_t b) {
                return descending ? keyOf(b) < keyOf(a) : keyOf(a) < keyOf(b);
            });
            run.assign(entries.begin() + std::ptrdiff_t(begin), entries.begin() + std::ptrdiff_t(end));
            for (std::size_t i = 0; i < run.size(); ++i) entries[begin + i] = run[ranks[i]];
        }
        begin = end;
    }

    auto at = order.begin();
    if (!descending) at = std::copy(nulls.begin(), nulls.end(), at);
    for (const Entry& e : entries) *at++ = int32_t(e.row & ~kKeyGoesOn);
    if (descending) std::copy(nulls.begin(), nulls.end(), at);
}

// --- bookmarks ---------------------------------------------------------------

TBookmark TDataSet::GetBookmark() const
{
    if (!Active() || m_current < 0) return {};
    return TBookmark{m_order[std::size_t(m_current)], m_generation};  // the record's position
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) const
{
    const std::size_t positions = m_lazy ? m_rowOf.size() : std::size_t(m_store.rowCount());
    return Active() && !bookmark.isNull() && bookmark.generation == m_generation &&
           std::size_t(bookmark.record) < positions && !positionRemoved(bookmark.record);
}

void TDataSet::GotoBookmark(const TBookmark& bookmark)
{
    checkActive();
    if (!BookmarkValid(bookmark))
        throw EDatabaseError(QStringLiteral("Record not found: the bookmark is empty, belongs to an earlier "
                                            "opening of the dataset, or its record was deleted"));
    checkBrowseMode();
    auto it = std::find(m_order.begin(), m_order.end(), int32_t(bookmark.record));
    m_bof = m_eof = false;
    moveTo(int(it - m_order.begin()));
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const
{
    if (a.isNull() || b.isNull()) return a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1);
    if (a.record == b.record) return 0;
    auto posA = std::find(m_order.begin(), m_order.end(), int32_t(a.record));
    auto posB = std::find(m_order.begin(), m_order.end(), int32_t(b.record));
    return posA < posB ? -1 : 1;
}

// --- notifications -----------------------------------------------------------

void TDataSet::fire(const TDataSetNotifyEvent& event)
{
    if (event) event(this);
}

void TDataSet::DisableControls()
{
    if (m_disableCount++ == 0) {
        m_changedWhileDisabled = false;
        m_activeChangedWhileDisabled = false;
    }
}

void TDataSet::EnableControls()
{
    if (m_disableCount == 0) return;
    if (--m_disableCount > 0 || !m_changedWhileDisabled) return;
    m_changedWhileDisabled = false;
    for (TDataSource* source : std::vector<TDataSource*>(m_sources)) {
        if (!source->Enabled()) continue;
        if (m_activeChangedWhileDisabled) emit source->activeChanged(Active());
        else emit source->dataChanged();
    }
}

void TDataSet::notify(Change change, TField* field)
{
    if (m_disableCount > 0) {
        m_changedWhileDisabled = true;
        if (change == Change::Active) m_activeChangedWhileDisabled = true;
        return;
    }
    for (TDataSource* source : std::vector<TDataSource*>(m_sources)) {
        if (!source->Enabled()) continue;
        switch (change) {
        case Change::Active: emit source->activeChanged(Active()); break;
        case Change::Layout: emit source->layoutChanged(); break;
        case Change::Data: emit source->dataChanged(); break;
        case Change::Record: emit source->recordChanged(field); break;
        case Change::Scroll: emit source->currentMoved(); break;
        case Change::State: emit source->stateChanged(); break;
        }
    }
}

void TDataSet::attach(TDataSource* source)
{
    if (std::find(m_sources.begin(), m_sources.end(), source) == m_sources.end()) m_sources.push_back(source);
}

void TDataSet::detach(TDataSource* source)
{
    m_sources.erase(std::remove(m_sources.begin(), m_sources.end(), source), m_sources.end());
}
