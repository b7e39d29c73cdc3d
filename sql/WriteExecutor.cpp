#include "sql/WriteExecutor.h"

#include "jet/TableDef.h"
#include "sql/Condition.h"
#include "sql/Scope.h"
#include "sql/ValueConversion.h"

namespace sql {

namespace {
const char* const kRowGone =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
}

jet::Table& WriteExecutor::tableNamed(const std::string& name, size_t offset)
{
    if (!db_.hasTable(name))
        throw text_.error("Cannot find the output table '" + StatementText::name(name) +
                              "'. Make sure it exists and that its name is spelled correctly.",
                          offset);
    return db_.table(name);
}

std::vector<jet::RowLocator> WriteExecutor::matchingRows(const ast::TableRef& table, const ast::Expr* where)
{
    Scope scope(db_, text_);
    scope.add(table);
    jet::Table& t = *scope.sources()[0].table;
    std::unique_ptr<Condition> condition;
    std::vector<std::vector<bool>> wanted(1, std::vector<bool>(t.def().columns.size(), false));
    if (where) {
        condition = Condition::bind(*where, scope, text_, "Data type mismatch in criteria expression");
        condition->markColumns(wanted);
    }
    std::vector<jet::RowLocator> found;
    SourceRows rows(1, nullptr);
    t.scan(
        [&](jet::RowLocator at, std::vector<jet::Value>& values) {
            rows[0] = &values;
            if (!condition || condition->holds(rows)) found.push_back(at);
            return true;
        },
        &wanted[0]);
    return found;
}

int64_t WriteExecutor::update(const ast::Update& statement)
{
    // Bind everything before the transaction, so that a bad statement never
    // takes the file's write lock.
    Scope scope(db_, text_);
    scope.add(statement.table);
    jet::Table* table = scope.sources()[0].table;
    std::vector<std::pair<size_t, jet::Value>> changes;
    for (const ast::Assignment& a : statement.assignments) {
        Scope::Column c = scope.resolve(a.column);
        if (c.def->isAutoNumber())
            throw text_.error("Cannot update '" + c.def->utf8Name + "'; field not updateable.", a.column.offset);
        for (const auto& earlier : changes)
            if (earlier.first == c.index)
                throw text_.error("Duplicate output destination '" + c.def->utf8Name + "'.", a.column.offset);
        ValueConversion::Result v = ValueConversion::toColumn(a.value.value, *c.def, table->name());
        if (!v.error.empty()) throw text_.error(v.error, a.value.offset);
        changes.emplace_back(c.index, std::move(v.value));
    }
    if (statement.where)
        Condition::bind(*statement.where, scope, text_, "Data type mismatch in criteria expression");

    jet::WriteTransaction tx(db_);
    std::vector<jet::RowLocator> rows = matchingRows(statement.table, statement.where.get());
    jet::Table& target = db_.table(statement.table.name);
    for (jet::RowLocator at : rows) target.updateRow(at, changes);
    tx.commit();
    return int64_t(rows.size());
}

int64_t WriteExecutor::remove(const ast::Delete& statement)
{
    {
        Scope scope(db_, text_);
        scope.add(statement.table);
        if (statement.where)
            Condition::bind(*statement.where, scope, text_, "Data type mismatch in criteria expression");
    }
    jet::WriteTransaction tx(db_);
    std::vector<jet::RowLocator> rows = matchingRows(statement.table, statement.where.get());
    jet::Table& target = db_.table(statement.table.name);
    for (jet::RowLocator at : rows) target.deleteRow(at);
    tx.commit();
    return int64_t(rows.size());
}

int64_t WriteExecutor::insert(const ast::Insert& statement)
{
    jet::Table& table = tableNamed(statement.table.name, statement.table.offset);
    const auto& columns = table.def().columns;
    std::vector<size_t> targets;
    if (statement.columns.empty()) {
        for (size_t i = 0; i < columns.size(); ++i) targets.push_back(i);
    } else {
        for (const ast::ColumnRef& ref : statement.columns) {
            if (!ref.qualifier.empty() && !jet::equalsIgnoreCase(ref.qualifier, table.name()))
                throw text_.error("Unknown table '" + ref.qualifier + "' in the INSERT INTO column list.", ref.offset);
            const jet::ColumnDef* def = table.def().findColumn(ref.name);
            if (!def)
                throw text_.error("The INSERT INTO statement contains the following unknown field name: '" + StatementText::name(ref.name) +
                                      "'. Make sure you have typed the name correctly, and try the operation again.",
                                  ref.offset);
            size_t index = size_t(def - columns.data());
            for (size_t earlier : targets)
                if (earlier == index)
                    throw text_.error("Duplicate output destination '" + def->utf8Name + "'.", ref.offset);
            targets.push_back(index);
        }
    }
    if (targets.size() != statement.values.size())
        throw text_.error("Number of query values and destination fields are not the same.", statement.valuesOffset);

    // Columns not named are left to the table: autonumber, default or null.
    std::vector<std::optional<jet::Value>> row(columns.size());
    for (size_t k = 0; k < targets.size(); ++k) {
        const jet::ColumnDef& def = columns[targets[k]];
        const ast::Literal& literal = statement.values[k];
        if (jet::isNull(literal.value) && def.isAutoNumber()) continue;
        ValueConversion::Result v = ValueConversion::toColumn(literal.value, def, table.name());
        if (!v.error.empty()) throw text_.error(v.error, literal.offset);
        row[targets[k]] = std::move(v.value);
    }
    jet::WriteTransaction tx(db_);
    db_.table(statement.table.name).insertRow(row);
    tx.commit();
    return 1;
}

void WriteExecutor::deleteRow(const std::string& table, jet::RowLocator row)
{
    if (!db_.hasTable(table)) throw SqlError("Cannot find the table '" + table + "' to delete a row from.");
    jet::WriteTransaction tx(db_);
    jet::Table& t = db_.table(table);
    if (!t.read(row)) throw SqlError(std::string(kRowGone) + " (table '" + t.name() + "')");
    t.deleteRow(row);
    tx.commit();
}

void WriteExecutor::updateRow(const std::string& table, jet::RowLocator row,
                              const std::vector<std::pair<std::string, jet::Value>>& changes)
{
    if (!db_.hasTable(table)) throw SqlError("Cannot find the table '" + table + "' to update a row of.");
    jet::Table* t = &db_.table(table);
    std::vector<std::pair<size_t, jet::Value>> converted;
    for (const auto& [name, value] : changes) {
        const jet::ColumnDef* def = t->def().findColumn(name);
        if (!def) throw SqlError("Unknown field name '" + StatementText::name(name) + "' in table '" + t->name() + "'.");
        if (def->isAutoNumber()) throw SqlError("Cannot update '" + def->utf8Name + "'; field not updateable.");
        ValueConversion::Result v = ValueConversion::toColumn(value, *def, t->name());
        if (!v.error.empty()) throw SqlError(v.error);
        converted.emplace_back(size_t(def - t->def().columns.data()), std::move(v.value));
    }
    jet::WriteTransaction tx(db_);
    t = &db_.table(table);
    if (!t->read(row)) throw SqlError(std::string(kRowGone) + " (table '" + t->name() + "')");
    if (!converted.empty()) t->updateRow(row, converted);
    tx.commit();
}

} // namespace sql
