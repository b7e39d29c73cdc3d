// Updates and deletes whose where clause pins an indexed column to one
// value find their rows through the index. Every statement runs on two
// copies of a file, one looking rows up and one scanning; the copies must
// change the same rows the same way (read back by mdbtools, byte for byte,
// and `jetdb check`).
#include "SqlTestSupport.h"
#include "TestSupport.h"

#include "jet/Database.h"
#include "sql/Parser.h"
#include "sql/StatementText.h"
#include "sql/WriteExecutor.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sqltest;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int64_t affected = 0;
    int64_t examined = 0;
};

Outcome execute(const std::string& file, const std::string& statement, bool indexLookups)
{
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    sql::StatementText text(statement);
    sql::ast::Statement parsed = sql::Parser(text).parse();
    sql::WriteExecutor writer(*db, text);
    writer.setIndexLookups(indexLookups);
    Outcome out;
    if (const auto* u = std::get_if<sql::ast::Update>(&parsed)) out.affected = writer.update(*u);
    else out.affected = writer.remove(std::get<sql::ast::Delete>(parsed));
    out.examined = writer.rowsExamined();
    return out;
}

struct Statement {
    const char* text;
    int64_t affected;
    bool lookedUp; // found through an index (else the table is scanned either way)
};

void runBothWays(const std::string& original, const std::string& table, const std::vector<Statement>& statements)
{
    fs::path dir = fs::path(original).parent_path();
    std::string looked = (dir / "lookup.mdb").string(), scanned = (dir / "scan.mdb").string();
    for (const std::string& copy : {looked, scanned}) {
        fs::remove(copy); // not copy_file's overwrite: libstdc++ on Windows refuses it
        fs::copy_file(original, copy);
    }
    int64_t rows = jet::Database::open(original)->table(table).def().rowCount;
    for (const Statement& s : statements) {
        SCOPED_TRACE(s.text);
        Outcome a = execute(looked, s.text, true);
        Outcome b = execute(scanned, s.text, false);
        EXPECT_EQ(a.affected, s.affected);
        EXPECT_EQ(b.affected, s.affected);
        EXPECT_EQ(b.examined, rows);
        if (s.lookedUp) EXPECT_LE(a.examined, 2);
        else EXPECT_EQ(a.examined, rows);
        if (std::string(s.text).rfind("delete", 0) == 0) rows -= s.affected;
        EXPECT_EQ(testsupport::fileBytes(looked), testsupport::fileBytes(scanned));
    }
    EXPECT_EQ(testsupport::check(looked), "");
    if (haveMdbTools()) {
        std::string exported = testsupport::run({"mdb-export", looked, table}).output;
        EXPECT_EQ(exported, testsupport::run({"mdb-export", scanned, table}).output);
        EXPECT_FALSE(exported.empty());
        EXPECT_EQ(testsupport::mdbCount(looked, table), rows);
    }
}

} // namespace

