#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "sql/Session.h"

namespace sql {

// The text of the statement being run, so that every error can say where
// in it the problem lies.
class StatementText {
public:
    explicit StatementText(std::string_view text) : text_(text) {}

    std::string_view text() const { return text_; }
    // 1-based character (not byte) position of a byte offset.
    size_t position(size_t offset) const;
    // The statement text between two byte offsets, trimmed.
    std::string excerpt(size_t begin, size_t end) const;
    // `message` followed by the character position and the text found there,
    // e.g. "Syntax error in FROM clause. (position 15, near ',')".
    SqlError error(const std::string& message, size_t offset) const;
    // A name from the statement as a message quotes it: cut after 64
    // characters (names can be as long as the statement).
    static std::string name(const std::string& name);

private:
    std::string_view text_;
};

} // namespace sql
