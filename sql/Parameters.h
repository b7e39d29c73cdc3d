#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "jet/Value.h"

namespace sql {

class StatementText;

// A value for a statement's parameter marks, as ADO's Parameters give them:
// a `?` mark takes the next value without a name, in order; a `:name` mark
// takes the value of that name (names compared as Jet compares names; a name
// used twice takes its value twice). A value stands where a literal may
// stand (a comparison, an in list, an update's value, an insert's value) and
// means what that literal would: it never becomes statement text.
struct ParameterValue {
    std::string name; // empty for a `?` mark
    jet::Value value;
};
using ParameterValues = std::vector<ParameterValue>;

// Where a parameter mark stands in a statement.
struct ParameterMark {
    size_t offset = 0; // byte offset of the mark
    size_t end = 0;    // just past it
    std::string name;  // empty for `?`
};

// Hands the parser the value of each mark it meets.
class ParameterBinding {
public:
    explicit ParameterBinding(const ParameterValues& values) : values_(values), used_(values.size(), false) {}

    // The value for a mark (`name` empty for `?`) at a byte offset of the
    // statement. Throws SqlError when none was given.
    const jet::Value& valueFor(std::string_view name, size_t offset, const StatementText& text);
    // Throws SqlError when a value was given that no mark took.
    void checkAllTaken(const StatementText& text) const;

    // The marks of a statement in order (none inside texts, [names] and
    // #dates#). Throws SqlError for text the lexer cannot split.
    static std::vector<ParameterMark> marksOf(std::string_view statement);

private:
    const ParameterValues& values_;
    std::vector<bool> used_;
    size_t nextUnnamed_ = 0;
};

} // namespace sql
