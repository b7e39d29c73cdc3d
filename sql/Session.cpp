#include "sql/Session.h"

#include <cctype>

#include "jet/Database.h"
#include "jet/Pager.h"
#include "jet/RowPlace.h"
#include "jet/RowView.h"
#include "jet/Table.h"
#include "sql/Lexer.h"
#include "sql/Parser.h"
#include "sql/SelectExecutor.h"
#include "sql/StatementText.h"
#include "sql/WriteExecutor.h"

namespace sql {

void RowSink::rowView(const jet::RowView& view, jet::RowLocator origin)
{
    view.decode(decoded_);
    row(decoded_, origin);
}

Session::Session(jet::Database& db) : db_(db) {}

Session::~Session() = default;

void Session::query(std::string_view statement, RowSink& sink) { query(statement, Parser::noParameters(), sink); }

void Session::query(std::string_view statement, const ParameterValues& parameters, RowSink& sink)
{
    StatementText text(statement);
    ast::Statement parsed = Parser(text, parameters).parse();
    const auto* select = std::get_if<ast::Select>(&parsed);
    if (!select) throw SqlError("This statement changes data and returns no rows; run it with execute, not query.");
    // One read scope for the whole query: every row comes from one state of the file.
    jet::ReadScope scope(db_.pager());
    SelectExecutor(db_, text).run(*select, sink);
}

int64_t Session::execute(std::string_view statement, const ParameterValues& parameters)
{
    StatementText text(statement);
    ast::Statement parsed = Parser(text, parameters).parse();
    WriteExecutor writer(db_, text);
    if (const auto* u = std::get_if<ast::Update>(&parsed)) return writer.update(*u);
    if (const auto* d = std::get_if<ast::Delete>(&parsed)) return writer.remove(*d);
    if (const auto* i = std::get_if<ast::Insert>(&parsed)) return writer.insert(*i);
    throw SqlError("A select statement returns rows; run it with query, not execute.");
}

bool Session::isQuery(std::string_view statement)
{
    size_t i = 0;
    while (i < statement.size() && (statement[i] == ' ' || statement[i] == '\t' || statement[i] == '\r' ||
                                    statement[i] == '\n' || statement[i] == '('))
        ++i;
    Token word;
    word.kind = TokenKind::Name;
    while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i]))) word.text += statement[i++];
    return word.isKeyword("select");
}

uint64_t Session::changeCount() const { return db_.pager().changeCount(); }

bool Session::changedOnDisk() const { return db_.pager().changedOnDisk(); }

void Session::beginTransaction() { db_.beginWrite(); }

void Session::commitTransaction()
{
    if (!db_.inWrite()) throw SqlError("No transaction is running.");
    db_.commit();
}

void Session::rollbackTransaction()
{
    if (db_.inWrite()) db_.rollback();
}

bool Session::inTransaction() const { return db_.inWrite(); }

bool Session::readRows(const std::string& table, uint64_t changeCount, const uint32_t* locators, size_t count,
                       const RowVisitor& visit)
{
    jet::Pager& pager = db_.pager();
    jet::ReadScope scope(pager);
    if (pager.changeCount() != changeCount) return false;
    jet::Table& from = db_.table(table);
    const std::string& where = from.location();
    // Every row is checked before any is visited, so that a visitor never
    // sees part of a set that is out of date.
    std::vector<jet::Table::RowBytes> rows;
    rows.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::optional<jet::Table::RowBytes> bytes = from.rowBytes(jet::RowLocator::fromPacked(locators[i]));
        if (!bytes) return false;
        rows.push_back(std::move(*bytes));
    }
    for (size_t i = 0; i < count; ++i) {
        const jet::RowLocator at = jet::RowLocator::fromPacked(locators[i]);
        jet::RowView view(from.def(), rows[i].data, rows[i].size, pager, jet::RowPlace{&where, rows[i].pageNumber, at.row});
        visit(i, view);
    }
    return true;
}

void Session::deleteRow(const std::string& table, jet::RowLocator row)
{
    StatementText none("");
    WriteExecutor(db_, none).deleteRow(table, row);
}

void Session::updateRow(const std::string& table, jet::RowLocator row,
                        const std::vector<std::pair<std::string, jet::Value>>& changes)
{
    StatementText none("");
    WriteExecutor(db_, none).updateRow(table, row, changes);
}

} // namespace sql
