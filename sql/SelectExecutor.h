#pragma once
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/Database.h"
#include "sql/Ast.h"
#include "sql/Condition.h"
#include "sql/Scope.h"
#include "sql/Session.h"
#include "sql/StatementText.h"

namespace sql {

// Runs a select. Rows stream to the sink as the from table is scanned;
// with an order by, only the keys and row locators are collected and
// sorted, then each row is read again by its locator, unless the sink keeps
// the rows and takes their order afterwards (one pass). Joined tables are
// read into memory once and looked up by value. Sinks that read rows
// themselves get only the locators of the result rows, in order.
class SelectExecutor {
public:
    SelectExecutor(jet::Database& db, const StatementText& text) : text_(text), scope_(db, text) {}

    void run(const ast::Select& select, RowSink& sink);

private:
    struct OutputColumn {
        size_t source = 0;
        size_t column = 0;
    };
    struct JoinedTable {
        bool left = false;
        std::unique_ptr<Condition> on;
        std::vector<std::vector<jet::Value>> rows;
        std::vector<jet::Value> nullRow;
        // Equality join: the joined table's rows (in storage order) by the
        // key of their join column, looked up with the outer column's value.
        bool hashed = false;
        Scope::Column innerColumn;
        Scope::Column outerColumn;
        ValueClass keyClass = ValueClass::Number;
        std::unordered_map<std::string, std::vector<uint32_t>> byKey;
    };

    void bind(const ast::Select& select);
    std::vector<ResultColumn> resultColumns(const ast::Select& select) const;
    void loadJoinedTables();
    bool isWholeRowOfFromTable() const;
    void project(const SourceRows& rows, std::vector<jet::Value>& out) const;
    // Calls `emit` for every combination of joined rows that the from row
    // `rows[0]` yields (several per match, one of nulls for an unmatched left join).
    template <class Emit>
    void expand(size_t join, SourceRows& rows, Emit& emit);

    void runStreaming(RowSink& sink);
    void runSortedSingleTable(RowSink& sink);
    void runSortedJoined(RowSink& sink);
    // The locators of the result rows in order, for sinks that read rows later.
    void runLocators(RowSink& sink);
    // The rows in the order by's order read from an index on the order by
    // column, when one gives that order for every row; false otherwise.
    bool locatorsFromIndex(std::vector<uint32_t>& rows);

    const StatementText& text_;
    Scope scope_;
    std::vector<OutputColumn> outputs_;
    std::vector<JoinedTable> joins_; // joins_[k] is source k + 1
    std::unique_ptr<Condition> condition_;
    std::vector<Scope::Column> orderColumns_;
    std::vector<bool> orderDescending_;
    std::vector<std::vector<bool>> wanted_; // per source: the columns to decode
};

} // namespace sql
