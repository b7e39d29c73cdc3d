#include "sql/Scope.h"

#include "base/NameCase.h"
#include "jet/TableDef.h"

namespace sql {

size_t Scope::add(const ast::TableRef& ref)
{
    if (!db_.hasTable(ref.name))
        throw text_.error("Cannot find the input table or query '" + StatementText::name(ref.name) +
                              "'. Make sure it exists and that its name is spelled correctly.",
                          ref.offset);
    Source s;
    s.table = &db_.table(ref.name);
    s.alias = ref.alias;
    for (const Source& other : sources_) {
        if (base::NameCase::equalUtf8(other.qualifier(), s.qualifier()))
            throw text_.error("The table or alias '" + StatementText::name(s.qualifier()) +
                                  "' is named twice in the FROM clause; give one of them another alias.",
                              ref.offset);
    }
    sources_.push_back(s);
    return sources_.size() - 1;
}

size_t Scope::sourceNamed(const std::string& qualifier, size_t offset) const
{
    for (size_t i = 0; i < visibleCount(); ++i)
        if (base::NameCase::equalUtf8(sources_[i].qualifier(), qualifier)) return i;
    std::string known;
    for (size_t i = 0; i < visibleCount(); ++i) known += (i ? ", '" : "'") + sources_[i].qualifier() + "'";
    throw text_.error("Unknown table or alias '" + StatementText::name(qualifier) + "'; the statement names " + known + " here.", offset);
}

Scope::Column Scope::resolve(const ast::ColumnRef& ref) const
{
    auto findIn = [&](size_t source) -> std::optional<Column> {
        const auto& columns = sources_[source].table->def().columns;
        for (size_t i = 0; i < columns.size(); ++i)
            if (base::NameCase::equalUtf8(columns[i].utf8Name, ref.name)) return Column{source, i, &columns[i]};
        return std::nullopt;
    };
    if (!ref.qualifier.empty()) {
        size_t source = sourceNamed(ref.qualifier, ref.offset);
        if (auto c = findIn(source)) return *c;
        throw text_.error("Unknown field name '" + StatementText::name(ref.qualifier + "." + ref.name) + "': table '" +
                              sources_[source].table->name() + "' has no such column.",
                          ref.offset);
    }
    std::optional<Column> found;
    for (size_t i = 0; i < visibleCount(); ++i) {
        if (auto c = findIn(i)) {
            if (found)
                throw text_.error("The specified field '" + StatementText::name(ref.name) +
                                      "' could refer to more than one table listed in the FROM clause of your SQL "
                                      "statement.",
                                  ref.offset);
            found = c;
        }
    }
    if (found) return *found;
    std::string tables;
    for (size_t i = 0; i < visibleCount(); ++i) tables += (i ? ", '" : "'") + sources_[i].table->name() + "'";
    throw text_.error("Unknown field name '" + StatementText::name(ref.name) + "': no column of that name in " + tables + ".", ref.offset);
}

} // namespace sql
