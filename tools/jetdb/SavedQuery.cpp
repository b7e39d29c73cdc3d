#include "SavedQuery.h"

#include "base/NameCase.h"
#include "jet/JetError.h"

#include <cctype>
#include <map>
#include <memory>
#include <stdexcept>

namespace jetdb {
namespace {

enum Attribute {
    kType = 1,
    kParameter = 2,
    kFlags = 3,
    kSourceDatabase = 4,
    kTable = 5,
    kColumn = 6,
    kJoin = 7,
    kWhere = 8,
    kGroupBy = 9,
    kHaving = 10,
    kOrderBy = 11,
};

enum Type { kSelect = 1, kMakeTable, kAppend, kUpdate, kDelete, kCrosstab, kDataDefinition, kPassThrough, kUnion };

// The type an object's flags in MSysObjects give, by their high nibble.
int typeFromObjectFlags(uint32_t flags)
{
    switch (flags & 0xF0) {
    case 16: return kCrosstab;
    case 32: return kDelete;
    case 48: return kUpdate;
    case 64: return kAppend;
    case 80: return kMakeTable;
    case 96: return kDataDefinition;
    case 112: return kPassThrough;
    case 128: return kUnion;
    default: return 0;
    }
}

const char* const kNewline = "\n";

std::string joined(const std::vector<std::string>& parts, const std::string& separator = ", ")
{
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
    return out;
}

bool isBracketed(const std::string& s) { return s.size() >= 2 && s.front() == '[' && s.back() == ']'; }

// A name in brackets where it holds anything but letters, digits and '_';
// an identifier's parts apart by '.' each on its own.
std::string optionallyBracketed(const std::string& name, bool identifier)
{
    std::vector<std::string> parts;
    if (identifier) {
        size_t start = 0;
        for (size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1)
            parts.push_back(name.substr(start, dot - start));
        parts.push_back(name.substr(start));
    } else {
        parts.push_back(name);
    }
    for (std::string& part : parts) {
        bool plain = true;
        for (unsigned char c : part) plain = plain && (std::isalnum(c) || c == '_') && c < 0x80;
        if (!plain && !isBracketed(part)) part = "[" + part + "]";
    }
    return joined(parts, ".");
}

std::string alias(const std::optional<std::string>& name)
{
    return name ? " AS " + optionallyBracketed(*name, false) : std::string();
}

// A table of FROM, or a join of two, built up as MSysQueries lists the joins.
struct TableSource {
    std::string name; // a table's name or alias, for matching the joins' names
    std::string text;
    std::shared_ptr<TableSource> left, right;
    int joinType = 0;
    std::vector<std::string> conditions;

    bool contains(const std::string& table) const
    {
        if (left) return left->contains(table) || right->contains(table);
        return base::NameCase::foldUtf8(name) == base::NameCase::foldUtf8(table);
    }
    std::string toSql(bool topLevel, const std::string& query) const
    {
        if (!left) return text;
        static const char* const kinds[] = {nullptr, " INNER JOIN ", " LEFT JOIN ", " RIGHT JOIN "};
        if (joinType < 1 || joinType > 3)
            throw std::runtime_error("query '" + query + "': a join of an unknown kind (" + std::to_string(joinType) + ")");
        std::string on = joined(conditions, ") AND (");
        if (conditions.size() > 1) on = "(" + on + ")";
        std::string sql = left->toSql(false, query) + kinds[joinType] + right->toSql(false, query) + " ON " + on;
        return topLevel ? sql : "(" + sql + ")";
    }
};

std::optional<std::string> text(const jet::Value& v)
{
    if (auto s = std::get_if<std::u16string>(&v)) return jet::toUtf8(*s);
    return std::nullopt;
}

int64_t whole(const jet::Value& v)
{
    if (auto n = std::get_if<int64_t>(&v)) return *n;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    return 0;
}

} // namespace

std::vector<SavedQuery> SavedQuery::readAll(jet::Database& db)
{
    std::vector<SavedQuery> queries;
    std::map<int32_t, size_t> byId;
    for (const jet::CatalogEntry& e : db.catalog()) {
        if (e.type != 5 || e.name.empty()) continue;
        SavedQuery q;
        q.name = e.name;
        q.id = e.id;
        q.objectFlags = e.flags;
        byId[e.id] = queries.size();
        queries.push_back(std::move(q));
    }
    if (queries.empty()) return queries;
    jet::Table& table = db.table("MSysQueries");
    std::map<std::string, size_t> column;
    for (size_t i = 0; i < table.def().columns.size(); ++i)
        column[base::NameCase::foldUtf8(table.def().columns[i].utf8Name)] = i;
    // Access 97's table has no LvExtra (its parameters have no sizes).
    for (const char* name : {"attribute", "expression", "flag", "name1", "name2", "objectid"})
        if (!column.count(name))
            throw jet::JetError("table 'MSysQueries' has no column '" + std::string(name) + "': the file's queries "
                                "cannot be read");
    table.scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
        auto it = byId.find(int32_t(whole(values[column["objectid"]])));
        if (it == byId.end()) return true;
        Row row;
        row.attribute = int(whole(values[column["attribute"]]));
        row.flag = int(whole(values[column["flag"]]));
        if (column.count("lvextra")) row.extra = whole(values[column["lvextra"]]);
        row.name1 = text(values[column["name1"]]);
        row.name2 = text(values[column["name2"]]);
        row.expression = text(values[column["expression"]]);
        queries[it->second].rows.push_back(std::move(row));
        return true;
    });
    return queries;
}

