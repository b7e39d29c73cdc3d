#pragma once
#include <optional>
#include <string_view>

#include "jet/Value.h"

namespace sql {

// The text between the # signs of a date literal as a Date/Time value
// (base::AccessDate reads it).
class DateLiteral {
public:
    static std::optional<jet::DateTime> parse(std::string_view text);
};

} // namespace sql
