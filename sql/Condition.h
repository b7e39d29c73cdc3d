#pragma once
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/Value.h"
#include "sql/Ast.h"
#include "sql/Scope.h"
#include "sql/StatementText.h"
#include "sql/ValueOrder.h"

namespace sql {

// The current row of every source of a statement, by source number; an
// outer join's missing row is a row of nulls.
using SourceRows = std::vector<const std::vector<jet::Value>*>;

// A where or on condition bound to the statement's tables: names resolved,
// types checked, text literals turned into sort keys once. Evaluates with
// SQL's three-valued logic; a row qualifies only when the result is True.
class Condition {
public:
    enum class Truth { False, True, Unknown };

    // `mismatchMessage` is Jet's wording for a type mismatch in this clause.
    static std::unique_ptr<Condition> bind(const ast::Expr& expr, const Scope& scope, const StatementText& text,
                                           const std::string& mismatchMessage);

    Truth evaluate(const SourceRows& rows) const;
    bool holds(const SourceRows& rows) const { return evaluate(rows) == Truth::True; }

    // Marks in wanted[source][column] every column the condition reads.
    void markColumns(std::vector<std::vector<bool>>& wanted) const;

    // For a condition "x = y" where x belongs to source `inner` and y to an
    // earlier one: (x, y), so that the join can look rows up by value.
    std::optional<std::pair<Scope::Column, Scope::Column>> equiJoin(size_t inner) const;

    // The class both sides of a comparison share (Compare nodes).
    ValueClass comparedClass() const { return class_; }

private:
    struct Operand {
        bool isColumn = false;
        Scope::Column column;
        jet::Value constant;
        jet::Bytes textKey; // constant text: its collation key

        const jet::Value& value(const SourceRows& rows) const
        {
            return isColumn ? (*rows[column.source])[column.index] : constant;
        }
    };

    Condition() = default;
    static Operand bindOperand(const ast::Operand& operand, const Scope& scope);
    void bindList(const ast::Expr& expr, const StatementText& text, const std::string& mismatchMessage);
    bool inList(const jet::Value& x) const;
    bool compares(int order) const;
    int compareValues(const Operand& a, const jet::Value& x, const Operand& b, const jet::Value& y) const;

    ast::Expr::Kind kind_ = ast::Expr::Kind::Compare;
    std::unique_ptr<Condition> first_;
    std::unique_ptr<Condition> second_;
    ast::CompareOp op_ = ast::CompareOp::Equal;
    bool negated_ = false;
    Operand left_;
    Operand right_;
    ValueClass class_ = ValueClass::Number;
    // In: the list's values, sorted for a binary search: whole numbers as
    // integers, texts as their collation keys, others as they are; and
    // whether the list names null.
    std::vector<int64_t> listIntegers_;
    std::vector<jet::Bytes> listKeys_;
    std::vector<jet::Value> listValues_;
    bool listHasNull_ = false;
    mutable jet::Bytes scratchA_; // key buffers reused between rows
    mutable jet::Bytes scratchB_;
};

} // namespace sql
