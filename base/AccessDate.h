#pragma once
#include <optional>
#include <string_view>

namespace base {

// The text of an Access date literal (between its # signs), read as Jet
// reads it in SQL and in a column's DefaultValue, whatever the locale:
// "2024-01-31", "2024/1/31", "1/31/2024" (month first), each with an
// optional time "10:00", "10:00:05", "10:00 PM"; or a time alone (on
// 1899-12-30). Two-digit years 0-29 mean 20xx, 30-99 mean 19xx. Every field
// is range-checked (31 February is not a date); spaces around are ignored.
// The one reader of this text: the SQL layer, the engine's defaults and the
// server's dialect all use it, so that a literal means the same everywhere.
class AccessDate {
public:
    struct Fields {
        int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    };
    static std::optional<Fields> parse(std::string_view text);
};

} // namespace base
