#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/Database.h"

namespace jetdb {

// A query saved in the file, and its SQL text as Access's SQL view shows it,
// rebuilt from its rows in MSysQueries. Each row of a query (by ObjectId,
// the query's id in MSysObjects) holds one part, by Attribute:
//
//   Attribute  part         Flag                      Name1 / Name2 / Expression
//   0          start        -                         -
//   1          type         1 select, 2 make table,   target table / its database
//              (one)        3 append, 4 update,       / DDL or pass-through text
//                           5 delete, 6 crosstab,
//                           7 DDL, 8 pass-through,
//                           9 union
//   2          parameter    its type (a column type   name / - / -  (LvExtra: a
//                           code, 0 "Value")          text's size)
//   3          flags        1 *, 2 DISTINCT, 4 owner  TOP's count / - / -
//              (one)        access, 8 DISTINCTROW,
//                           0x10 TOP, 0x20 PERCENT
//                           (union: 2 UNION, not ALL)
//   4          source db    -                         path / - / type
//   5          table        -                         table / alias / database;
//                                                     union: - / X7YZ_____1 or 2
//                                                     / the part's select
//   6          column       append: 0x8000 a VALUES   alias / target column
//                           item; crosstab: 1 PIVOT,  / expression
//                           2 a column, 0 TRANSFORM
//   7          join         1 INNER, 2 LEFT, 3 RIGHT  left table / right table
//                                                     / ON condition
//   8          WHERE        -                         - / - / condition
//   9          GROUP BY     crosstab: 2 a column      - / - / expression
//   10         HAVING       -                         - / - / condition
//   11         ORDER BY     -                         "D" descending / - / expr.
//   255        end          -                         -
class SavedQuery {
public:
    std::string name;
    int32_t id = 0;
    uint32_t objectFlags = 0; // MSysObjects' Flags: the high nibble the query's type

    struct Row {
        int attribute = 0;
        int flag = 0;
        int64_t extra = 0;
        std::optional<std::string> name1, name2, expression;
    };
    std::vector<Row> rows; // as MSysQueries stores them

    // The saved queries in catalog order; none when the file has no MSysQueries.
    static std::vector<SavedQuery> readAll(jet::Database& db);
    // The SQL text, lines apart by "\n", ended by ';' (but DDL and
    // pass-through queries, which are the text the user wrote). Throws a
    // std::runtime_error naming the query when its rows do not make one.
    std::string sql() const;
    // "select", "make table", "append", "update", "delete", "crosstab",
    // "data definition", "pass-through", "union".
    std::string typeName() const;

private:
    int type() const;
    const Row* single(int attribute) const;
    std::vector<const Row*> all(int attribute) const;
    bool hasFlag(int mask) const;
    std::string selectBody(bool withSelect, const std::vector<const Row*>& columns,
                           const std::vector<const Row*>& groupings, const std::string& into) const;
    std::string fromTables() const;
    std::string remoteDatabase(const std::optional<std::string>& path, const std::optional<std::string>& kind) const;
    std::string orderings() const;
    std::string parameters() const;
};

} // namespace jetdb
