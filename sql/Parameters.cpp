#include "sql/Parameters.h"

#include "base/NameCase.h"
#include "sql/Lexer.h"
#include "sql/StatementText.h"

namespace sql {

namespace {
// As Jet (through ADO) says it of a statement whose parameters lack values.
const char* const kNoValue = "No value given for one or more required parameters.";
} // namespace

const jet::Value& ParameterBinding::valueFor(std::string_view name, size_t offset, const StatementText& text)
{
    if (name.empty()) {
        while (nextUnnamed_ < values_.size() && !values_[nextUnnamed_].name.empty()) ++nextUnnamed_;
        if (nextUnnamed_ == values_.size()) throw text.error(kNoValue, offset);
        used_[nextUnnamed_] = true;
        return values_[nextUnnamed_++].value;
    }
    for (size_t i = 0; i < values_.size(); ++i) {
        if (!values_[i].name.empty() && base::NameCase::equalUtf8(values_[i].name, name)) {
            used_[i] = true;
            return values_[i].value;
        }
    }
    throw text.error(std::string(kNoValue) + " The parameter :" + StatementText::name(std::string(name)) + " has none.",
                     offset);
}

void ParameterBinding::checkAllTaken(const StatementText& text) const
{
    for (size_t i = 0; i < values_.size(); ++i) {
        if (used_[i]) continue;
        const std::string what = values_[i].name.empty()
                                     ? "more values for ? marks than the statement has marks"
                                     : "a value for the parameter :" + StatementText::name(values_[i].name) +
                                           ", which the statement does not use";
        throw text.error("The statement was given " + what + ".", text.text().size());
    }
}

std::vector<ParameterMark> ParameterBinding::marksOf(std::string_view statement)
{
    StatementText text(statement);
    std::vector<ParameterMark> marks;
    for (const Token& token : Lexer(text).tokenize())
        if (token.kind == TokenKind::Parameter) marks.push_back({token.offset, token.end, token.text});
    return marks;
}

} // namespace sql
