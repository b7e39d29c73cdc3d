#pragma once

#include "ado/EDatabaseError.h"
#include "ado/RecordStore.h"
#include "ado/TField.h"
#include "ado/TFieldDef.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class TDataSource;

enum TDataSetState { dsInactive, dsBrowse, dsEdit };

// What a failed operation does after its error handler ran: fail with the
// error, end quietly (the handler has dealt with it), or try again.
enum TDataAction { daFail, daAbort, daRetry };

// A position in a dataset that survives re-sorting (and the deletion of other
// records) until the dataset closes. A default-constructed bookmark is null.
struct TBookmark {
    int record = -1;            // slot in the record store
    uint64_t generation = 0;    // which opening of the dataset it belongs to
    bool isNull() const { return record < 0; }
    bool operator==(const TBookmark&) const = default;
};

// A dataset with a client-side cursor: opening fetches the rows, or only
// where they are (see setLazyRecords) and each row is read into memory
// (column-wise, see RecordStore) when the dataset first reaches it;
// navigation, field access, sorting and bookmarks then work on the rows
// held. Subclasses fetch the rows (InternalOpen, InternalReadRows) and
// write changes back (InternalPost, InternalDelete).
//
// Records are numbered in fetch order ("positions"). They are kept in an
// order (fetch order, or the order set by sortRecords); "index" means a
// 0-based place in that order, RecNo() is index + 1 of the current record.
//
// Data sources attached to the dataset are told about changes (see
// TDataSource); DisableControls/EnableControls hold those notifications back
// while a caller walks the rows.
class TDataSet {
public:
    using TDataSetNotifyEvent = std::function<void(TDataSet*)>;

    TDataSet();
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    // --- opening and closing -------------------------------------------------
    void Open();
    void Close();
    bool Active() const { return m_state != dsInactive; }
    void setActive(bool active) { active ? Open() : Close(); }
    TDataSetState State() const { return m_state; }

    // --- fields --------------------------------------------------------------
    int FieldCount() const { return int(m_fields.size()); }
    TField* Fields(int index) const;          // throws for an index out of range
    TField* FindField(const QString& name) const;   // letter case ignored; nullptr when absent
    TField* FieldByName(const QString& name) const; // throws when absent
    QStringList FieldNames() const;

    // --- navigation ----------------------------------------------------------
    int RecordCount() const;                  // 0 when inactive
    // Reads every record not read yet in one read of the database, so that
    // the records hold one state of it; when the database changed since they
    // were listed, they are listed again first (AfterRefresh fires).
    void FetchAll();
    // Reads the records again from the database, keeping the sort order and
    // the current record when it is still there (otherwise the one now at
    // its place); AfterRefresh fires. A pending edit is posted first.
    void Refresh();
    // Which listing of the database the records are: it changes whenever the
    // dataset opens or lists the records again. A walk by index that sees it
    // change has read records of two listings.
    uint64_t Generation() const { return m_generation; }
    bool IsEmpty() const { return RecordCount() == 0; }
    int RecNo() const;                        // 1-based; 0 when empty or inactive
    void setRecNo(int recNo);                 // clamped to the records held
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);                 // returns how far it moved

    // --- editing -------------------------------------------------------------
    // Edit copies the current record into an edit buffer (dsEdit); Post writes
    // the fields that were set back to the database and stores them, Cancel
    // drops them. Moving to another record or sorting posts a pending edit first.
    void Edit();
    void Post();
    void Cancel();
    bool Modified() const { return m_modified; }
    // Deletes the current record from the database and from the rows held; the
    // record after it (or the new last one) becomes current.
    void Delete();
    bool CanModify() const;

    // --- bookmarks -----------------------------------------------------------
    TBookmark GetBookmark() const;            // null when there is no current record
    void GotoBookmark(const TBookmark& bookmark); // throws when the record is gone
    void FreeBookmark(TBookmark& bookmark) { bookmark = TBookmark{}; }
    bool BookmarkValid(const TBookmark& bookmark) const;
    int CompareBookmarks(const TBookmark& a, const TBookmark& b) const; // by position in current order

    // --- notifications -------------------------------------------------------
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete;
    // After the dataset read its records again because the database changed
    // under it (their number may differ).
    TDataSetNotifyEvent AfterRefresh;
    // A failed Delete: the handler sees the error and says what follows
    // (daFail by default: the error goes on to the caller; daAbort: Delete
    // ends without deleting and without an error; daRetry: the delete is
    // tried again on the record current then). The handler may read the
    // records again (Refresh) before it answers.
    using TDataSetErrorEvent = std::function<void(TDataSet*, const EDatabaseError& error, TDataAction& action)>;
    TDataSetErrorEvent OnDeleteError;

    // --- random access for views (no effect on the current record) ----------
    // index: position in the current order, 0 .. RecordCount()-1. The current
    // record in dsEdit answers from its edit buffer. Throws for a bad index.
    jet::Value peekValue(int index, int field) const;
    bool peekIsNull(int index, int field) const;
    int currentIndex() const { return m_current; } // RecNo()-1, -1 without records

    // Bytes held for the rows (for measurements).
    std::size_t memoryUsage() const;

