#include "sql/Parser.h"

namespace sql {

namespace {
const char* const kSelectListError =
    "The SELECT statement includes a reserved word or an argument name that is misspelled or missing, or the "
    "punctuation is incorrect.";
const char* const kFromError = "Syntax error in FROM clause.";
const char* const kJoinError = "Syntax error in JOIN operation.";
const char* const kOrderByError = "Syntax error in ORDER BY clause.";
const char* const kUpdateError = "Syntax error in UPDATE statement.";
const char* const kDeleteError = "Syntax error in DELETE statement.";
const char* const kInsertError = "Syntax error in INSERT INTO statement.";
const char* const kTooComplex =
    "Query is too complex: a condition may hold at most 1000 comparisons, ANDs, ORs and NOTs, nested at most 100 deep.";
constexpr size_t kMaxConditionNodes = 1000; // and, or, not and comparisons in one condition
constexpr size_t kMaxNesting = 100;         // parentheses and nots inside each other
constexpr size_t kMaxTables = 32;           // as in Jet
} // namespace

Parser::Parser(const StatementText& text, const ParameterValues& parameters) : text_(text), parameters_(parameters)
{
    tokens_ = Lexer(text_).tokenize();
}

const ParameterValues& Parser::noParameters()
{
    static const ParameterValues none;
    return none;
}

const Token& Parser::peek(size_t ahead) const
{
    size_t i = at_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
}

const Token& Parser::next()
{
    const Token& t = peek();
    if (at_ + 1 < tokens_.size()) ++at_;
    return t;
}

bool Parser::acceptKeyword(std::string_view word)
{
    if (!peek().isKeyword(word)) return false;
    next();
    return true;
}

bool Parser::acceptSymbol(std::string_view symbol)
{
    if (!peek().isSymbol(symbol)) return false;
    next();
    return true;
}

void Parser::expectKeyword(std::string_view word, const std::string& errorMessage)
{
    if (!acceptKeyword(word)) throw errorHere(errorMessage);
}

void Parser::expectSymbol(std::string_view symbol, const std::string& errorMessage)
{
    if (!acceptSymbol(symbol)) throw errorHere(errorMessage);
}

bool Parser::atName() const
{
    const Token& t = peek();
    return t.kind == TokenKind::Name && (t.bracketed || !Lexer::isReservedWord(t.text));
}

std::string Parser::expectName(const std::string& errorMessage)
{
    if (!atName()) throw errorHere(errorMessage);
    return next().text;
}

SqlError Parser::errorHere(const std::string& message) const { return text_.error(message, peek().offset); }

void Parser::expectEnd()
{
    acceptSymbol(";");
    if (peek().kind != TokenKind::End) throw errorHere("Characters found after end of SQL statement.");
}

ast::Statement Parser::parse()
{
    const Token& first = peek();
    ast::Statement result;
    if (first.isKeyword("select")) {
        result = parseSelect();
    } else if (first.isKeyword("update")) {
        result = parseUpdate();
    } else if (first.isKeyword("delete")) {
        result = parseDelete();
    } else if (first.isKeyword("insert")) {
        result = parseInsert();
    } else {
        throw errorHere("Invalid SQL statement; expected 'DELETE', 'INSERT', 'SELECT', or 'UPDATE'.");
    }
    expectEnd();
    parameters_.checkAllTaken(text_);
    return result;
}

// ---- select ---------------------------------------------------------------

ast::Select Parser::parseSelect()
{
    ast::Select s;
    expectKeyword("select", kSelectListError);
    do {
        s.items.push_back(parseSelectItem());
    } while (acceptSymbol(","));
    expectKeyword("from", kSelectListError);
    parseFrom(s);
    if (acceptKeyword("where")) s.where = parseCondition();
    if (acceptKeyword("order")) {
        expectKeyword("by", kOrderByError);
        do {
            s.orderBy.push_back(parseOrderItem());
        } while (acceptSymbol(","));
    }
    return s;
}

ast::SelectItem Parser::parseSelectItem()
{
    ast::SelectItem item;
    item.offset = peek().offset;
    if (acceptSymbol("*")) {
        item.kind = ast::SelectItem::Kind::AllColumns;
        return item;
    }
    if (atName() && peek(1).isSymbol(".") && peek(2).isSymbol("*")) {
        item.kind = ast::SelectItem::Kind::TableColumns;
        item.column.offset = peek().offset;
        item.column.qualifier = next().text;
        next();
        item.column.end = next().end;
        return item;
    }
    item.kind = ast::SelectItem::Kind::Column;
    item.column = parseColumnRef(kSelectListError);
    if (acceptKeyword("as")) item.alias = expectName(kSelectListError);
    return item;
}

ast::ColumnRef Parser::parseColumnRef(const std::string& errorMessage)
{
    ast::ColumnRef c;
    c.offset = peek().offset;
    std::string first = expectName(errorMessage);
    if (acceptSymbol(".")) {
        c.qualifier = std::move(first);
        c.name = expectName(errorMessage);
    } else {
        c.name = std::move(first);
    }
    c.end = tokens_[at_ - 1].end;
    return c;
}

ast::TableRef Parser::parseTableRef(const char* errorMessage)
{
    ast::TableRef t;
    t.offset = peek().offset;
    t.name = expectName(errorMessage);
    if (acceptKeyword("as")) {
        t.alias = expectName(errorMessage);
    } else if (atName()) {
        t.alias = next().text;
    }
    return t;
}

// from T [alias] { [inner|left [outer]] join T [alias] on condition }, with
// the parentheses Jet wants around all but the last join, e.g.
// "from (a inner join b on a.x = b.x) left join c on b.y = c.y".
void Parser::parseFrom(ast::Select& s)
{
    int open = 0;
    while (acceptSymbol("(")) ++open;
    s.from = parseTableRef(kFromError);
    while (true) {
        size_t joinOffset = peek().offset;
        bool left = false;
        if (acceptKeyword("inner")) {
            left = false;
        } else if (acceptKeyword("left")) {
            left = true;
            acceptKeyword("outer");
        } else if (peek().isKeyword("right")) {
            throw errorHere("RIGHT JOIN is not supported; write it as a LEFT JOIN with the tables swapped.");
        } else if (peek().isKeyword("join") || peek().isSymbol(",")) {
            throw errorHere(kFromError);
        } else {
            break;
        }
        expectKeyword("join", kJoinError);
        if (s.joins.size() + 1 >= kMaxTables)
            throw text_.error("Query is too complex: a query may name at most 32 tables.", joinOffset);
        ast::Join j;
        j.left = left;
        j.offset = joinOffset;
        if (peek().isSymbol("(")) throw errorHere("JOIN expression not supported.");
        j.table = parseTableRef(kJoinError);
        expectKeyword("on", kJoinError);
        j.on = parseCondition();
        s.joins.push_back(std::move(j));
        while (open > 0 && acceptSymbol(")")) --open;
    }
    if (open > 0) throw errorHere(kFromError);
    if (peek().isSymbol(")")) throw errorHere(kFromError);
}

ast::OrderItem Parser::parseOrderItem()
{
    ast::OrderItem item;
    item.column = parseColumnRef(kOrderByError);
    if (acceptKeyword("desc")) {
        item.descending = true;
    } else {
        acceptKeyword("asc");
    }
    return item;
}

// ---- update, delete, insert -------------------------------------------------

ast::Update Parser::parseUpdate()
{
    ast::Update u;
    expectKeyword("update", kUpdateError);
    u.table = parseTableRef(kUpdateError);
    expectKeyword("set", kUpdateError);
    do {
        ast::Assignment a;
        a.column = parseColumnRef(kUpdateError);
        expectSymbol("=", kUpdateError);
        a.value = parseLiteral("Syntax error in UPDATE statement: the value given to a column must be a literal.");
        u.assignments.push_back(std::move(a));
    } while (acceptSymbol(","));
    if (acceptKeyword("where")) u.where = parseCondition();
    return u;
}

ast::Delete Parser::parseDelete()
{
    ast::Delete d;
    expectKeyword("delete", kDeleteError);
    // "delete * from t" and "delete t.* from t" mean the same as "delete from t".
    if (!acceptSymbol("*") && atName() && peek(1).isSymbol(".") && peek(2).isSymbol("*")) {
        at_ += 3;
    }
    expectKeyword("from", kDeleteError);
    d.table = parseTableRef(kFromError);
    if (acceptKeyword("where")) d.where = parseCondition();
    return d;
}

ast::Insert Parser::parseInsert()
{
    ast::Insert ins;
    expectKeyword("insert", kInsertError);
    expectKeyword("into", kInsertError);
    ins.table.offset = peek().offset;
    ins.table.name = expectName(kInsertError);
    if (acceptSymbol("(")) {
        do {
            ins.columns.push_back(parseColumnRef(kInsertError));
        } while (acceptSymbol(","));
        expectSymbol(")", kInsertError);
    }
    ins.valuesOffset = peek().offset;
    expectKeyword("values", kInsertError);
    expectSymbol("(", kInsertError);
    do {
        ins.values.push_back(parseLiteral("Syntax error in INSERT INTO statement: each value must be a literal."));
    } while (acceptSymbol(","));
    expectSymbol(")", kInsertError);
    return ins;
}

// ---- conditions ---------------------------------------------------------------

ast::ExprPtr Parser::parseCondition()
{
    conditionStart_ = at_;
    conditionNodes_ = 0;
    nesting_ = 0;
    return parseOr();
}

void Parser::countNode()
{
    if (++conditionNodes_ > kMaxConditionNodes) throw errorHere(kTooComplex);
}

SqlError Parser::expressionError(const std::string& jetMessage) const
{
    // Quote the condition from its start to the end of its clause.
    size_t endToken = at_;
    int depth = 0;
    for (size_t i = conditionStart_; i < tokens_.size(); ++i) {
        const Token& t = tokens_[i];
        endToken = i;
        if (t.kind == TokenKind::End) break;
        if (t.isSymbol("(")) ++depth;
        if (t.isSymbol(")") && --depth < 0) break;
        if (depth == 0 && (t.isKeyword("order") || t.isKeyword("where") || t.isKeyword("inner") ||
                           t.isKeyword("left") || t.isSymbol(";")) && i > conditionStart_)
            break;
    }
    std::string quoted = text_.excerpt(tokens_[conditionStart_].offset, tokens_[endToken].offset);
    if (quoted.size() > 200) {
        size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(quoted[cut]) & 0xC0) == 0x80) --cut; // whole characters
        quoted = quoted.substr(0, cut) + "...";
    }
    return text_.error(jetMessage + " in query expression '" + quoted + "'.", peek().offset);
}

