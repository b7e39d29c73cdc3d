#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "jet/Value.h"
#include "sql/StatementText.h"

namespace sql {

enum class TokenKind {
    Name,     // identifier or keyword; [bracketed] names are never keywords
    Integer,  // value: int64_t
    Decimal,  // value: jet::Decimal (exact, as written)
    Real,     // value: double (exponent, or too many digits for a decimal)
    Text,     // 'text' or "text"; value: std::u16string
    Date,     // #date#; value: jet::DateTime
    Parameter, // ? (text empty) or :name (text: the name); see Parameters.h
    Symbol,   // = <> < > <= >= ( ) , . * ; + -
    End,
};

struct Token {
    TokenKind kind = TokenKind::End;
    size_t offset = 0;       // byte offset in the statement
    size_t end = 0;          // byte offset just past the token
    std::string text;        // Name: as written, brackets removed; Symbol: the symbol
    bool bracketed = false;  // Name written as [name]
    jet::Value value;        // literals

    bool isSymbol(std::string_view s) const { return kind == TokenKind::Symbol && text == s; }
    // An unbracketed name equal to `word` (lower case) without regard to case.
    bool isKeyword(std::string_view word) const;
};

// Splits a statement into tokens. Literals are decoded here, so that a bad
// date or an unterminated text is reported at its own position.
class Lexer {
public:
    explicit Lexer(const StatementText& text) : text_(text) {}

    // All tokens, ending with one End token. Throws SqlError.
    std::vector<Token> tokenize();

    static bool isReservedWord(std::string_view name);

private:
    Token lexName(size_t& i);
    Token lexBracketedName(size_t& i);
    Token lexNumber(size_t& i);
    Token lexText(size_t& i);
    Token lexDate(size_t& i);
    Token lexParameter(size_t& i);

    const StatementText& text_;
};

} // namespace sql
