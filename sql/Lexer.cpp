#include "sql/Lexer.h"

#include <array>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/NameCase.h"
#include "sql/DateLiteral.h"
#include "sql/ValueConversion.h"

namespace sql {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// Names may hold letters of any script: every byte of a multi-byte UTF-8
// character counts as a name character.
bool isNameStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool isNameChar(char c) { return isNameStart(c) || isDigit(c); }

} // namespace

bool Token::isKeyword(std::string_view word) const
{
    return kind == TokenKind::Name && !bracketed && base::NameCase::equalUtf8(text, word);
}

bool Lexer::isReservedWord(std::string_view name)
{
    static constexpr std::array<std::string_view, 28> kWords = {
        "select", "from",  "where", "order", "by",     "and",   "or",  "not",    "is",
        "null",   "left",  "right", "inner", "outer",  "join",  "on",  "as",     "update",
        "set",    "delete", "insert", "into", "values", "asc",  "desc", "true",  "false", "in"};
    for (std::string_view w : kWords)
        if (base::NameCase::equalUtf8(name, w)) return true;
    return false;
}

std::vector<Token> Lexer::tokenize()
{
    std::string_view s = text_.text();
    std::vector<Token> tokens;
    size_t i = 0;
    while (true) {
        while (i < s.size() && isSpace(s[i])) ++i;
        if (i >= s.size()) break;
        char c = s[i];
        if (isNameStart(c)) {
            tokens.push_back(lexName(i));
        } else if (c == '[') {
            tokens.push_back(lexBracketedName(i));
        } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
            tokens.push_back(lexNumber(i));
        } else if (c == '\'' || c == '"') {
            tokens.push_back(lexText(i));
        } else if (c == '#') {
            tokens.push_back(lexDate(i));
        } else if (c == '?' || c == ':') {
            tokens.push_back(lexParameter(i));
        } else {
            Token t;
            t.kind = TokenKind::Symbol;
            t.offset = i;
            if ((c == '<' || c == '>') && i + 1 < s.size() && (s[i + 1] == '=' || (c == '<' && s[i + 1] == '>'))) {
                t.text = std::string(s.substr(i, 2));
            } else if (std::string_view("=<>(),.*;+-").find(c) != std::string_view::npos) {
                t.text = std::string(1, c);
            } else {
                throw text_.error("Invalid character in the statement.", i);
            }
            i += t.text.size();
            t.end = i;
            tokens.push_back(std::move(t));
        }
    }
    Token end;
    end.kind = TokenKind::End;
    end.offset = end.end = s.size();
    tokens.push_back(end);
    return tokens;
}

Token Lexer::lexName(size_t& i)
{
    std::string_view s = text_.text();
    Token t;
    t.kind = TokenKind::Name;
    t.offset = i;
    while (i < s.size() && isNameChar(s[i])) ++i;
    t.end = i;
    t.text = std::string(s.substr(t.offset, i - t.offset));
    return t;
}

Token Lexer::lexBracketedName(size_t& i)
{
    std::string_view s = text_.text();
    Token t;
    t.kind = TokenKind::Name;
    t.bracketed = true;
    t.offset = i;
    size_t close = s.find(']', i + 1);
    if (close == std::string_view::npos)
        throw text_.error("Invalid bracketing of name: the closing ']' is missing.", i);
    t.text = std::string(s.substr(i + 1, close - i - 1));
    if (t.text.empty() || t.text.find('[') != std::string::npos || t.text.find_first_of(".!`") != std::string::npos)
        throw text_.error("Invalid bracketing of name '" + t.text + "'.", i);
    i = close + 1;
    t.end = i;
    return t;
}

Token Lexer::lexNumber(size_t& i)
{
    std::string_view s = text_.text();
    Token t;
    t.offset = i;
    size_t intStart = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    std::string digits(s.substr(intStart, i - intStart));
    size_t fractionDigits = 0;
    bool hasPoint = false;
    if (i < s.size() && s[i] == '.') {
        hasPoint = true;
        ++i;
        size_t fracStart = i;
        while (i < s.size() && isDigit(s[i])) ++i;
        fractionDigits = i - fracStart;
        digits += s.substr(fracStart, fractionDigits);
    }
    bool hasExponent = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && isDigit(s[j])) {
            hasExponent = true;
            i = j;
            while (i < s.size() && isDigit(s[i])) ++i;
        }
    }
    if (i < s.size() && (isNameChar(s[i]) || s[i] == '.'))
        throw text_.error("Syntax error in number.", t.offset);
    t.end = i;
    t.text = std::string(s.substr(t.offset, i - t.offset));

    if (!hasPoint && !hasExponent) {
        errno = 0;
        char* stop = nullptr;
        long long v = std::strtoll(t.text.c_str(), &stop, 10);
        if (errno == 0 && *stop == '\0') {
            t.kind = TokenKind::Integer;
            t.value = int64_t(v);
            return t;
        }
    }
    jet::Decimal d;
    if (!hasExponent && ValueConversion::decimalFromDigits(digits, int(fractionDigits), false, d)) {
        t.kind = TokenKind::Decimal;
        t.value = d;
        return t;
    }
    double v = std::strtod(t.text.c_str(), nullptr);
    if (!std::isfinite(v)) throw text_.error("Overflow: the number is too large.", t.offset);
    t.kind = TokenKind::Real;
    t.value = v;
    return t;
}

Token Lexer::lexText(size_t& i)
{
    std::string_view s = text_.text();
    char quote = s[i];
    Token t;
    t.kind = TokenKind::Text;
    t.offset = i;
    std::string content;
    ++i;
    while (true) {
        if (i >= s.size())
            throw text_.error("Syntax error in string in query expression: the closing quote is missing.", t.offset);
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                content += quote; // doubled quote stands for one
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        content += s[i++];
    }
    t.end = i;
    t.text = content;
    t.value = jet::fromUtf8(content);
    return t;
}

Token Lexer::lexDate(size_t& i)
{
    std::string_view s = text_.text();
    Token t;
    t.kind = TokenKind::Date;
    t.offset = i;
    size_t close = s.find('#', i + 1);
    if (close == std::string_view::npos)
        throw text_.error("Syntax error in date in query expression: the closing '#' is missing.", i);
    t.text = std::string(s.substr(i + 1, close - i - 1));
    auto date = DateLiteral::parse(t.text);
    if (!date) throw text_.error("Syntax error in date in query expression '#" + t.text + "#'.", i);
    t.value = *date;
    i = close + 1;
    t.end = i;
    return t;
}

Token Lexer::lexParameter(size_t& i)
{
    std::string_view s = text_.text();
    Token t;
    t.kind = TokenKind::Parameter;
    t.offset = i;
    if (s[i++] == ':') {
        const size_t nameStart = i;
        while (i < s.size() && isNameChar(s[i])) ++i;
        if (i == nameStart) throw text_.error("Invalid character in the statement: ':' must begin a parameter name.", t.offset);
        t.text = std::string(s.substr(nameStart, i - nameStart));
    }
    t.end = i;
    return t;
}

} // namespace sql
