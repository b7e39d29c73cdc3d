#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace postgres {

// A name or text that cannot be written into the server's SQL (it holds
// a NUL character, which the server cannot store).
class QuotingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The one way a name or a text becomes part of a statement for the server:
// quoted so that nothing inside can end the quotes, whatever the session's
// settings. Texts are UTF-8 (the client encoding Qt's driver sets, and what
// `jetdb schema --sql postgresql` declares).
class Quoting {
public:
    // "name": ASCII letters in lower case (the case unquoted names fold to),
    // every '"' doubled. The server reads no escapes inside double quotes.
    static std::string identifier(std::string_view name);
    // E'text': every backslash and apostrophe doubled. An E'' literal reads
    // backslashes as escapes whatever standard_conforming_strings says, so
    // the doubled ones stand for themselves either way.
    static std::string text(std::string_view text);
};

} // namespace postgres
