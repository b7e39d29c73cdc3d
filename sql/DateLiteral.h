#pragma once
#include <optional>
#include <string_view>

#include "jet/Value.h"

namespace sql {

// The text between the # signs of a date literal, read as Jet reads it in
// SQL: "2024-01-31", "2024/1/31", "1/31/2024" (month first), each with an
// optional time "10:00", "10:00:05", "10:00 PM"; or a time alone (on
// 1899-12-30). Two-digit years 0-29 mean 20xx, 30-99 mean 19xx.
class DateLiteral {
public:
    static std::optional<jet::DateTime> parse(std::string_view text);
};

} // namespace sql
