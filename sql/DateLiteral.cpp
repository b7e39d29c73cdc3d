#include "sql/DateLiteral.h"

#include "base/AccessDate.h"

namespace sql {

std::optional<jet::DateTime> DateLiteral::parse(std::string_view text)
{
    const std::optional<base::AccessDate::Fields> f = base::AccessDate::parse(text);
    if (!f) return std::nullopt;
    jet::CivilTime c;
    c.year = f->year;
    c.month = f->month;
    c.day = f->day;
    c.hour = f->hour;
    c.minute = f->minute;
    c.second = f->second;
    return jet::fromCivil(c);
}

} // namespace sql
