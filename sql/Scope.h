#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/Database.h"
#include "sql/Ast.h"
#include "sql/StatementText.h"

namespace sql {

// The tables a statement names (its from table, then each joined table)
// and the resolution of column names against them, without regard to case.
class Scope {
public:
    struct Source {
        jet::Table* table = nullptr;
        std::string alias; // empty when the table has none
        // What qualifies its columns: the alias if it has one, else the table name.
        const std::string& qualifier() const { return alias.empty() ? table->name() : alias; }
    };
    struct Column {
        size_t source = 0;
        size_t index = 0; // in the table's def().columns
        const jet::ColumnDef* def = nullptr;
    };

    Scope(jet::Database& db, const StatementText& text) : db_(db), text_(text) {}

    // Adds a table; throws SqlError when it does not exist or its alias is taken.
    size_t add(const ast::TableRef& ref);
    const std::vector<Source>& sources() const { return sources_; }

    // Only the first `count` sources can be named (a join's condition sees
    // the tables joined so far).
    void limitVisible(size_t count) { visible_ = count; }
    void unlimitVisible() { visible_ = SIZE_MAX; }

    // The source a qualifier names; throws SqlError when none does.
    size_t sourceNamed(const std::string& qualifier, size_t offset) const;
    // Resolves a column; throws SqlError for an unknown or ambiguous name.
    Column resolve(const ast::ColumnRef& ref) const;

private:
    size_t visibleCount() const { return std::min(visible_, sources_.size()); }

    jet::Database& db_;
    const StatementText& text_;
    std::vector<Source> sources_;
    size_t visible_ = SIZE_MAX;
};

} // namespace sql
