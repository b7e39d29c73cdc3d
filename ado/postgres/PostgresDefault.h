#pragma once

#include "jet/TableDef.h"

#include <string>

namespace postgres {

// An Access column's DefaultValue as the default of its column on the
// server. The expression is read by the SQL layer's lexer and rebuilt from
// its value, never copied: a number, a 'text' or "text", a #date#, True,
// False, Yes, No, Null, Now(), Date() or GenGUID(), with an optional leading '=', each
// only into a column whose type takes it. Anything else is refused with the
// reason, so that the caller can warn and leave the default out.
class DefaultValue {
public:
    struct Translation {
        std::string expression; // the server's default; empty when refused
        std::string refusal;    // why it was refused; empty when translated
    };
    static Translation translate(const std::string& accessExpression, jet::ColumnType type);
};

} // namespace postgres
