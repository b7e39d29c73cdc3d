#include "sql/DateLiteral.h"

namespace sql {

std::optional<jet::DateTime> DateLiteral::parse(std::string_view text) { return jet::fromAccessDateText(text); }

} // namespace sql
