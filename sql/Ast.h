#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "jet/Value.h"

// The parsed form of a statement. Every node keeps the byte offset of its
// text, so that binding errors can point at it.
namespace sql::ast {

struct ColumnRef {
    std::string qualifier; // table name or alias; empty when not written
    std::string name;
    size_t offset = 0;
    size_t end = 0;
};

struct Literal {
    jet::Value value;      // null, bool, int64_t, double, Decimal, u16string or DateTime
    size_t offset = 0;
    size_t end = 0;
};

using Operand = std::variant<ColumnRef, Literal>;

enum class CompareOp { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct Expr {
    enum class Kind { And, Or, Not, Compare, IsNull, In };
    Kind kind = Kind::Compare;
    // And, Or: both; Not: first only.
    std::unique_ptr<Expr> first;
    std::unique_ptr<Expr> second;
    // Compare: left op right; IsNull: left is [not] null; In: left [not] in (list).
    CompareOp op = CompareOp::Equal;
    bool negated = false;
    Operand left;
    Operand right;
    std::vector<Literal> list;
    size_t offset = 0;
    size_t end = 0;
};
using ExprPtr = std::unique_ptr<Expr>;

struct TableRef {
    std::string name;
    std::string alias;     // empty when none
    size_t offset = 0;
};

struct SelectItem {
    enum class Kind { AllColumns, TableColumns, Column };
    Kind kind = Kind::Column;
    ColumnRef column;      // TableColumns: qualifier only; Column: the column
    std::string alias;     // "as" name of a Column
    size_t offset = 0;
};

struct Join {
    bool left = false;     // left [outer] join; otherwise inner join
    TableRef table;
    ExprPtr on;
    size_t offset = 0;
};

struct OrderItem {
    ColumnRef column;
    bool descending = false;
};

struct Select {
    std::vector<SelectItem> items;
    TableRef from;
    std::vector<Join> joins;
    ExprPtr where;         // null when there is no where clause
    std::vector<OrderItem> orderBy;
};

struct Assignment {
    ColumnRef column;
    Literal value;
};

struct Update {
    TableRef table;
    std::vector<Assignment> assignments;
    ExprPtr where;
};

struct Delete {
    TableRef table;
    ExprPtr where;
};

struct Insert {
    TableRef table;
    std::vector<ColumnRef> columns; // empty: every column in table order
    std::vector<Literal> values;
    size_t valuesOffset = 0;
};

using Statement = std::variant<Select, Update, Delete, Insert>;

} // namespace sql::ast
