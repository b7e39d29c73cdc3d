#pragma once
#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/JetError.h"
#include "jet/Table.h"
#include "jet/Value.h"
#include "sql/Parameters.h"

namespace jet {
class Database;
}

namespace sql {

// A statement the engine refuses: syntax error, unknown table or column,
// mismatched types. The message says what and where, as Jet's own would.
class SqlError : public jet::JetError {
public:
    using jet::JetError::JetError;
};

// One column of a query result, described as the data layer needs it.
struct ResultColumn {
    std::string name;              // as the select list yields it
    jet::ColumnType type = jet::ColumnType::Text;
    int length = 0;                // Text: characters; Binary: bytes; others: stored size
    int precision = 0;             // Numeric
    int scale = 0;                 // Numeric
    bool autoIncrement = false;
    bool required = false;         // NOT NULL
    std::string baseTable;         // table the column comes from
    std::string baseColumn;        // its name there
};

// Receives a query's result: the columns once, then the rows in result order.
// `origin` is the row of the statement's first table (its `from` table) the
// result row came from, so the data layer can delete or change it later.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void columns(const std::vector<ResultColumn>& columns) = 0;
    virtual void row(const std::vector<jet::Value>& values, jet::RowLocator origin) = 0;

    // Sinks that keep every row (datasets) may take two cheaper paths.
    //
    // Row views: when the result is the from table's whole row in its column
    // order, each row is offered as it is stored, and the sink decodes what it
    // keeps straight into its own storage. The default decodes it and calls row().
    virtual bool takesRowViews() const { return false; }
    virtual void rowView(const jet::RowView& row, jet::RowLocator origin);
    // Order afterwards: with an order by, the rows arrive in table order and
    // then order() gives the result order as positions in arrival order,
    // instead of every row being read a second time in result order.
    virtual bool takesOrder() const { return false; }
    virtual void order(std::vector<uint32_t> positions) { (void)positions; }
    // Locators only: when the result is the from table's whole row, a sink
    // that reads rows itself later (Session::readRows) gets just the rows'
    // locators (RowLocator::packed) in result order, instead of any row.
    // An order by the only column of an index reads them from the index.
    virtual bool takesLocators() const { return false; }
    virtual void locators(std::vector<uint32_t> rows) { (void)rows; }
    // Where the locators go: an empty vector whose capacity the sink may
    // have kept from an earlier result.
    virtual std::vector<uint32_t> locatorBuffer() { return {}; }
    // Before the columns: the statement's from table (as the file names it)
    // and whether it is the only table (no join), the table whose rows the
    // locators name.
    virtual void source(const std::string& table, bool only) { (void)table, (void)only; }

private:
    std::vector<jet::Value> decoded_; // storage the default rowView reuses
};

// Runs statements of the supported subset against one open database.
class Session {
public:
    explicit Session(jet::Database& db);
    ~Session();

    // Runs a select and streams its result into `sink`. Throws SqlError or
    // jet::JetError.
    void query(std::string_view statement, RowSink& sink);
    // The same with values for the statement's parameter marks (? and :name).
    void query(std::string_view statement, const ParameterValues& parameters, RowSink& sink);
    // Runs update, delete or insert in one write transaction; returns the
    // number of rows affected. Throws SqlError or jet::JetError; on error
    // nothing is changed.
    int64_t execute(std::string_view statement, const ParameterValues& parameters = {});
    // Whether a statement is a select (to be run by query) rather than a
    // change (to be run by execute); judged by its first word only.
    static bool isQuery(std::string_view statement);

    // Write-backs of the data layer on rows a query returned (one write
    // transaction each). `table` is ResultColumn::baseTable.
    void deleteRow(const std::string& table, jet::RowLocator row);
    void updateRow(const std::string& table, jet::RowLocator row,
                   const std::vector<std::pair<std::string, jet::Value>>& changes);

    // Reads rows of a table by the locators a query gave, in one read
    // scope: visit(i, row) for each, the view valid during the call.
    // Returns false, visiting nothing, when the file changed since the
    // pager's change count was `changeCount` (see jet::Pager::changeCount)
    // or a row is no longer there: the caller's rows are out of date.
    using RowVisitor = std::function<void(size_t, const jet::RowView&)>;
    bool readRows(const std::string& table, uint64_t changeCount, const uint32_t* locators, size_t count,
                  const RowVisitor& visit);
    // The pager's change count now (after a query, the state it read).
    uint64_t changeCount() const;
    // Whether another process has written the file since this session last
    // read or wrote it: a look at the file's size and time, no read.
    bool changedOnDisk() const;

    // A transaction over several statements: begin takes the file's writer
    // lock (waiting for another writer up to the engine's lock timeout) and
    // holds it until commit or rollback. The statements in between see each
    // other's changes, other processes none of them before the commit, which
    // is atomic. A statement that fails in between dooms the transaction:
    // commit then rolls it back and throws.
    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction();
    bool inTransaction() const;

private:
    jet::Database& db_;
};

} // namespace sql