ast::ExprPtr Parser::parseOr()
{
    ast::ExprPtr left = parseAnd();
    while (peek().isKeyword("or")) {
        next();
        countNode();
        auto e = std::make_unique<ast::Expr>();
        e->kind = ast::Expr::Kind::Or;
        e->offset = left->offset;
        e->second = parseAnd();
        e->end = e->second->end;
        e->first = std::move(left);
        left = std::move(e);
    }
    return left;
}

ast::ExprPtr Parser::parseAnd()
{
    ast::ExprPtr left = parseNot();
    while (peek().isKeyword("and")) {
        next();
        countNode();
        auto e = std::make_unique<ast::Expr>();
        e->kind = ast::Expr::Kind::And;
        e->offset = left->offset;
        e->second = parseNot();
        e->end = e->second->end;
        e->first = std::move(left);
        left = std::move(e);
    }
    return left;
}

ast::ExprPtr Parser::parseNot()
{
    if (peek().isKeyword("not") || peek().isSymbol("(")) {
        if (++nesting_ > kMaxNesting) throw errorHere(kTooComplex);
        ast::ExprPtr result;
        if (peek().isKeyword("not")) {
            size_t offset = next().offset;
            countNode();
            result = std::make_unique<ast::Expr>();
            result->kind = ast::Expr::Kind::Not;
            result->offset = offset;
            result->first = parseNot();
            result->end = result->first->end;
        } else {
            next();
            result = parseOr();
            if (!acceptSymbol(")")) throw expressionError("Missing ), ], or Item");
        }
        --nesting_;
        return result;
    }
    countNode();
    return parsePredicate();
}