const SavedQuery::Row* SavedQuery::single(int attribute) const
{
    for (const Row& r : rows)
        if (r.attribute == attribute) return &r;
    return nullptr;
}

std::vector<const SavedQuery::Row*> SavedQuery::all(int attribute) const
{
    std::vector<const Row*> out;
    for (const Row& r : rows)
        if (r.attribute == attribute) out.push_back(&r);
    return out;
}

bool SavedQuery::hasFlag(int mask) const
{
    const Row* flags = single(kFlags);
    return flags && (flags->flag & mask) != 0;
}

int SavedQuery::type() const
{
    // The object's flags say, but for a select, whose flags are 0.
    if (const int t = typeFromObjectFlags(objectFlags)) return t;
    const Row* typeRow = single(kType);
    return typeRow ? typeRow->flag : 0;
}

std::string SavedQuery::typeName() const
{
    static const char* const names[] = {"unknown",         "select",       "make table", "append", "update", "delete",
                                        "crosstab", "data definition", "pass-through", "union"};
    const int t = type();
    return t >= 1 && t <= 9 ? names[t] : names[0];
}

std::string SavedQuery::remoteDatabase(const std::optional<std::string>& path, const std::optional<std::string>& kind) const
{
    if (!path && !kind) return std::string();
    std::string out = " IN '" + path.value_or("") + "'";
    if (kind) out += " [" + *kind + "]";
    return out;
}

std::string SavedQuery::fromTables() const
{
    std::vector<std::shared_ptr<TableSource>> sources;
    for (const Row* t : all(kTable)) {
        auto source = std::make_shared<TableSource>();
        if (t->expression) source->text = (isBracketed(*t->expression) ? *t->expression : "[" + *t->expression + "]") + ".";
        if (t->name1) source->text += optionallyBracketed(*t->name1, true);
        source->text += alias(t->name2);
        source->name = t->name2 ? *t->name2 : t->name1.value_or("");
        sources.push_back(source);
    }
    // Each join takes the two sources holding its tables out of the list
    // and adds their join at its end; a second condition between the same
    // two joins the first (Access lists them last first).
    for (const Row* j : all(kJoin)) {
        const std::string leftName = j->name1.value_or(""), rightName = j->name2.value_or("");
        std::shared_ptr<TableSource> left, right;
        for (auto it = sources.begin(); it != sources.end() && (!left || !right);) {
            if (!left && (*it)->contains(leftName)) {
                left = *it;
                if (!right && left->contains(rightName)) {
                    right = left;
                    break;
                }
                it = sources.erase(it);
            } else if (!right && (*it)->contains(rightName)) {
                right = *it;
                it = sources.erase(it);
            } else {
                ++it;
            }
        }
        auto simple = [&](const std::string& n) {
            auto s = std::make_shared<TableSource>();
            s->name = n;
            s->text = optionallyBracketed(n, true);
            return s;
        };
        if (!left) left = simple(leftName);
        if (!right) right = simple(rightName);
        const std::string condition = j->expression.value_or("");
        if (left == right) {
            if (left->left && left->joinType == j->flag) {
                left->conditions.insert(left->conditions.begin(), condition);
                continue;
            }
            throw std::runtime_error("query '" + name + "': the joins of " + leftName + " and " + rightName +
                                     " are of different kinds");
        }
        auto join = std::make_shared<TableSource>();
        join->left = left;
        join->right = right;
        join->joinType = j->flag;
        join->conditions.push_back(condition);
        sources.push_back(join);
    }
    std::vector<std::string> texts;
    for (const auto& s : sources) texts.push_back(s->toSql(true, name));
    return joined(texts);
}

