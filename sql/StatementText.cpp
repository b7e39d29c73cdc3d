#include "sql/StatementText.h"

#include <algorithm>

namespace sql {

namespace {
bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
} // namespace

size_t StatementText::position(size_t offset) const
{
    offset = std::min(offset, text_.size());
    size_t chars = 0;
    for (size_t i = 0; i < offset; ++i)
        if (!isContinuationByte(text_[i])) ++chars;
    return chars + 1;
}

std::string StatementText::excerpt(size_t begin, size_t end) const
{
    end = std::min(end, text_.size());
    begin = std::min(begin, end);
    while (begin < end && isSpace(text_[begin])) ++begin;
    while (end > begin && isSpace(text_[end - 1])) --end;
    return std::string(text_.substr(begin, end - begin));
}

SqlError StatementText::error(const std::string& message, size_t offset) const
{
    size_t start = std::min(offset, text_.size());
    while (start < text_.size() && isSpace(text_[start])) ++start;
    std::string where = " (position " + std::to_string(position(start));
    if (start >= text_.size()) return SqlError(message + where + ", at the end of the statement)");
    // Show up to 20 characters, cut at a character boundary and at a line end.
    size_t end = start;
    for (size_t chars = 0; end < text_.size() && chars < 20; ++chars) {
        if (text_[end] == '\n' || text_[end] == '\r') break;
        ++end;
        while (end < text_.size() && isContinuationByte(text_[end])) ++end;
    }
    std::string near(text_.substr(start, end - start));
    if (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') near += "...";
    return SqlError(message + where + ", near '" + near + "')");
}

std::string StatementText::name(const std::string& name)
{
    size_t end = 0;
    for (size_t chars = 0; end < name.size() && chars < 64; ++chars) {
        ++end;
        while (end < name.size() && isContinuationByte(name[end])) ++end;
    }
    return end < name.size() ? name.substr(0, end) + "..." : name;
}

} // namespace sql
