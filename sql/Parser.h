#pragma once
#include <string>
#include <vector>

#include "sql/Ast.h"
#include "sql/Lexer.h"
#include "sql/Parameters.h"
#include "sql/StatementText.h"

namespace sql {

// Turns a statement into its syntax tree. Syntax errors are SqlErrors
// worded as Jet words them, with the position where the parser stopped.
// Parameter marks become literals holding their values (which must outlive
// the parser).
class Parser {
public:
    explicit Parser(const StatementText& text, const ParameterValues& parameters = noParameters());

    ast::Statement parse();

    static const ParameterValues& noParameters();

private:
    ast::Select parseSelect();
    ast::Update parseUpdate();
    ast::Delete parseDelete();
    ast::Insert parseInsert();

    void parseFrom(ast::Select& select);
    ast::SelectItem parseSelectItem();
    ast::TableRef parseTableRef(const char* errorMessage);
    ast::ColumnRef parseColumnRef(const std::string& errorMessage);
    ast::OrderItem parseOrderItem();

    // A where or on condition. Errors inside it quote the condition's text
    // as Jet does.
    ast::ExprPtr parseCondition();
    ast::ExprPtr parseOr();
    ast::ExprPtr parseAnd();
    ast::ExprPtr parseNot();
    ast::ExprPtr parsePredicate();
    ast::Operand parseOperand();
    bool atLiteral() const;
    ast::Literal parseLiteral(const std::string& errorMessage);
    SqlError expressionError(const std::string& jetMessage) const;

    const Token& peek(size_t ahead = 0) const;
    const Token& next();
    bool acceptKeyword(std::string_view word);
    bool acceptSymbol(std::string_view symbol);
    void expectKeyword(std::string_view word, const std::string& errorMessage);
    void expectSymbol(std::string_view symbol, const std::string& errorMessage);
    bool atName() const; // a name usable as a table, column or alias
    std::string expectName(const std::string& errorMessage);
    SqlError errorHere(const std::string& message) const;
    void expectEnd();

    const StatementText& text_;
    ParameterBinding parameters_;
    std::vector<Token> tokens_;
    size_t at_ = 0;
    size_t conditionStart_ = 0; // token index of the condition being parsed
    // Conditions are evaluated recursively: their size and nesting are
    // bounded (as Jet bounds them) so that no statement can exhaust the stack.
    size_t conditionNodes_ = 0;
    size_t nesting_ = 0;
    void countNode();
};

} // namespace sql
