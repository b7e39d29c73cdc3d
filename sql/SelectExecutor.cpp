#include "sql/SelectExecutor.h"

#include <algorithm>
#include <cstring>

#include "base/NameCase.h"
#include "jet/IndexTree.h"
#include "jet/RowView.h"
#include "jet/TableDef.h"
#include "sql/SortKeys.h"

namespace sql {

void SelectExecutor::run(const ast::Select& select, RowSink& sink)
{
    bind(select);
    sink.source(scope_.sources()[0].table->name(), joins_.empty());
    sink.columns(resultColumns(select));
    loadJoinedTables();
    if (joins_.empty() && sink.takesLocators() && isWholeRowOfFromTable()) {
        runLocators(sink);
    } else if (orderColumns_.empty()) {
        runStreaming(sink);
    } else if (joins_.empty()) {
        runSortedSingleTable(sink);
    } else {
        runSortedJoined(sink);
    }
}

void SelectExecutor::bind(const ast::Select& select)
{
    scope_.add(select.from);
    for (const ast::Join& j : select.joins) {
        size_t source = scope_.add(j.table);
        JoinedTable jt;
        jt.left = j.left;
        // The condition may name only the tables joined so far.
        scope_.limitVisible(source + 1);
        jt.on = Condition::bind(*j.on, scope_, text_, "Type mismatch in JOIN expression");
        scope_.unlimitVisible();
        if (auto eq = jt.on->equiJoin(source)) {
            jt.hashed = true;
            jt.innerColumn = eq->first;
            jt.outerColumn = eq->second;
            jt.keyClass = jt.on->comparedClass();
        }
        joins_.push_back(std::move(jt));
    }

    const auto& sources = scope_.sources();
    auto addAllOf = [&](size_t source) {
        for (size_t c = 0; c < sources[source].table->def().columns.size(); ++c) outputs_.push_back({source, c});
    };
    for (const ast::SelectItem& item : select.items) {
        switch (item.kind) {
        case ast::SelectItem::Kind::AllColumns:
            for (size_t s = 0; s < sources.size(); ++s) addAllOf(s);
            break;
        case ast::SelectItem::Kind::TableColumns:
            addAllOf(scope_.sourceNamed(item.column.qualifier, item.column.offset));
            break;
        case ast::SelectItem::Kind::Column: {
            Scope::Column c = scope_.resolve(item.column);
            outputs_.push_back({c.source, c.index});
            break;
        }
        }
    }

    if (select.where)
        condition_ = Condition::bind(*select.where, scope_, text_, "Data type mismatch in criteria expression");

    for (const ast::OrderItem& item : select.orderBy) {
        Scope::Column c = scope_.resolve(item.column);
        if (ValueOrder::classOf(c.def->type) == ValueClass::Binary)
            throw text_.error("Cannot sort on the binary or OLE Object field '" + c.def->utf8Name + "'.",
                              item.column.offset);
        orderColumns_.push_back(c);
        orderDescending_.push_back(item.descending);
    }

    wanted_.resize(sources.size());
    for (size_t s = 0; s < sources.size(); ++s) wanted_[s].assign(sources[s].table->def().columns.size(), false);
    for (const OutputColumn& o : outputs_) wanted_[o.source][o.column] = true;
    for (const JoinedTable& jt : joins_) jt.on->markColumns(wanted_);
    if (condition_) condition_->markColumns(wanted_);
    for (const Scope::Column& c : orderColumns_) wanted_[c.source][c.index] = true;
}

std::vector<ResultColumn> SelectExecutor::resultColumns(const ast::Select& select) const
{
    const auto& sources = scope_.sources();
    // Explicit "as" names, by output position.
    std::vector<std::string> aliases(outputs_.size());
    size_t position = 0;
    for (const ast::SelectItem& item : select.items) {
        if (item.kind == ast::SelectItem::Kind::Column) {
            aliases[position++] = item.alias;
        } else {
            size_t first = item.kind == ast::SelectItem::Kind::AllColumns
                               ? 0
                               : scope_.sourceNamed(item.column.qualifier, item.column.offset);
            size_t last = item.kind == ast::SelectItem::Kind::AllColumns ? sources.size() - 1 : first;
            for (size_t s = first; s <= last; ++s) position += sources[s].table->def().columns.size();
        }
    }

    std::vector<ResultColumn> result;
    for (size_t i = 0; i < outputs_.size(); ++i) {
        const OutputColumn& o = outputs_[i];
        const jet::Table& table = *sources[o.source].table;
        const jet::ColumnDef& def = table.def().columns[o.column];
        ResultColumn rc;
        rc.name = aliases[i].empty() ? def.utf8Name : aliases[i];
        rc.type = def.type;
        // Text lengths are bytes: two per character in UTF-16, one per byte of the code page.
        rc.length = def.type == jet::ColumnType::Text && table.def().text->isUnicode() ? def.length / 2 : def.length;
        rc.precision = def.precision;
        rc.scale = def.scale;
        rc.autoIncrement = (def.flags & jet::kColumnAutoLong) != 0;
        rc.required = !(def.flags & jet::kColumnNullable) && def.type != jet::ColumnType::Boolean;
        rc.baseTable = table.name();
        rc.baseColumn = def.utf8Name;
        result.push_back(std::move(rc));
    }
    // A name given twice (the same column of two tables) is qualified, as Jet
    // names such fields "a.id" and "b.id".
    std::vector<std::string> plain;
    for (const ResultColumn& rc : result) plain.push_back(rc.name);
    for (size_t i = 0; i < result.size(); ++i) {
        if (!aliases[i].empty()) continue;
        for (size_t k = 0; k < result.size(); ++k) {
            if (k != i && base::NameCase::equalUtf8(plain[k], plain[i])) {
                result[i].name = sources[outputs_[i].source].qualifier() + "." + result[i].baseColumn;
                break;
            }
        }
    }
    return result;
}

void SelectExecutor::loadJoinedTables()
{
    const auto& sources = scope_.sources();
    for (size_t k = 0; k < joins_.size(); ++k) {
        JoinedTable& jt = joins_[k];
        jet::Table& table = *sources[k + 1].table;
        jt.nullRow.assign(table.def().columns.size(), jet::Value{});
        table.scan(
            [&](jet::RowLocator, std::vector<jet::Value>& values) {
                jt.rows.push_back(values);
                return true;
            },
            &wanted_[k + 1]);
        if (!jt.hashed) continue;
        for (uint32_t i = 0; i < jt.rows.size(); ++i) {
            const jet::Value& v = jt.rows[i][jt.innerColumn.index];
            if (!jet::isNull(v)) jt.byKey[ValueOrder::equalityKey(v, jt.keyClass)].push_back(i);
        }
    }
}

bool SelectExecutor::isWholeRowOfFromTable() const
{
    if (!joins_.empty() || outputs_.size() != scope_.sources()[0].table->def().columns.size()) return false;
    for (size_t i = 0; i < outputs_.size(); ++i)
        if (outputs_[i].source != 0 || outputs_[i].column != i) return false;
    return true;
}

void SelectExecutor::project(const SourceRows& rows, std::vector<jet::Value>& out) const
{
    out.resize(outputs_.size());
    for (size_t i = 0; i < outputs_.size(); ++i) out[i] = (*rows[outputs_[i].source])[outputs_[i].column];
}

template <class Emit>
void SelectExecutor::expand(size_t join, SourceRows& rows, Emit& emit)
{
    if (join == joins_.size()) {
        emit(rows);
        return;
    }
    JoinedTable& jt = joins_[join];
    const size_t source = join + 1;
    bool matched = false;
    if (jt.hashed) {
        const jet::Value& v = (*rows[jt.outerColumn.source])[jt.outerColumn.index];
        if (!jet::isNull(v)) {
            auto it = jt.byKey.find(ValueOrder::equalityKey(v, jt.keyClass));
            if (it != jt.byKey.end()) {
                for (uint32_t i : it->second) {
                    rows[source] = &jt.rows[i];
                    matched = true;
                    expand(join + 1, rows, emit);
                }
            }
        }
    } else {
        for (const auto& candidate : jt.rows) {
            rows[source] = &candidate;
            if (!jt.on->holds(rows)) continue;
            matched = true;
            expand(join + 1, rows, emit);
        }
    }
    if (!matched && jt.left) {
        rows[source] = &jt.nullRow;
        expand(join + 1, rows, emit);
    }
}

void SelectExecutor::runStreaming(RowSink& sink)
{
    jet::Table& from = *scope_.sources()[0].table;
    const bool whole = isWholeRowOfFromTable();
    SourceRows rows(scope_.sources().size(), nullptr);
    std::vector<jet::Value> out;
    if (whole && sink.takesRowViews()) {
        // Only the where clause's columns are decoded here; the sink decodes the rest.
        std::vector<bool> whereColumns(from.def().columns.size(), false);
        std::vector<std::vector<bool>> marked(1, whereColumns);
        if (condition_) condition_->markColumns(marked);
        std::vector<size_t> whereList;
        for (size_t i = 0; i < marked[0].size(); ++i)
            if (marked[0][i]) whereList.push_back(i);
        std::vector<jet::Value> values(from.def().columns.size());
        from.scanViews([&](jet::RowLocator at, const jet::RowView& view) {
            if (condition_) {
                view.decodeColumns(values, whereList);
                rows[0] = &values;
                if (!condition_->holds(rows)) return true;
            }
            sink.rowView(view, at);
            return true;
        });
        return;
    }
    jet::RowLocator current;
    auto emit = [&](SourceRows& r) {
        if (condition_ && !condition_->holds(r)) return;
        project(r, out);
        sink.row(out, current);
    };
    from.scan(
        [&](jet::RowLocator at, std::vector<jet::Value>& values) {
            rows[0] = &values;
            current = at;
            if (!joins_.empty()) {
                expand(0, rows, emit);
            } else if (!condition_ || condition_->holds(rows)) {
                if (whole) {
                    sink.row(values, at);
                } else {
                    project(rows, out);
                    sink.row(out, at);
                }
            }
            return true;
        },
        whole ? nullptr : &wanted_[0]);
}

void SelectExecutor::runSortedSingleTable(RowSink& sink)
{
    jet::Table& from = *scope_.sources()[0].table;
    std::vector<SortKeys::Key> spec;
    for (size_t k = 0; k < orderColumns_.size(); ++k)
        spec.push_back({ValueOrder::classOf(orderColumns_[k].def->type), orderDescending_[k]});

    // The where and order by columns, decoded for every row.
    std::vector<bool> keyColumns(from.def().columns.size(), false);
    std::vector<std::vector<bool>> conditionColumns(1, keyColumns);
    if (condition_) condition_->markColumns(conditionColumns);
    keyColumns = conditionColumns[0];
    for (const Scope::Column& c : orderColumns_) keyColumns[c.index] = true;
    std::vector<size_t> keyColumnList;
    for (size_t i = 0; i < keyColumns.size(); ++i)
        if (keyColumns[i]) keyColumnList.push_back(i);
    const bool whole = isWholeRowOfFromTable();

    SortKeys keys(std::move(spec));
    // The stored row count is a hint (it may be off in a damaged file).
    keys.reserve(std::min<size_t>(from.def().rowCount, 4'000'000));
    std::vector<const jet::Value*> keyValues(orderColumns_.size());
    SourceRows rows(1, nullptr);
    std::vector<jet::Value> values;
    auto matches = [&](const jet::RowView& view) {
        view.decodeColumns(values, keyColumnList);
        rows[0] = &values;
        if (condition_ && !condition_->holds(rows)) return false;
        for (size_t k = 0; k < orderColumns_.size(); ++k) keyValues[k] = &values[orderColumns_[k].index];
        keys.add(keyValues);
        return true;
    };

    if (sink.takesOrder()) {
        // One pass: the sink keeps the rows as they come and takes their order after.
        const bool views = whole && sink.takesRowViews();
        std::vector<jet::Value> row;
        std::vector<jet::Value> out;
        SourceRows rowOnly(1, &row);
        from.scanViews([&](jet::RowLocator at, const jet::RowView& view) {
            if (!matches(view)) return true;
            if (views) {
                sink.rowView(view, at);
            } else if (whole) {
                view.decode(row);
                sink.row(row, at);
            } else {
                view.decode(row, &wanted_[0]);
                project(rowOnly, out);
                sink.row(out, at);
            }
            return true;
        });
        sink.order(keys.order());
        return;
    }

    // Two passes: the keys and locators first, then the rows read again in
    // order, straight to the sink.
    std::vector<jet::RowLocator> locators;
    from.scanViews([&](jet::RowLocator at, const jet::RowView& view) {
        if (matches(view)) locators.push_back(at);
        return true;
    });
    const std::vector<uint32_t> order = keys.order();
    const std::string where = from.location();
    std::vector<jet::Value> row;
    std::vector<jet::Value> out;
    for (uint32_t i : order) {
        const jet::RowLocator at = locators[i];
        std::optional<jet::Table::RowBytes> bytes = from.rowBytes(at);
        if (!bytes) continue;
        jet::RowView view(from.def(), bytes->data, bytes->size, from.database().pager(),
                          jet::RowPlace{&where, bytes->pageNumber, at.row});
        if (whole) {
            view.decode(row);
            sink.row(row, at);
        } else {
            view.decode(row, &wanted_[0]);
            rows[0] = &row;
            project(rows, out);
            sink.row(out, at);
        }
    }
}

void SelectExecutor::runLocators(RowSink& sink)
{
    jet::Table& from = *scope_.sources()[0].table;
    std::vector<uint32_t> rows = sink.locatorBuffer();
    rows.clear();
    if (!condition_ && locatorsFromIndex(rows)) {
        sink.locators(std::move(rows));
        return;
    }
    rows.clear();
    // The where and order by columns, decoded for every row.
    std::vector<std::vector<bool>> marked(1, std::vector<bool>(from.def().columns.size(), false));
    if (condition_) condition_->markColumns(marked);
    for (const Scope::Column& c : orderColumns_) marked[0][c.index] = true;
    std::vector<size_t> keyColumns;
    for (size_t i = 0; i < marked[0].size(); ++i)
        if (marked[0][i]) keyColumns.push_back(i);
    std::vector<SortKeys::Key> spec;
    for (size_t k = 0; k < orderColumns_.size(); ++k)
        spec.push_back({ValueOrder::classOf(orderColumns_[k].def->type), orderDescending_[k]});
    SortKeys keys(std::move(spec));
    std::vector<const jet::Value*> keyValues(orderColumns_.size());
    std::vector<jet::Value> values;
    SourceRows sources(1, &values);
    rows.reserve(std::min<size_t>(from.def().rowCount, 4'000'000));
    from.scanViews([&](jet::RowLocator at, const jet::RowView& view) {
        if (!keyColumns.empty()) {
            view.decodeColumns(values, keyColumns);
            if (condition_ && !condition_->holds(sources)) return true;
            if (!orderColumns_.empty()) {
                for (size_t k = 0; k < orderColumns_.size(); ++k) keyValues[k] = &values[orderColumns_[k].index];
                keys.add(keyValues);
            }
        }
        rows.push_back(at.packed());
        return true;
    });
    if (!orderColumns_.empty()) {
        std::vector<uint32_t> ordered;
        ordered.reserve(rows.size());
        for (uint32_t i : keys.order()) ordered.push_back(rows[i]);
        rows = std::move(ordered);
    }
    sink.locators(std::move(rows));
}

bool SelectExecutor::locatorsFromIndex(std::vector<uint32_t>& rows)
{
    if (orderColumns_.size() != 1) return false;
    jet::Table& from = *scope_.sources()[0].table;
    const jet::ColumnDef& column = *orderColumns_[0].def;
    // Whole numbers only: their keys order as the values do, whatever the
    // sort order of the file (texts and floating point keys may not).
    if (column.type != jet::ColumnType::Byte && column.type != jet::ColumnType::Integer &&
        column.type != jet::ColumnType::Long)
        return false;
    const jet::RealIndex* index = nullptr;
    for (const jet::RealIndex& candidate : from.def().realIndexes)
        if (candidate.columns.size() == 1 && candidate.columns[0].columnNumber == column.number &&
            !candidate.ignoresNulls()) {
            index = &candidate;
            break;
        }
    if (!index) return false;
    // Runs of equal keys keep the table's order, as a sort would keep them.
    std::vector<std::pair<size_t, size_t>> ties;
    rows.reserve(std::min<size_t>(from.def().rowCount, 4'000'000));
    jet::IndexTree(from.database().pager(), from.def(), *index, from.location()).rowsInOrder(rows, ties);
    // An index that does not hold every row (damaged, or counts that
    // drifted) cannot stand for the table: the caller scans instead.
    if (rows.size() != from.def().rowCount) return false;
    const bool descending = orderDescending_[0] == index->columns[0].ascending;
    if (descending) {
        std::reverse(rows.begin(), rows.end());
        for (const auto& [begin, end] : ties)
            std::reverse(rows.end() - std::ptrdiff_t(end), rows.end() - std::ptrdiff_t(begin));
    }
    return true;
}

void SelectExecutor::runSortedJoined(RowSink& sink)
{
    jet::Table& from = *scope_.sources()[0].table;
    std::vector<SortKeys::Key> spec;
    for (size_t k = 0; k < orderColumns_.size(); ++k)
        spec.push_back({ValueOrder::classOf(orderColumns_[k].def->type), orderDescending_[k]});
    SortKeys keys(std::move(spec));

    std::vector<std::vector<jet::Value>> results;
    std::vector<jet::RowLocator> origins;
    std::vector<const jet::Value*> keyValues(orderColumns_.size());
    SourceRows rows(scope_.sources().size(), nullptr);
    jet::RowLocator current;
    auto emit = [&](SourceRows& r) {
        if (condition_ && !condition_->holds(r)) return;
        for (size_t k = 0; k < orderColumns_.size(); ++k)
            keyValues[k] = &(*r[orderColumns_[k].source])[orderColumns_[k].index];
        keys.add(keyValues);
        results.emplace_back();
        project(r, results.back());
        origins.push_back(current);
    };
    from.scan(
        [&](jet::RowLocator at, std::vector<jet::Value>& values) {
            rows[0] = &values;
            current = at;
            expand(0, rows, emit);
            return true;
        },
        &wanted_[0]);
    for (uint32_t i : keys.order()) sink.row(results[i], origins[i]);
}

} // namespace sql
