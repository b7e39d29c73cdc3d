// Malformed and wrong statements: each gets an SqlError that says what is
// wrong and where, and none crashes or leaks another kind of exception.
#include "SqlTestSupport.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <gtest/gtest.h>

#include <random>

using namespace sqltest;

namespace {

// Runs a statement the way the data layer would: selects by query, the rest by execute.
void run(jet::Database& db, const std::string& statement)
{
    sql::Session session(db);
    if (sql::Session::isQuery(statement)) {
        Result r;
        session.query(statement, r);
    } else {
        session.execute(statement);
    }
}

struct ErrorCase {
    const char* statement;
    const char* message; // part of the expected message
    const char* at;      // where the error is reported: first occurrence in the statement; null = at the end
};

size_t expectedPosition(const ErrorCase& c)
{
    std::string s = c.statement;
    return c.at ? s.find(c.at) + 1 : s.size() + 1;
}

const ErrorCase kSyntaxErrors[] = {
    {"", "Invalid SQL statement; expected 'DELETE', 'INSERT', 'SELECT', or 'UPDATE'", nullptr},
    {"selec * from Table1", "Invalid SQL statement", "selec"},
    {"select from Table1", "The SELECT statement includes a reserved word", "from"},
    {"select * Table1", "The SELECT statement includes a reserved word", "Table1"},
    {"select id, from Table1", "The SELECT statement includes a reserved word", "from"},
    {"select * from", "Syntax error in FROM clause.", nullptr},
    {"select * from Table1, Table2", "Syntax error in FROM clause.", ", Table2"},
    {"select * from where", "Syntax error in FROM clause.", "where"},
    {"select * from Table1 where", "Syntax error (missing operator) in query expression", nullptr},
    {"select * from Table1 where id =", "Syntax error (missing operator) in query expression 'id ='", nullptr},
    {"select * from Table1 where id = = 1", "Syntax error (missing operator) in query expression 'id = = 1'", "= 1"},
    {"select * from Table1 where id is 5", "Syntax error (missing operator)", "5"},
    {"select * from Table1 where id", "Syntax error (missing operator)", nullptr},
    {"select * from Table1 where id = 1 and", "Syntax error (missing operator)", nullptr},
    {"select * from Table1 where (id = 1 or id = 2", "Missing ), ], or Item in query expression '(id = 1 or id = 2'",
     nullptr},
    {"select * from Table1 where id = 1)", "Characters found after end of SQL statement.", ")"},
    {"select * from Table1 where id != 1", "Invalid character", "!"},
    {"select * from Table1 where data = 'abc", "the closing quote is missing", "'abc"},
    {"select * from Table1 where data = 'it''s", "the closing quote is missing", "'it"},
    {"select * from Table1 where id = #2024-13-01#", "Syntax error in date in query expression '#2024-13-01#'", "#"},
    {"select * from Table1 where id = #2/30/2024#", "Syntax error in date", "#"},
    {"select * from Table1 where id = #2024-01-01", "the closing '#' is missing", "#"},
    {"select * from Table1 where id in 1, 2", "Syntax error (missing operator)", "1, 2"},
    {"select * from Table1 where id in ()", "Syntax error (missing operator) in query expression 'id in ()'", ")"},
    {"select * from Table1 where id in (1, otherfk1)", "Syntax error (missing operator)", "otherfk1"},
    {"select * from Table1 where id in (1, 2", "Missing ), ], or Item", nullptr},
    {"select * from Table1 order id", "Syntax error in ORDER BY clause.", "id"},
    {"select * from Table1 order by", "Syntax error in ORDER BY clause.", nullptr},
    {"select * from Table1 order by id,", "Syntax error in ORDER BY clause.", nullptr},
    {"select * from Table1 order by id descending", "Characters found after end of SQL statement.", "descending"},
    {"select * from Table1 a left Table2 b on a.id = b.id", "Syntax error in JOIN operation.", "Table2"},
    {"select * from Table1 a join Table2 b on a.id = b.id", "Syntax error in FROM clause.", "join"},
    {"select * from Table1 a left join Table2 b a.id = b.id", "Syntax error in JOIN operation.", "a.id"},
    {"select * from Table1 a left join Table2 b on", "Syntax error (missing operator)", nullptr},
    {"select * from Table1 a right join Table2 b on a.id = b.id", "RIGHT JOIN is not supported", "right"},
    {"select * from (Table1 a left join Table2 b on a.id = b.id", "Syntax error in FROM clause.", nullptr},
    {"select * from Table1 where id = 1 extra", "Characters found after end of SQL statement.", "extra"},
    {"select * from Table1; select * from Table2", "Characters found after end of SQL statement.", "select * from Table2"},
    {"select * from [Table1 where id = 1", "the closing ']' is missing", "["},
    {"select 1abc from Table1", "Syntax error in number.", "1abc"},
    {"select * from Table1 where id = 1.2.3", "Syntax error in number.", "1.2.3"},
    {"update Table1 set", "Syntax error in UPDATE statement.", nullptr},
    {"update Table1 set data 'x'", "Syntax error in UPDATE statement.", "'x'"},
    {"update Table1 set data = otherfk1", "the value given to a column must be a literal", "otherfk1"},
    {"update set data = 'x'", "Syntax error in UPDATE statement.", "set"},
    {"delete Table1 where id = 1", "Syntax error in DELETE statement.", "Table1"},
    {"delete from where id = 1", "Syntax error in FROM clause.", "where"},
    {"insert Table1 values (1)", "Syntax error in INSERT INTO statement.", "Table1"},
    {"insert into Table1 values", "Syntax error in INSERT INTO statement.", nullptr},
    {"insert into Table1 (id, data) values (5, 'x'", "Syntax error in INSERT INTO statement.", nullptr},
    {"insert into Table1 (id) values (otherfk1)", "each value must be a literal", "otherfk1"},
};

const ErrorCase kBindingErrors[] = {
    {"select * from NoSuchTable", "Cannot find the input table or query 'NoSuchTable'", "NoSuchTable"},
    {"select nope from Table1", "Unknown field name 'nope'", "nope"},
    {"select * from Table1 where nope = 1", "Unknown field name 'nope'", "nope"},
    {"select * from Table1 order by id, nope desc", "Unknown field name 'nope'", "nope"},
    {"select x.id from Table1 a", "Unknown table or alias 'x'", "x.id"},
    {"select Table1.id from Table1 a", "Unknown table or alias 'Table1'", "Table1.id"},
    {"select a.nope from Table1 a", "Unknown field name 'a.nope'", "a.nope"},
    {"select id from Table1 a inner join Table2 b on a.otherfk1 = b.id",
     "The specified field 'id' could refer to more than one table", "id from"},
    {"select * from Table1 a inner join Table2 b on a.id = c.id", "Unknown table or alias 'c'", "c.id"},
    {"select * from Table1 a inner join Table2 b on a.id = b.id inner join Table3 c on c.id = d.id",
     "Unknown table or alias 'd'", "d.id"},
    // A join's condition sees only the tables joined so far.
    {"select * from (Table1 a inner join Table2 b on b.id = c.id) inner join Table3 c on c.id = a.otherfk2",
     "Unknown table or alias 'c'", "c.id)"},
    {"select * from Table1 a inner join Table1 a on a.id = a.id", "named twice", "Table1 a on"},
    {"select * from Table1 where id = '1'", "Data type mismatch in criteria expression 'id = '1'' (number compared with text)",
     "id ="},
    {"select * from Table1 where '1' = id", "Data type mismatch in criteria expression", "'1'"},
    {"select * from Table1 where data = 1", "Data type mismatch in criteria expression", "data ="},
    {"select * from Table1 where data > #2024-01-01#", "Data type mismatch in criteria expression", "data >"},
    {"select * from Table1 where data = otherfk1", "Data type mismatch in criteria expression", "data ="},
    {"select * from Table1 where id in (1, '2')", "Data type mismatch in criteria expression 'id in (1, '2')'",
     "'2'"},
    {"select * from Table1 a inner join Table2 b on a.id = b.data", "Type mismatch in JOIN expression", "a.id ="},
    {"update Table1 set id = 'x' where id = 0", "Data type mismatch: a text cannot be stored in the number field 'Table1.id'",
     "'x'"},
    {"update Table1 set otherfk1 = 1 where data = 2", "Data type mismatch in criteria expression", "data ="},
    {"update Table1 set nope = 1", "Unknown field name 'nope'", "nope"},
    {"update Table1 set data = 'x', DATA = 'y'", "Duplicate output destination 'data'", "DATA"},
    {"update Table1 set otherfk1 = 2147483648", "Overflow", "2147483648"},
    {"update NoSuch set a = 1", "Cannot find the input table or query 'NoSuch'", "NoSuch"},
    {"delete from NoSuch", "Cannot find the input table or query 'NoSuch'", "NoSuch"},
    {"delete from Table1 where data = 5", "Data type mismatch in criteria expression", "data ="},
    {"insert into NoSuch (a) values (1)", "Cannot find the output table 'NoSuch'", "NoSuch"},
    {"insert into Table1 (nope) values (1)", "contains the following unknown field name: 'nope'", "nope"},
    {"insert into Table1 (id, ID) values (1, 2)", "Duplicate output destination 'id'", "ID"},
    {"insert into Table1 (id, data) values (5)", "Number of query values and destination fields are not the same",
     "values"},
    {"insert into Table1 values (5, 1, 1)", "Number of query values and destination fields are not the same",
     "values"},
    {"insert into Table1 (otherfk1) values (-3000000000)", "Overflow", "-3000000000"},
    {"insert into Table1 (data) values ('123456789012345678901234567890123456789012345678901')",
     "is too small to accept the amount of data", "'1234"},
    {"insert into Table1 (data) values (#2024-01-01#)", "Data type mismatch: a date cannot be stored in the text field",
     "#"},
};

void expectError(jet::Database& db, const ErrorCase& c)
{
    SCOPED_TRACE(c.statement);
    try {
        run(db, c.statement);
        ADD_FAILURE() << "no error";
    } catch (const sql::SqlError& e) {
        std::string message = e.what();
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find("(position " + std::to_string(expectedPosition(c)) + ","), std::string::npos)
            << message;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not an SqlError: " << e.what();
    }
}

