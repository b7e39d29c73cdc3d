#include "sql/Condition.h"

#include "jet/TextCollation.h"

#include <algorithm>

namespace sql {

Condition::Operand Condition::bindOperand(const ast::Operand& operand, const Scope& scope)
{
    Operand o;
    if (const auto* ref = std::get_if<ast::ColumnRef>(&operand)) {
        o.isColumn = true;
        o.column = scope.resolve(*ref);
    } else {
        o.constant = std::get<ast::Literal>(operand).value;
        if (const auto* text = std::get_if<std::u16string>(&o.constant)) o.textKey = jet::TextCollation::key(*text);
    }
    return o;
}

namespace {

size_t operandOffset(const ast::Operand& o)
{
    if (const auto* ref = std::get_if<ast::ColumnRef>(&o)) return ref->offset;
    return std::get<ast::Literal>(o).offset;
}

} // namespace

std::unique_ptr<Condition> Condition::bind(const ast::Expr& expr, const Scope& scope, const StatementText& text,
                                           const std::string& mismatchMessage)
{
    std::unique_ptr<Condition> c(new Condition);
    c->kind_ = expr.kind;
    switch (expr.kind) {
    case ast::Expr::Kind::And:
    case ast::Expr::Kind::Or:
        c->first_ = bind(*expr.first, scope, text, mismatchMessage);
        c->second_ = bind(*expr.second, scope, text, mismatchMessage);
        break;
    case ast::Expr::Kind::Not: c->first_ = bind(*expr.first, scope, text, mismatchMessage); break;
    case ast::Expr::Kind::IsNull:
        c->negated_ = expr.negated;
        c->left_ = bindOperand(expr.left, scope);
        break;
    case ast::Expr::Kind::In:
        c->negated_ = expr.negated;
        c->left_ = bindOperand(expr.left, scope);
        c->bindList(expr, text, mismatchMessage);
        break;
    case ast::Expr::Kind::Compare: {
        c->op_ = expr.op;
        c->left_ = bindOperand(expr.left, scope);
        c->right_ = bindOperand(expr.right, scope);
        auto classOf = [](const Operand& o) -> std::optional<ValueClass> {
            if (o.isColumn) return ValueOrder::classOf(o.column.def->type);
            return ValueOrder::classOf(o.constant);
        };
        std::optional<ValueClass> l = classOf(c->left_), r = classOf(c->right_);
        const std::string quoted = text.excerpt(expr.offset, expr.end);
        if (l && r && *l != *r)
            throw text.error(mismatchMessage + " '" + quoted + "' (" + ValueOrder::className(*l) + " compared with " +
                                 ValueOrder::className(*r) + ").",
                             operandOffset(expr.left));
        c->class_ = l ? *l : r ? *r : ValueClass::Number;
        if (!ValueOrder::isComparable(c->class_))
            throw text.error("Cannot compare binary or OLE Object fields in '" + quoted + "'.", expr.offset);
        break;
    }
    }
    return c;
}

void Condition::bindList(const ast::Expr& expr, const StatementText& text, const std::string& mismatchMessage)
{
    std::optional<ValueClass> left =
        left_.isColumn ? ValueOrder::classOf(left_.column.def->type) : ValueOrder::classOf(left_.constant);
    const std::string quoted = text.excerpt(expr.offset, expr.end);
    std::vector<const jet::Value*> values;
    for (const ast::Literal& literal : expr.list) {
        const std::optional<ValueClass> c = ValueOrder::classOf(literal.value);
        if (!c) {
            listHasNull_ = true;
            continue;
        }
        if (left && *left != *c)
            throw text.error(mismatchMessage + " '" + quoted + "' (" + ValueOrder::className(*left) + " compared with " +
                                 ValueOrder::className(*c) + ").",
                             literal.offset);
        left = c;
        values.push_back(&literal.value);
    }
    class_ = left ? *left : ValueClass::Number;
    if (!ValueOrder::isComparable(class_))
        throw text.error("Cannot compare binary or OLE Object fields in '" + quoted + "'.", expr.offset);

    const bool wholeNumbers = class_ == ValueClass::Number && std::all_of(values.begin(), values.end(), [](auto* v) {
                                  return ValueOrder::number(*v).exact;
                              });
    if (wholeNumbers) {
        for (const jet::Value* v : values) listIntegers_.push_back(ValueOrder::number(*v).integer);
        std::sort(listIntegers_.begin(), listIntegers_.end());
    } else if (class_ == ValueClass::Text) {
        for (const jet::Value* v : values) listKeys_.push_back(jet::TextCollation::key(std::get<std::u16string>(*v)));
        std::sort(listKeys_.begin(), listKeys_.end());
    } else {
        for (const jet::Value* v : values) listValues_.push_back(*v);
        std::sort(listValues_.begin(), listValues_.end(), [this](const jet::Value& a, const jet::Value& b) {
            return ValueOrder::compare(a, b, class_) < 0;
        });
    }
}

bool Condition::inList(const jet::Value& x) const
{
    if (!listIntegers_.empty()) {
        const ValueOrder::Number n = ValueOrder::number(x);
        return n.exact && std::binary_search(listIntegers_.begin(), listIntegers_.end(), n.integer);
    }
    if (!listKeys_.empty()) {
        scratchA_.clear();
        jet::TextCollation::appendKey(scratchA_, std::get<std::u16string>(x));
        return std::binary_search(listKeys_.begin(), listKeys_.end(), scratchA_);
    }
    return std::binary_search(listValues_.begin(), listValues_.end(), x, [this](const jet::Value& a, const jet::Value& b) {
        return ValueOrder::compare(a, b, class_) < 0;
    });
}

bool Condition::compares(int order) const
{
    switch (op_) {
    case ast::CompareOp::Equal: return order == 0;
    case ast::CompareOp::NotEqual: return order != 0;
    case ast::CompareOp::Less: return order < 0;
    case ast::CompareOp::Greater: return order > 0;
    case ast::CompareOp::LessEqual: return order <= 0;
    case ast::CompareOp::GreaterEqual: return order >= 0;
    }
    return false;
}

int Condition::compareValues(const Operand& a, const jet::Value& x, const Operand& b, const jet::Value& y) const
{
    if (class_ != ValueClass::Text) return ValueOrder::compare(x, y, class_);
    const auto& s = std::get<std::u16string>(x);
    const auto& t = std::get<std::u16string>(y);
    if (s == t) return 0;
    // A literal's key is made once; a column's into a reused buffer.
    const jet::Bytes* keyA = &a.textKey;
    const jet::Bytes* keyB = &b.textKey;
    if (a.isColumn) {
        scratchA_.clear();
        jet::TextCollation::appendKey(scratchA_, s);
        keyA = &scratchA_;
    }
    if (b.isColumn) {
        scratchB_.clear();
        jet::TextCollation::appendKey(scratchB_, t);
        keyB = &scratchB_;
    }
    return (*keyA > *keyB) - (*keyA < *keyB);
}

Condition::Truth Condition::evaluate(const SourceRows& rows) const
{
    switch (kind_) {
    case ast::Expr::Kind::And: {
        Truth a = first_->evaluate(rows);
        if (a == Truth::False) return Truth::False;
        Truth b = second_->evaluate(rows);
        if (b == Truth::False) return Truth::False;
        return a == Truth::True && b == Truth::True ? Truth::True : Truth::Unknown;
    }
    case ast::Expr::Kind::Or: {
        Truth a = first_->evaluate(rows);
        if (a == Truth::True) return Truth::True;
        Truth b = second_->evaluate(rows);
        if (b == Truth::True) return Truth::True;
        return a == Truth::False && b == Truth::False ? Truth::False : Truth::Unknown;
    }
    case ast::Expr::Kind::Not: {
        Truth a = first_->evaluate(rows);
        return a == Truth::Unknown ? a : a == Truth::True ? Truth::False : Truth::True;
    }
    case ast::Expr::Kind::IsNull: {
        bool isNull = jet::isNull(left_.value(rows));
        return isNull != negated_ ? Truth::True : Truth::False;
    }
    case ast::Expr::Kind::In: {
        const jet::Value& x = left_.value(rows);
        if (jet::isNull(x)) return Truth::Unknown;
        if (inList(x)) return negated_ ? Truth::False : Truth::True;
        if (listHasNull_) return Truth::Unknown;
        return negated_ ? Truth::True : Truth::False;
    }
    case ast::Expr::Kind::Compare: {
        const jet::Value& x = left_.value(rows);
        const jet::Value& y = right_.value(rows);
        if (jet::isNull(x) || jet::isNull(y)) return Truth::Unknown;
        return compares(compareValues(left_, x, right_, y)) ? Truth::True : Truth::False;
    }
    }
    return Truth::Unknown;
}

void Condition::markColumns(std::vector<std::vector<bool>>& wanted) const
{
    if (first_) first_->markColumns(wanted);
    if (second_) second_->markColumns(wanted);
    if (kind_ == ast::Expr::Kind::Compare || kind_ == ast::Expr::Kind::IsNull || kind_ == ast::Expr::Kind::In) {
        if (left_.isColumn) wanted[left_.column.source][left_.column.index] = true;
        if (kind_ == ast::Expr::Kind::Compare && right_.isColumn)
            wanted[right_.column.source][right_.column.index] = true;
    }
}

std::optional<std::pair<Scope::Column, Scope::Column>> Condition::equiJoin(size_t inner) const
{
    if (kind_ != ast::Expr::Kind::Compare || op_ != ast::CompareOp::Equal || !left_.isColumn || !right_.isColumn)
        return std::nullopt;
    if (left_.column.source == inner && right_.column.source < inner) return std::make_pair(left_.column, right_.column);
    if (right_.column.source == inner && left_.column.source < inner) return std::make_pair(right_.column, left_.column);
    return std::nullopt;
}

} // namespace sql
