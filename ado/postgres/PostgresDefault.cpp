#include "ado/postgres/PostgresDefault.h"

#include "ado/postgres/PostgresQuoting.h"
#include "sql/Lexer.h"
#include "sql/Session.h"
#include "sql/StatementText.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace postgres {

namespace {

using jet::ColumnType;

bool isNumberColumn(ColumnType type)
{
    switch (type) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::Numeric: return true;
    default: return false;
    }
}

bool isTextColumn(ColumnType type) { return type == ColumnType::Text || type == ColumnType::Memo; }

DefaultValue::Translation translated(std::string expression) { return {std::move(expression), {}}; }
DefaultValue::Translation refused(std::string why) { return {{}, std::move(why)}; }
DefaultValue::Translation doesNotFit(const char* what) { return refused(std::string(what) + " does not fit the column's type"); }

// A number token's value as the server's numeric text.
std::string numberText(const jet::Value& value, bool negative)
{
    std::string digits;
    if (const auto* i = std::get_if<int64_t>(&value)) digits = std::to_string(*i);
    else if (const auto* d = std::get_if<jet::Decimal>(&value)) digits = jet::decimalToString(*d);
    else {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.17g", std::get<double>(value));
        digits = buffer;
    }
    return negative ? "-" + digits : digits;
}

bool isZero(const jet::Value& value)
{
    if (const auto* i = std::get_if<int64_t>(&value)) return *i == 0;
    if (const auto* d = std::get_if<double>(&value)) return *d == 0;
    return jet::decimalToString(std::get<jet::Decimal>(value)).find_first_not_of("0.-") == std::string::npos;
}

std::string timestampOf(jet::DateTime value)
{
    const jet::CivilTime c = jet::toCivil(value);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "timestamp '%04d-%02d-%02d %02d:%02d:%02d.%03d'", c.year, c.month, c.day, c.hour,
                  c.minute, c.second, c.millisecond);
    return buffer;
}

} // namespace

DefaultValue::Translation DefaultValue::translate(const std::string& accessExpression, jet::ColumnType type)
{
    std::vector<sql::Token> tokens;
    try {
        const sql::StatementText text(accessExpression);
        tokens = sql::Lexer(text).tokenize();
    } catch (const sql::SqlError&) {
        return refused("it is not an expression the translation reads");
    }
    tokens.pop_back(); // End
    std::size_t at = 0;
    if (at < tokens.size() && tokens[at].isSymbol("=")) ++at;
    const std::size_t left = tokens.size() - at;
    const sql::Token* first = at < tokens.size() ? &tokens[at] : nullptr;
    if (!first) return refused("it is empty");
    auto function = [&](const char* name) {
        return left == 3 && first->isKeyword(name) && tokens[at + 1].isSymbol("(") && tokens[at + 2].isSymbol(")");
    };
    if (function("now")) return type == ColumnType::DateTime ? translated("localtimestamp(3)") : doesNotFit("Now()");
    if (function("date")) return type == ColumnType::DateTime ? translated("current_date") : doesNotFit("Date()");
    if (function("genguid")) return type == ColumnType::Guid ? translated("gen_random_uuid()") : doesNotFit("GenGUID()");

    // A signed number: two tokens.
    const bool signedNumber = left == 2 && (first->isSymbol("-") || first->isSymbol("+")) &&
                              (tokens[at + 1].kind == sql::TokenKind::Integer ||
                               tokens[at + 1].kind == sql::TokenKind::Decimal || tokens[at + 1].kind == sql::TokenKind::Real);
    if (left != 1 && !signedNumber) return refused("it is not an expression the translation knows");
    const sql::Token& token = signedNumber ? tokens[at + 1] : *first;
    const bool negative = signedNumber && first->isSymbol("-");

    switch (token.kind) {
    case sql::TokenKind::Integer:
    case sql::TokenKind::Decimal:
    case sql::TokenKind::Real: {
        if (const auto* d = std::get_if<double>(&token.value); d && !std::isfinite(*d)) return refused("the number is out of range");
        if (type == ColumnType::Boolean) return translated(isZero(token.value) ? "false" : "true");
        if (isNumberColumn(type)) return translated(numberText(token.value, negative));
        if (isTextColumn(type)) return translated(Quoting::text(numberText(token.value, negative)));
        return doesNotFit("a number");
    }
    case sql::TokenKind::Text: {
        if (!isTextColumn(type)) return doesNotFit("a text");
        const std::string text = jet::toUtf8(std::get<std::u16string>(token.value));
        if (text.find('\0') != std::string::npos) return refused("its text holds a NUL character, which the server cannot store");
        return translated(Quoting::text(text));
    }
    case sql::TokenKind::Date:
        if (type == ColumnType::DateTime) return translated(timestampOf(std::get<jet::DateTime>(token.value)));
        return doesNotFit("a date");
    case sql::TokenKind::Name:
        if (token.bracketed) break;
        if (token.isKeyword("null")) return translated("NULL");
        if (token.isKeyword("true") || token.isKeyword("yes") || token.isKeyword("false") || token.isKeyword("no")) {
            const bool yes = token.isKeyword("true") || token.isKeyword("yes");
            if (type == ColumnType::Boolean) return translated(yes ? "true" : "false");
            if (isNumberColumn(type)) return translated(yes ? "-1" : "0"); // Access's True is -1
            return doesNotFit(yes ? "True" : "False");
        }
        break;
    default: break;
    }
    return refused("it is not an expression the translation knows");
}

} // namespace postgres