ast::ExprPtr Parser::parsePredicate()
{
    auto e = std::make_unique<ast::Expr>();
    e->offset = peek().offset;
    e->left = parseOperand();
    if (acceptKeyword("is")) {
        e->kind = ast::Expr::Kind::IsNull;
        e->negated = acceptKeyword("not");
        if (!peek().isKeyword("null")) throw expressionError("Syntax error (missing operator)");
        e->end = next().end;
        return e;
    }
    if (peek().isKeyword("in") || (peek().isKeyword("not") && peek(1).isKeyword("in"))) {
        // A list of literals; however long, it counts as one comparison.
        e->kind = ast::Expr::Kind::In;
        e->negated = acceptKeyword("not");
        next();
        if (!acceptSymbol("(")) throw expressionError("Syntax error (missing operator)");
        do {
            if (!atLiteral()) throw expressionError("Syntax error (missing operator)");
            e->list.push_back(parseLiteral("Syntax error (missing operator)"));
        } while (acceptSymbol(","));
        if (!peek().isSymbol(")")) throw expressionError("Missing ), ], or Item");
        e->end = next().end;
        return e;
    }
    static const std::pair<std::string_view, ast::CompareOp> kOperators[] = {
        {"=", ast::CompareOp::Equal},         {"<>", ast::CompareOp::NotEqual},
        {"<", ast::CompareOp::Less},          {">", ast::CompareOp::Greater},
        {"<=", ast::CompareOp::LessEqual},    {">=", ast::CompareOp::GreaterEqual}};
    for (const auto& [symbol, op] : kOperators) {
        if (acceptSymbol(symbol)) {
            e->kind = ast::Expr::Kind::Compare;
            e->op = op;
            e->right = parseOperand();
            e->end = tokens_[at_ - 1].end;
            return e;
        }
    }
    throw expressionError("Syntax error (missing operator)");
}

