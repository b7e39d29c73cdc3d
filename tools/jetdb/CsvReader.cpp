#include "CsvReader.h"

#include "Commands.h"

#include <stdexcept>

namespace jetdb {

CsvReader::CsvReader(std::string text, std::string source, std::string delimiter)
    : text_(std::move(text)), source_(std::move(source)), delimiter_(std::move(delimiter))
{
    if (delimiter_.empty()) throw UsageError("the delimiter is empty");
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;
}

bool CsvReader::next(Record& record)
{
    record.fields.clear();
    if (at_ >= text_.size()) return false;
    record.line = line_;
    std::string field;
    bool quoted = false;      // inside a quoted part of the field
    while (at_ < text_.size()) {
        const char c = text_[at_];
        if (quoted) {
            if (c == '"') {
                if (at_ + 1 < text_.size() && text_[at_ + 1] == '"') {
                    field += '"';
                    at_ += 2;
                    continue;
                }
                quoted = false;
                ++at_;
                continue;
            }
            if (c == '\n') ++line_;
            field += c;
            ++at_;
            continue;
        }
        if (c == '"') {
            quoted = true;
            ++at_;
            continue;
        }
        if (text_.compare(at_, delimiter_.size(), delimiter_) == 0) {
            record.fields.push_back(std::move(field));
            field.clear();
            at_ += delimiter_.size();
            continue;
        }
        if (c == '\n' || (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n')) {
            at_ += c == '\r' ? 2 : 1;
            ++line_;
            record.fields.push_back(std::move(field));
            return true;
        }
        field += c;
        ++at_;
    }
    if (quoted)
        throw std::runtime_error(source_ + " line " + std::to_string(record.line) +
                                 ": a quoted field is not closed by the end of the file");
    record.fields.push_back(std::move(field));
    return true;
}

} // namespace jetdb