std::string SavedQuery::orderings() const
{
    std::vector<std::string> items;
    for (const Row* o : all(kOrderBy)) {
        std::string item = o->expression.value_or("");
        if (o->name1 && base::NameCase::foldUtf8(*o->name1) == "d") item += " DESC";
        items.push_back(item);
    }
    return joined(items);
}

std::string SavedQuery::parameters() const
{
    static const std::map<int, const char*> types = {
        {0, "Value"},       {1, "Bit"},         {2, "Byte"},      {3, "Short"},  {4, "Long"},
        {5, "Currency"},    {6, "IEEESingle"},  {7, "IEEEDouble"}, {8, "DateTime"}, {9, "Binary"},
        {10, "Text"},       {11, "LongBinary"}, {15, "Guid"}};
    std::vector<std::string> items;
    for (const Row* p : all(kParameter)) {
        auto it = types.find(p->flag);
        if (it == types.end())
            throw std::runtime_error("query '" + name + "': parameter '" + p->name1.value_or("") + "' of an unknown type (" +
                                     std::to_string(p->flag) + ")");
        std::string item = optionallyBracketed(p->name1.value_or(""), false) + " " + it->second;
        if (p->flag == 10 && p->extra > 0) item += " (" + std::to_string(p->extra) + ")";
        items.push_back(item);
    }
    return items.empty() ? std::string() : "PARAMETERS " + joined(items) + ";" + kNewline;
}

std::string SavedQuery::selectBody(bool withSelect, const std::vector<const Row*>& columns,
                                   const std::vector<const Row*>& groupings, const std::string& into) const
{
    std::string sql;
    if (withSelect) {
        sql = "SELECT ";
        if (hasFlag(2)) sql += "DISTINCT ";
        else if (hasFlag(8)) sql += "DISTINCTROW ";
        else if (hasFlag(0x10)) sql += "TOP " + single(kFlags)->name1.value_or("") + (hasFlag(0x20) ? " PERCENT " : " ");
    }
    std::vector<std::string> items;
    for (const Row* c : columns) items.push_back(c->expression.value_or("") + alias(c->name1));
    if (hasFlag(1)) items.push_back("*");
    sql += joined(items) + into;
    const std::string from = fromTables();
    if (!from.empty()) {
        const Row* source = single(kSourceDatabase);
        sql += kNewline + ("FROM " + from) +
               (source ? remoteDatabase(source->name1, source->expression) : std::string());
    }
    if (const Row* where = single(kWhere)) sql += kNewline + ("WHERE " + where->expression.value_or(""));
    std::vector<std::string> groups;
    for (const Row* g : groupings) groups.push_back(g->expression.value_or(""));
    if (!groups.empty()) sql += kNewline + ("GROUP BY " + joined(groups));
    if (const Row* having = single(kHaving)) sql += kNewline + ("HAVING " + having->expression.value_or(""));
    const std::string order = orderings();
    if (!order.empty()) sql += kNewline + ("ORDER BY " + order);
    return sql;
}

