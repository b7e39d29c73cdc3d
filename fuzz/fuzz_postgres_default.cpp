// Fuzz target: an Access DefaultValue expression, as a hostile file may
// hold it, translated for a PostgreSQL column of every type. A translation
// must be one whole expression of a known shape (a keyword, a number, a
// timestamp, or one E'' text that the server's scanner ends exactly at its
// last character); anything else is refused. A crash, or a translation of
// another shape, aborts.
#include "ado/postgres/PostgresDefault.h"

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

// Where the server's scanner ends an E'...' literal that starts at 0.
std::size_t escapeLiteralEnd(const std::string& text)
{
    for (std::size_t i = 2; i < text.size(); ++i) {
        if (text[i] == '\\') ++i;
        else if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'') ++i;
            else return i;
        }
    }
    return std::string::npos;
}

bool knownShape(const std::string& expression)
{
    static const std::regex plain(
        "localtimestamp\\(3\\)|current_date|gen_random_uuid\\(\\)|NULL|true|false|-?1|0|"
        "-?[0-9][0-9.eE+-]*|timestamp '[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}'");
    if (std::regex_match(expression, plain)) return true;
    return expression.size() >= 3 && expression.compare(0, 2, "E'") == 0 &&
           escapeLiteralEnd(expression) == expression.size() - 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string expression(reinterpret_cast<const char*>(data), size);
    for (jet::ColumnType type : {jet::ColumnType::Boolean, jet::ColumnType::Long, jet::ColumnType::Double,
                                 jet::ColumnType::Numeric, jet::ColumnType::Currency, jet::ColumnType::DateTime,
                                 jet::ColumnType::Text, jet::ColumnType::Memo, jet::ColumnType::Guid,
                                 jet::ColumnType::Binary}) {
        const postgres::DefaultValue::Translation t = postgres::DefaultValue::translate(expression, type);
        if (t.expression.empty() == t.refusal.empty()) std::abort();
        if (!t.expression.empty() && !knownShape(t.expression)) std::abort();
    }
    return 0;
}
