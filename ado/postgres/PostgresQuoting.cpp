#include "ado/postgres/PostgresQuoting.h"

namespace postgres {

namespace {

void refuseNul(std::string_view text, const char* what)
{
    if (text.find('\0') != std::string_view::npos)
        throw QuotingError(std::string(what) + " holds a NUL character, which the database server cannot store");
}

} // namespace

std::string Quoting::identifier(std::string_view name)
{
    refuseNul(name, "A name");
    std::string quoted = "\"";
    quoted.reserve(name.size() + 2);
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string Quoting::text(std::string_view text)
{
    refuseNul(text, "A text");
    std::string quoted = "E'";
    quoted.reserve(text.size() + 3);
    for (char c : text) {
        if (c == '\\' || c == '\'') quoted += c;
        quoted += c;
    }
    return quoted + '\'';
}

} // namespace postgres