TEST(StatementErrors, SyntaxErrorsSayWhatAndWhere)
{
    auto db = jet::Database::open(dataFile("indexTestV2003.mdb"));
    for (const ErrorCase& c : kSyntaxErrors) expectError(*db, c);
}

TEST(StatementErrors, UnknownNamesAndMismatchedTypesSayWhatAndWhere)
{
    // A writable copy: a binding error must come before the write itself.
    std::string file = scratchCopy("indexTestV2003.mdb", "binding-errors");
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    for (const ErrorCase& c : kBindingErrors) expectError(*db, c);
    EXPECT_EQ(query(*db, "select * from Table1").rows.size(), 4u);
}

TEST(StatementErrors, OtherTablesOwnRestrictions)
{
    std::string file = scratchCopy("testUnicodeCompV2003.mdb", "autonumber-errors");
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    expectError(*db, {"update [Table] set id = 5 where id = 1", "Cannot update 'ID'; field not updateable.", "id ="});
    auto project = jet::Database::open(dataFile("test2V2003.mdb"));
    expectError(*project, {"select PROJ_ID from MSP_PROJECTS order by RESERVED_BINARY_DATA",
                           "Cannot sort on the binary or OLE Object field 'RESERVED_BINARY_DATA'", "RESERVED"});
    expectError(*project, {"select PROJ_ID from MSP_PROJECTS where RESERVED_BINARY_DATA = 1",
                           "Data type mismatch in criteria expression", "RESERVED"});
}

