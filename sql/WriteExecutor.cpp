#include "sql/WriteExecutor.h"

#include "base/NameCase.h"
#include "jet/GeneralSortOrder.h"
#include "jet/IndexKey.h"
#include "jet/IndexTree.h"
#include "jet/TableDef.h"
#include "sql/Condition.h"
#include "sql/Scope.h"
#include "sql/ValueConversion.h"
#include "sql/ValueOrder.h"

#include <algorithm>
#include <climits>

namespace sql {

namespace {
const char* const kRowGone =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";

// The conditions of a where clause that must all hold.
void conjuncts(const ast::Expr& e, std::vector<const ast::Expr*>& out)
{
    if (e.kind == ast::Expr::Kind::And) {
        conjuncts(*e.first, out);
        conjuncts(*e.second, out);
    } else {
        out.push_back(&e);
    }
}

// What to look up in an index for "column = literal".
struct KeyValue {
    enum { Lookup, NoRowMatches, Unsupported } kind = Unsupported;
    jet::Value value; // Lookup: a value of the column's type
};

// The value whose index key every stored value that "=" finds equal to
// `literal` has, for the types where that is certain.
KeyValue keyValueFor(const jet::Value& literal, const jet::ColumnDef& column)
{
    KeyValue out;
    switch (column.type) {
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long: {
        if (ValueOrder::classOf(literal) != ValueClass::Number) return out;
        // The column holds whole numbers in its range: a fraction or a
        // number beyond the range equals none of them.
        ValueOrder::Number n = ValueOrder::number(literal);
        int64_t lo = column.type == jet::ColumnType::Byte ? 0 : column.type == jet::ColumnType::Integer ? INT16_MIN : INT32_MIN;
        int64_t hi = column.type == jet::ColumnType::Byte ? 255 : column.type == jet::ColumnType::Integer ? INT16_MAX : INT32_MAX;
        if (!n.exact || n.integer < lo || n.integer > hi) {
            out.kind = KeyValue::NoRowMatches;
            return out;
        }
        out.kind = KeyValue::Lookup;
        out.value = n.integer;
        return out;
    }
    case jet::ColumnType::DateTime: {
        // From day 1 on the stored number is the time itself; before it two
        // stored numbers can mean one time (the time of day counts forwards
        // from a negative day), so those are scanned.
        const auto* d = std::get_if<jet::DateTime>(&literal);
        if (!d || !(d->days >= 1.0)) return out;
        out.kind = KeyValue::Lookup;
        out.value = *d;
        return out;
    }
    case jet::ColumnType::Text: {
        // Texts are equal when their General sort keys are; an index key
        // holds the key of the first 255 characters, and the column holds no
        // more. A longer literal (trailing spaces aside) is scanned.
        const auto* s = std::get_if<std::u16string>(&literal);
        if (!s) return out;
        size_t length = s->size();
        while (length > 0 && (*s)[length - 1] == u' ') --length;
        if (length > jet::kMaxIndexedTextUnits) return out;
        out.kind = KeyValue::Lookup;
        out.value = *s;
        return out;
    }
    default: return out;
    }
}

} // namespace

std::optional<std::vector<jet::RowLocator>> WriteExecutor::indexCandidates(jet::Table& table, const Scope& scope,
                                                                           const ast::Expr& where)
{
    std::vector<const ast::Expr*> required;
    conjuncts(where, required);
    const jet::TableDef& def = table.def();
    // The first "column = literal" an index leads; a unique index first.
    const jet::RealIndex* best = nullptr;
    jet::Bytes bestPrefix;
    for (const ast::Expr* e : required) {
        if (e->kind != ast::Expr::Kind::Compare || e->op != ast::CompareOp::Equal) continue;
        const ast::ColumnRef* ref = std::get_if<ast::ColumnRef>(&e->left);
        const ast::Literal* literal = std::get_if<ast::Literal>(&e->right);
        if (!ref) {
            ref = std::get_if<ast::ColumnRef>(&e->right);
            literal = std::get_if<ast::Literal>(&e->left);
        }
        if (!ref || !literal || jet::isNull(literal->value)) continue;
        Scope::Column column = scope.resolve(*ref);
        KeyValue key = keyValueFor(literal->value, *column.def);
        if (key.kind == KeyValue::NoRowMatches) return std::vector<jet::RowLocator>{};
        if (key.kind != KeyValue::Lookup) continue;
        // Keys in Access 97's sort order, and in the second version of
        // General, ignore characters that "=" does not: such texts are found
        // by a scan.
        if (jet::isTextType(column.def->type) && def.keyColumn(*column.def, true).textOrder != jet::TextKeyOrder::General)
            continue;
        for (const jet::RealIndex& index : def.realIndexes) {
            if (index.columns.empty() || index.columns[0].columnNumber != column.def->number) continue;
            // Keys in a sort order the engine does not encode are not looked up: a scan finds the rows.
            if (def.unencodableColumn(index)) continue;
            if (best && (best->isUnique() || !index.isUnique())) continue;
            best = &index;
            bestPrefix.clear();
            jet::appendIndexKey(bestPrefix, key.value, def.keyColumn(*column.def, index.columns[0].ascending));
        }
    }
    if (!best) return std::nullopt;
    jet::IndexTree tree(db_.pager(), def, *best, table.location());
    std::vector<jet::RowLocator> rows;
    for (const jet::IndexEntry& e : tree.entriesWithKeyPrefix(bestPrefix)) rows.push_back(jet::RowLocator{e.page, e.row});
    // In storage order, as a scan meets them.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
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
    rowsExamined_ = 0;
    if (where && indexLookups_) {
        if (auto candidates = indexCandidates(t, scope, *where)) {
            for (jet::RowLocator at : *candidates) {
                ++rowsExamined_;
                std::optional<std::vector<jet::Value>> values = t.read(at);
                if (!values) continue;
                rows[0] = &*values;
                if (condition->holds(rows)) found.push_back(at);
            }
            return found;
        }
    }
    t.scan(
        [&](jet::RowLocator at, std::vector<jet::Value>& values) {
            ++rowsExamined_;
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
        // (A complex column's own refusal, below, says more.)
        if (c.def->isAutoNumber() && !c.def->isComplex())
            throw text_.error("Cannot update '" + c.def->utf8Name + "'; field not updateable.", a.column.offset);
        for (const auto& earlier : changes)
            if (earlier.first == c.index)
                throw text_.error("Duplicate output destination '" + c.def->utf8Name + "'.", a.column.offset);
        ValueConversion::Result v = ValueConversion::toColumn(a.value.value, *c.def, table->name(), *table->def().text);
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
            if (!ref.qualifier.empty() && !base::NameCase::equalUtf8(ref.qualifier, table.name()))
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
        ValueConversion::Result v = ValueConversion::toColumn(literal.value, def, table.name(), *table.def().text);
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
        if (def->isAutoNumber() && !def->isComplex())
            throw SqlError("Cannot update '" + def->utf8Name + "'; field not updateable.");
        ValueConversion::Result v = ValueConversion::toColumn(value, *def, t->name(), *t->def().text);
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
