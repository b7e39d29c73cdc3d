#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/Database.h"
#include "sql/Ast.h"
#include "sql/Scope.h"
#include "sql/StatementText.h"

namespace sql {

// Runs update, delete and insert, each in one write transaction of the
// engine: the rows to change are found inside the transaction, then
// changed; any error rolls the whole statement back.
//
// Finding the rows: when the where clause requires "column = literal" (alone
// or and-ed with more conditions) and the column leads an index, the rows
// holding that key are looked up in the index and the whole where clause is
// evaluated on them; otherwise the table is scanned, decoding only the
// columns the where clause reads. The lookup is used only for column types
// whose index key is equal exactly when "=" holds: Byte, Integer, Long,
// Text (up to the 255 characters an index key holds) and dates from
// 1899-12-31 on. Other types (floating point, currency, decimals, Yes/No,
// memo, GUID, dates before 1899-12-31) are scanned.
class WriteExecutor {
public:
    WriteExecutor(jet::Database& db, const StatementText& text) : db_(db), text_(text) {}

    int64_t update(const ast::Update& statement);
    int64_t remove(const ast::Delete& statement);
    int64_t insert(const ast::Insert& statement);

    // Whether where clauses may look rows up in an index (on by default;
    // tests turn it off to compare with the scan).
    void setIndexLookups(bool on) { indexLookups_ = on; }
    // Rows the last update or delete read to evaluate its where clause:
    // the table's rows when it scanned, the index's candidates when it looked up.
    int64_t rowsExamined() const { return rowsExamined_; }

    // Changes of the data layer to a row it read earlier, by its locator.
    void deleteRow(const std::string& table, jet::RowLocator row);
    void updateRow(const std::string& table, jet::RowLocator row,
                   const std::vector<std::pair<std::string, jet::Value>>& changes);

private:
    // Locators of the rows of `table` that `where` (may be null) selects.
    std::vector<jet::RowLocator> matchingRows(const ast::TableRef& table, const ast::Expr* where);
    // Candidate rows from an index for a "column = literal" the where clause
    // requires, or nothing when it has none that an index can answer.
    std::optional<std::vector<jet::RowLocator>> indexCandidates(jet::Table& table, const Scope& scope,
                                                                const ast::Expr& where);
    jet::Table& tableNamed(const std::string& name, size_t offset);

    jet::Database& db_;
    const StatementText& text_;
    bool indexLookups_ = true;
    int64_t rowsExamined_ = 0;
};

} // namespace sql