TEST(StatementErrors, OversizedConditionsAreRefusedNotRecursedInto)
{
    auto db = jet::Database::open(dataFile("indexTestV2003.mdb"));
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string tooComplex[] = {
        "select * from Table1 where " + repeat("(", 100000) + "id = 1" + repeat(")", 100000),
        "select * from Table1 where " + repeat("not ", 100000) + "id = 1",
        "select * from Table1 where id = 1" + repeat(" and id = 1", 100000),
        "update Table1 set data = 'x' where id = 1" + repeat(" or id = 1", 5000),
        "select * from " + repeat("(", 40) + "Table1 t0" + [] {
            std::string joins;
            for (int i = 1; i <= 40; ++i)
                joins += " inner join Table2 t" + std::to_string(i) + " on t0.id = t" + std::to_string(i) + ".id)";
            return joins;
        }(),
    };
    for (const std::string& statement : tooComplex) {
        try {
            run(*db, statement);
            ADD_FAILURE() << "accepted";
        } catch (const sql::SqlError& e) {
            EXPECT_NE(std::string(e.what()).find("Query is too complex"), std::string::npos) << e.what();
            EXPECT_LT(std::string(e.what()).size(), 400u);
        }
    }
    // Within the bounds, long conditions work.
    EXPECT_EQ(query(*db, "select id from Table1 where " + repeat("(", 90) + "id = 2" + repeat(")", 90)).rows.size(),
              1u);
    EXPECT_EQ(query(*db, "select id from Table1 where id = 9" + repeat(" or id = 3", 400)).rows.size(), 1u);
}