TEST(IndexLookup, RegisterStatementsChangeWhatTheScanChanges)
{
    fs::path dir = scratchDir("IndexLookup-register");
    std::string file = (dir / "register.mdb").string();
    fs::remove(file);
    int rc = 0;
    std::string made = runJetdb("demo " + testsupport::quote(file) + " --entries 3000 --pending 100", &rc);
    ASSERT_EQ(rc, 0) << made;
    const std::string longLiteral = "delete from all_key where USBKEY_SERIAL = '" + std::string(300, 'x') + "'";
    // Entry i has id i + 1 and serial USBK- and (i * 7919) in 8 digits; the
    // first was added 2024-01-02 08:30:00 by admin.
    runBothWays(file, "all_key",
                {
                    {"delete from all_key where id = 1500", 1, true},
                    {"delete from all_key where id = 1500", 0, true},
                    {"update all_key set is_del=2 where id = 2999 and is_del = 1", 1, true},
                    {"update all_key set is_del=2 where id = 2999 and is_del = 1", 0, true},
                    {"update all_key set is_del=3 where 2998 = id", 1, true},
                    {"delete from all_key where username = 'admin' and id = 11", 1, true},
                    {"delete from all_key where id = 12.5", 0, true},
                    {"delete from all_key where id = 3000000000", 0, true},
                    {"delete from all_key where id = 12.0", 1, true},
                    {"delete from all_key where id = 20 or id = 21", 2, false},
                    {"delete from all_key where id <> 20 and id = 22", 1, true},
                    // Text keys: case and trailing spaces do not count.
                    {"update all_key set username='x' where USBKEY_SERIAL = 'usbk-00031676'", 1, true},
                    {"delete from all_key where USBKEY_SERIAL = 'USBK-00015838   '", 1, true},
                    {"update all_key set USBKEY_SERIAL = 'NEW' where USBKEY_SERIAL = 'Usbk-00023757'", 1, true},
                    {"update all_key set is_del = 4 where USBKEY_SERIAL = 'new'", 1, true},
                    {"delete from all_key where USBKEY_SERIAL = 'USBK-0003167'", 0, true},
                    // Longer than an index key holds: scanned.
                    {longLiteral.c_str(), 0, false},
                    // Dates.
                    {"update all_key set is_del=5 where add_date = #2024-01-02 08:30:00#", 1, true},
                    {"delete from all_key where add_date = #2024-01-02 08:30:00# and username = 'operator'", 0, true},
                    {"delete from all_key where add_date = #2024-01-02 08:30:00# and username = 'admin'", 1, true},
                    {"delete from all_key where add_date = #1899-12-30 12:00:00#", 0, false},
                    {"update all_key set is_del=6 where is_del = 1", 98, false},
                });
}

TEST(IndexLookup, AccessFilesChangeWhatTheScanChanges)
{
    struct FileCase {
        const char* file;
        const char* table;
        std::vector<Statement> statements;
    } cases[] = {
        // A descending Long index.
        {"compIndexTestV2003.mdb", "Table1",
         {{"delete from Table1 where CD_AGENTE = 35", 1, true},
          {"update Table1 set DC_AGENTE = 'z' where CD_AGENTE = 990 and RS_AGENTE = 'abc'", 1, true},
          {"update Table1 set CD_AGENTE = 36 where CD_AGENTE = 27", 1, true},
          {"delete from Table1 where CD_AGENTE = 36", 1, true}}},
        // Text indexes of Access, letters outside ASCII.
        {"testUnicodeCompV2003.mdb", "Table",
         {{"update [Table] set Unicode = 'mir' where Unicode = 'МИР'", 1, true},
          {"delete from [Table] where Unicode = 'ÄÄKKÖSIÄ'", 1, true},
          {"delete from [Table] where Unicode = 'umlaut'", 0, true},
          {"delete from [Table] where Unicode = 'ÜMLAUT' and ID = 7", 1, true}}},
        // Text, date and primary key indexes of one table.
        {"fixedTextTestV2003.mdb", "users",
         {{"update users set i_user_flags = 5 where c_user_login = 'Core User'", 1, true},
          {"update users set c_flag_ = 'Y' where d_stamp_ = #2009-10-22 03:57:13#", 1, true},
          {"delete from users where c_flag_ = 'y'", 1, true},
          {"delete from users where i_user_id = 1", 1, true}}},
        // The same in an Access 2010 file: texts in the second version of
        // General, whose keys ignore what "=" does not, are scanned.
        {"fixedTextTestV2010.accdb", "users",
         {{"update users set i_user_flags = 5 where c_user_login = 'Core User'", 1, false},
          {"update users set c_flag_ = 'Y' where d_stamp_ = #2009-10-22 03:57:13#", 1, true},
          {"delete from users where c_flag_ = 'y'", 1, false},
          {"delete from users where i_user_id = 1", 1, true}}},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.file);
        runBothWays(scratchCopy(c.file, std::string("IndexLookup-") + c.file), c.table, c.statements);
    }
}
