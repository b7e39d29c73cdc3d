#pragma once

#include "ado/TDataSet.h"
#include "ado/TParameters.h"

#include <QString>
#include <cstdint>

class TADOConnection;

enum TCursorLocation { clUseServer, clUseClient };
enum TCursorType { ctUnspecified, ctOpenForwardOnly, ctKeyset, ctDynamic, ctStatic };
enum TADOLockType { ltUnspecified, ltReadOnly, ltPessimistic, ltOptimistic, ltBatchOptimistic };

// A dataset whose rows come from a select run through a TADOConnection. The
// rows are always held client-side, whatever CursorLocation and CursorType say
// (they are kept as plain settings); LockType ltReadOnly refuses Edit and Delete.
//
// Posting writes the changed fields to the row of the statement's `from`
// table the record came from; Delete removes that row. Both need the changed
// fields to belong to that table (not to a joined one).
class TCustomADODataSet : public TDataSet {
public:
    TCustomADODataSet();
    ~TCustomADODataSet() override;

    TADOConnection* Connection() const { return m_connection; }
    void setConnection(TADOConnection* connection);  // closes the dataset first

    TCursorLocation CursorLocation() const { return m_cursorLocation; }
    void setCursorLocation(TCursorLocation location) { m_cursorLocation = location; }
    TCursorType CursorType() const { return m_cursorType; }
    void setCursorType(TCursorType type) { m_cursorType = type; }
    TADOLockType LockType() const { return m_lockType; }
    void setLockType(TADOLockType type) { m_lockType = type; }

    // Sort order of the rows held: comma-separated field names, each optionally
    // followed by ASC or DESC, e.g. "id ASC " or "username DESC, id". Setting it
    // re-sorts at once (posting a pending edit first); the current record and
    // bookmarks stay valid. Empty text restores the order the statement gave.
    // Throws EDatabaseError for an unknown field name or a malformed text (the
    // order is then unchanged). Cleared when the dataset closes.
    const QString& Sort() const { return m_sort; }
    void setSort(const QString& sortText);

    // Re-runs the statement, keeping the current position where possible.
    void Requery();

    // The parameters of the statement (its ? and :name marks), made anew
    // from the statement whenever it has changed; their values go with
    // every Open and ExecSQL.
    TParameters& Parameters();

protected:
    // The statement that Open runs.
    virtual QString statementText() const = 0;
    // Runs a statement that returns no rows, with the Parameters' values;
    // returns the rows affected.
    int64_t executeStatement(const QString& statement);

    void InternalOpen() override;
    void InternalClose() override;
    void InternalPost(uint64_t recordTag, const std::vector<std::pair<int, jet::Value>>& changes) override;
    void InternalDelete(uint64_t recordTag) override;
    bool InternalCanModify() const override;
    bool InternalReadRows(const std::vector<uint32_t>& tags, const RowVisitor& visit) override;
    std::optional<std::vector<uint32_t>> InternalRankTexts(const std::vector<std::u16string_view>& texts) override;

private:
    friend class DataSetRowTarget;
    TADOConnection& connection() const;  // throws when none is set

    TADOConnection* m_connection = nullptr;
    TCursorLocation m_cursorLocation = clUseClient;
    TCursorType m_cursorType = ctKeyset;
    TADOLockType m_lockType = ltOptimistic;
    QString m_sort;
    TParameters m_parameters;
    QString m_parametersOf;   // the statement m_parameters were made from
    QString m_fromTable;      // the statement's from table, whose rows the records stand for
    bool m_singleTable = false;
    uint64_t m_changeCount = 0; // the file's change count the records were read at
};