TEST(StatementErrors, QueryAndExecuteRefuseTheOtherKind)
{
    auto db = jet::Database::open(dataFile("indexTestV2003.mdb"));
    sql::Session session(*db);
    Result r;
    EXPECT_THROW(session.query("delete from Table1", r), sql::SqlError);
    EXPECT_THROW(session.execute("select * from Table1"), sql::SqlError);
    EXPECT_EQ(query(*db, "select * from Table1").rows.size(), 4u);
}

// Every prefix of valid statements, and copies with one token dropped or
// doubled, must give a result or an SqlError, never anything else.
TEST(StatementErrors, DamagedStatementsNeverCrash)
{
    std::string file = scratchCopy("indexTestV2003.mdb", "damaged-statements");
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    const std::vector<std::string> valid = {
        "select a.*, b.data from Table1 a left join Table3 b on a.otherfk2 = b.id where (a.id > 0 or not "
        "b.data is null) and a.data <> 'x''y' order by b.data desc, a.id",
        "select * from Table1 where id = 1 and data = 'baz11' and otherfk2 >= 1.5 and otherfk1 <= -2",
        "select id from Table3 where id > 100 order by data",
        "update Table1 set otherfk3 = 0 where otherfk3 = 7",
        "delete from Table1 where data = 'no such row'",
        "insert into Table2 (id, data) values (99, 'n')",
    };
    std::mt19937 random(7);
    auto attempt = [&](const std::string& statement) {
        try {
            run(*db, statement);
        } catch (const sql::SqlError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << statement << ": not an SqlError: " << e.what();
        }
    };
    for (const std::string& s : valid) {
        for (size_t n = 0; n <= s.size(); ++n) attempt(s.substr(0, n));
        // Split at spaces and drop or double one word.
        std::vector<std::string> words;
        for (size_t i = 0, j; i < s.size(); i = j + 1) {
            j = s.find(' ', i);
            if (j == std::string::npos) j = s.size();
            words.push_back(s.substr(i, j - i));
        }
        for (size_t w = 0; w < words.size(); ++w) {
            for (int mode = 0; mode < 3; ++mode) {
                std::string out;
                for (size_t k = 0; k < words.size(); ++k) {
                    if (k == w && mode == 0) continue;
                    out += words[k] + " ";
                    if (k == w && mode == 1) out += words[k] + " ";
                    if (k == w && mode == 2) out += words[random() % words.size()] + " ";
                }
                attempt(out);
            }
        }
    }
}

} // namespace