bool Parser::atLiteral() const
{
    const Token& t = peek();
    switch (t.kind) {
    case TokenKind::Integer:
    case TokenKind::Decimal:
    case TokenKind::Real:
    case TokenKind::Text:
    case TokenKind::Date:
    case TokenKind::Parameter: return true;
    case TokenKind::Symbol:
        return (t.isSymbol("-") || t.isSymbol("+")) &&
               (peek(1).kind == TokenKind::Integer || peek(1).kind == TokenKind::Decimal ||
                peek(1).kind == TokenKind::Real);
    case TokenKind::Name: return t.isKeyword("null") || t.isKeyword("true") || t.isKeyword("false");
    case TokenKind::End: return false;
    }
    return false;
}

ast::Operand Parser::parseOperand()
{
    if (atLiteral()) return parseLiteral("Syntax error (missing operator)");
    if (!atName()) throw expressionError("Syntax error (missing operator)");
    return parseColumnRef("Syntax error (missing operator)");
}

ast::Literal Parser::parseLiteral(const std::string& errorMessage)
{
    if (!atLiteral()) throw errorHere(errorMessage);
    ast::Literal lit;
    lit.offset = peek().offset;
    bool negative = false;
    if (peek().kind == TokenKind::Symbol) negative = next().text == "-";
    const Token& t = next();
    lit.end = t.end;
    if (t.kind == TokenKind::Parameter) {
        lit.value = parameters_.valueFor(t.text, t.offset, text_);
    } else if (t.isKeyword("null")) {
        lit.value = std::monostate{};
    } else if (t.isKeyword("true")) {
        lit.value = true;
    } else if (t.isKeyword("false")) {
        lit.value = false;
    } else {
        lit.value = t.value;
    }
    if (negative) {
        if (auto* i = std::get_if<int64_t>(&lit.value)) {
            *i = -*i;
        } else if (auto* d = std::get_if<double>(&lit.value)) {
            *d = -*d;
        } else if (auto* dec = std::get_if<jet::Decimal>(&lit.value)) {
            dec->negative = !dec->negative;
        }
    }
    return lit;
}

} // namespace sql
