#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/Database.h"
#include "sql/Ast.h"
#include "sql/StatementText.h"

namespace sql {

// Runs update, delete and insert, each in one write transaction of the
// engine: the rows to change are found by a scan inside the transaction
// (decoding only the columns the where clause reads), then changed; any
// error rolls the whole statement back.
class WriteExecutor {
public:
    WriteExecutor(jet::Database& db, const StatementText& text) : db_(db), text_(text) {}

    int64_t update(const ast::Update& statement);
    int64_t remove(const ast::Delete& statement);
    int64_t insert(const ast::Insert& statement);

    // Changes of the data layer to a row it read earlier, by its locator.
    void deleteRow(const std::string& table, jet::RowLocator row);
    void updateRow(const std::string& table, jet::RowLocator row,
                   const std::vector<std::pair<std::string, jet::Value>>& changes);

private:
    // Locators of the rows of `table` that `where` (may be null) selects.
    std::vector<jet::RowLocator> matchingRows(const ast::TableRef& table, const ast::Expr* where);
    jet::Table& tableNamed(const std::string& name, size_t offset);

    jet::Database& db_;
    const StatementText& text_;
};

} // namespace sql