std::string SavedQuery::sql() const
{
    const Row* typeRow = single(kType);
    const int t = type();
    if (!typeRow || t < kSelect || t > kUnion)
        throw std::runtime_error("query '" + name + "': MSysQueries gives it no known type");
    auto filtered = [&](int attribute, int mask, bool set) {
        std::vector<const Row*> out;
        for (const Row* r : all(attribute))
            if (((r->flag & mask) != 0) == set) out.push_back(r);
        return out;
    };
    std::string body;
    switch (t) {
    case kSelect: body = selectBody(true, all(kColumn), all(kGroupBy), ""); break;
    case kMakeTable:
        body = selectBody(true, all(kColumn), all(kGroupBy),
                          " INTO " + optionallyBracketed(typeRow->name1.value_or(""), true) +
                              remoteDatabase(typeRow->name2, typeRow->expression));
        break;
    case kAppend: {
        body = "INSERT INTO " + optionallyBracketed(typeRow->name1.value_or(""), true);
        std::vector<std::string> targets, values;
        for (const Row* c : all(kColumn)) {
            if (c->name2) targets.push_back(optionallyBracketed(*c->name2, true));
            if (c->flag & 0x8000) values.push_back(c->expression.value_or(""));
        }
        if (!targets.empty()) body += " (" + joined(targets) + ")";
        body += remoteDatabase(typeRow->name2, typeRow->expression) + kNewline;
        if (!values.empty()) body += "VALUES (" + joined(values) + ")";
        else body += selectBody(true, filtered(kColumn, 0x8000, false), all(kGroupBy), "");
        break;
    }
    case kUpdate: {
        std::vector<std::string> sets;
        for (const Row* c : all(kColumn))
            sets.push_back(optionallyBracketed(c->name2.value_or(""), true) + " = " + c->expression.value_or(""));
        const Row* source = single(kSourceDatabase);
        body = "UPDATE " + fromTables() + (source ? remoteDatabase(source->name1, source->expression) : std::string()) +
               kNewline + "SET " + joined(sets);
        if (const Row* where = single(kWhere)) body += kNewline + ("WHERE " + where->expression.value_or(""));
        break;
    }
    case kDelete: body = "DELETE " + selectBody(false, all(kColumn), all(kGroupBy), ""); break;
    case kCrosstab: {
        const std::vector<const Row*> transform = filtered(kColumn, 3, false), pivot = filtered(kColumn, 1, true);
        if (transform.size() == 1 && transform[0]->expression)
            body = "TRANSFORM " + *transform[0]->expression + alias(transform[0]->name1) + kNewline;
        body += selectBody(true, filtered(kColumn, 2, true), filtered(kGroupBy, 2, true), "");
        body += kNewline + ("PIVOT " + (pivot.empty() ? std::string() : pivot[0]->expression.value_or("")));
        break;
    }
    case kUnion: {
        auto part = [&](const char* id) {
            for (const Row* r : all(kTable))
                if (r->name2 == std::optional<std::string>(id)) {
                    // Trimmed, each run of line breaks one newline.
                    std::string s = r->expression.value_or(""), out;
                    size_t first = s.find_first_not_of(" \t\r\n"), last = s.find_last_not_of(" \t\r\n");
                    s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
                    for (size_t i = 0; i < s.size(); ++i) {
                        if (s[i] != '\r' && s[i] != '\n') out += s[i];
                        else if (out.empty() || out.back() != '\n') out += kNewline;
                    }
                    return out;
                }
            throw std::runtime_error("query '" + name + "': a part of the union is missing");
        };
        body = part("X7YZ_____1") + kNewline + "UNION " + (hasFlag(2) ? "" : "ALL ") + part("X7YZ_____2");
        const std::string order = orderings();
        if (!order.empty()) body += kNewline + ("ORDER BY " + order);
        break;
    }
    case kDataDefinition:
    case kPassThrough: {
        // The text as written (Access stores it with a closing NUL).
        std::string statement = typeRow->expression.value_or("");
        while (!statement.empty() && statement.back() == '\0') statement.pop_back();
        return statement;
    }
    }
    std::string sql = parameters() + body;
    if (hasFlag(4)) sql += kNewline + std::string("WITH OWNERACCESS OPTION");
    return sql + ";";
}

} // namespace jetdb