protected:
    // Fills the dataset: call setFieldDefs once, then appendRecord for each row.
    virtual void InternalOpen() = 0;
    virtual void InternalClose() {}
    // Writes the changed fields (field index, new value) of a record to the database.
    virtual void InternalPost(uint64_t recordTag, const std::vector<std::pair<int, jet::Value>>& changes) = 0;
    virtual void InternalDelete(uint64_t recordTag) = 0;
    // Whether records of this dataset may be edited or deleted at all.
    virtual bool InternalCanModify() const { return true; }

    void setFieldDefs(const std::vector<TFieldDef>& defs);
    void appendRecord(const std::vector<jet::Value>& values, uint64_t tag);
    void appendRecord(const jet::RowView& row, uint64_t tag);
    void reserveRecords(int count) { m_store.reserve(count); }
    // Instead of appendRecord: the records by their tags in fetch order,
    // each read (InternalReadRows) when the dataset first needs it.
    void setLazyRecords(std::vector<uint32_t> tags);
    // Reads the rows of the given tags: visit(i, row) for tags[i]. Returns
    // false, visiting nothing, when the rows changed since the dataset was
    // opened; the dataset then opens again (keeping its sort and current
    // record) and reads from the new state.
    using RowVisitor = std::function<void(std::size_t, const jet::RowView&)>;
    virtual bool InternalReadRows(const std::vector<uint32_t>& tags, const RowVisitor& visit);
    // The database's order of texts for sorting (see Provider::rankTexts);
    // nothing: the Jet engine's order.
    virtual std::optional<std::vector<uint32_t>> InternalRankTexts(const std::vector<std::u16string_view>& texts);
    // The fetch order when the records arrived in another order: positions
    // in arrival order (each once). Without it the fetch order is the
    // arrival order.
    void setFetchOrder(const std::vector<uint32_t>& positions);

    // Sort keys: field index and direction. Numbers compare numerically, dates
    // by time, text in the database's order (as its `order by` sorts: a
    // server's collation through InternalRankTexts, else jet::TextCollation), nulls before all values (after them when descending); equal keys
    // keep their fetch order. An empty list restores the fetch order. The
    // current record stays current.
    struct SortKey {
        int field = 0;
        bool descending = false;
    };
    void sortRecords(const std::vector<SortKey>& keys);

    void checkActive() const;
    void checkBrowseMode();                   // posts a pending edit, or cancels an unmodified one

    // Notifications to the attached data sources (held back while controls are disabled).
    enum class Change { Active, Layout, Data, Record, Scroll, State };
    void notify(Change change, TField* field = nullptr);

private:
    // Drops the edit buffer and returns to browse state (after Post or Cancel).
    void leaveEditState();

    friend class TField;
    friend class TDataSource;

    int storeRow(int index) const;            // index in current order -> store row, checked, read when needed
    // The store row of a position, reading it (and the next ones in the
    // current order, from `index`) when not read yet; -1 when the rows had
    // to be fetched again and the position is gone.
    int rowOfPosition(int32_t position, int index) const;
    void readPositions(int index) const;
    uint64_t tagOf(int32_t position) const;
    bool positionRemoved(int32_t position) const;
    // The column of a field for every position, for sorting.
    const RecordStore& sortColumn(int field) const;
    // Opens again after the rows changed under a lazy dataset.
    void refetch();
    // Whether InternalOpen runs to read the rows again after they changed
    // (the fields stay; the sort is put back afterwards).
protected:
    bool refetching() const { return m_refetching; }
private:
    jet::Value currentValue(int field) const;
    void setEditValue(int field, const jet::Value& value);
    void moveTo(int index, bool fireEvents = true);
    void fire(const TDataSetNotifyEvent& event);
    void attach(TDataSource* source);
    void detach(TDataSource* source);
    void resetRows();
    // A field's values as a sort sees them: a store and its column, whose
    // rows are the positions.
    struct SortColumn {
        const RecordStore* store;
        int column;
    };
    static int compareCells(const SortColumn& column, int rowA, int rowB);
    std::vector<int32_t> fetchOrder() const;  // live positions in fetch order
    template <typename Row>
    int appendToStore(const Row& row, uint64_t tag);
    // Sorts positions by the keys; false (order untouched) when reading a
    // sort column found the rows changed and the dataset was opened again.
    bool orderBy(std::vector<int32_t>& order, const std::vector<SortKey>& keys) const;
    // Ranks of a text column's values by store row in the database's order
    // (-1 for null); empty when the database leaves texts to the engine's order.
    using TextRanks = std::vector<int64_t>;
    TextRanks rankTexts(const SortColumn& column, const std::vector<int32_t>& rows) const;
    static void sortByKeys(std::vector<int32_t>& order, const std::vector<SortKey>& keys,
                           const std::vector<SortColumn>& columns, const std::vector<TextRanks>& ranks = {});
    static void sortByOneKey(std::vector<int32_t>& order, const SortKey& key, const SortColumn& column);
    static void sortTexts(std::vector<int32_t>& order, const SortKey& key, const SortColumn& column);

    // Without lazy records, positions are store rows.
    mutable RecordStore m_store;
    std::vector<int32_t> m_order;             // positions in current order
    std::vector<int32_t> m_fetchOrder;        // store rows in fetch order; empty: store order
    bool m_lazy = false;
    std::vector<uint32_t> m_lazyTags;         // per position
    mutable std::vector<int32_t> m_rowOf;     // per position: store row, or kNotRead / kRemoved
    std::size_t m_removedPositions = 0;
    mutable std::size_t m_readBatch = 0;      // rows the last on-demand read asked for
    mutable int m_readBatchEnd = -1;          // the index after it
    mutable std::vector<std::unique_ptr<RecordStore>> m_sortColumns; // per field, built by sortColumn
    std::vector<SortKey> m_sortKeys;          // the order set last
    bool m_refetching = false;
    int m_refetchDepth = 0;
    std::vector<std::unique_ptr<TField>> m_fields;
    TDataSetState m_state = dsInactive;
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    std::vector<jet::Value> m_editBuffer;
    std::vector<bool> m_editChanged;
    bool m_modified = false;
    uint64_t m_generation = 0;
    int m_disableCount = 0;
    bool m_changedWhileDisabled = false;
    bool m_activeChangedWhileDisabled = false;
    std::vector<TDataSource*> m_sources;
};
