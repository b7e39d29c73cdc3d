// The register's statements run through TADOQuery against databases made by
// `jetdb demo`, and what the grid and the main window do with the results.
#include "TestDatabase.h"

#include "ado/TADOConnection.h"
#include "ado/TADODataSet.h"
#include "ado/TADOQuery.h"
#include "data/RegisterStatements.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "sql/Session.h"
#include "jet/Table.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>

namespace {

const char* const kListing = "select * from all_key order by id desc";
const char* const kPending = "select * from all_key where is_del = 1";
const char* const kMark = "update all_key set is_del=2 where is_del=1";
const char* const kDepartments =
    "select a.*, b.p_name from SME_KEY_DEPT a left join SME_PROVINCE_LIST b on a.p_index = b.p_index";

class Register : public ::testing::Test {
protected:
    TestDatabase files;
    QString db;
    TADOConnection conn;
    TADOQuery query;

    void SetUp() override { useDatabase(files.makeRegister()); }

    void useDatabase(const QString& path)
    {
        db = path;
        conn.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + db +
                                 QStringLiteral(";Persist Security Info=False"));
        conn.setLoginPrompt(false);
        conn.setKeepConnection(false);
        query.setConnection(&conn);
    }

    void open(const QString& statement)
    {
        query.Close();
        query.setSQLText(statement);
        query.Open();
    }

    int count(const QString& statement)
    {
        TADOQuery q;
        q.setConnection(&conn);
        q.setSQLText(statement);
        q.Open();
        return q.RecordCount();
    }

    std::vector<int> ids()
    {
        std::vector<int> out;
        TField* id = query.FieldByName("id");
        for (int i = 0; i < query.RecordCount(); ++i) out.push_back(id->ValueAt(i) == jet::Value{} ? -1 : int(std::get<int64_t>(id->ValueAt(i))));
        return out;
    }
};

TEST_F(Register, ListingNewestFirstWithTypedFields)
{
    open(kListing);
    EXPECT_EQ(query.RecordCount(), 200);
    EXPECT_EQ(query.FieldNames(), (QStringList{"id", "USBKEY_SERIAL", "username", "add_date", "is_del"}));
    EXPECT_EQ(query.FieldByName("id")->DataType(), ftAutoInc);
    EXPECT_EQ(query.FieldByName("usbkey_serial")->DataType(), ftWideString);
    EXPECT_EQ(query.FieldByName("usbkey_serial")->Size(), 50);
    EXPECT_EQ(query.FieldByName("add_date")->DataType(), ftDateTime);
    EXPECT_EQ(query.FieldByName("id")->AsString(), "200");
    std::vector<int> listed = ids();
    EXPECT_TRUE(std::is_sorted(listed.rbegin(), listed.rend()));
    QRegularExpression dateText(QStringLiteral("^\\d{4}/\\d{1,2}/\\d{1,2}( \\d{1,2}:\\d\\d:\\d\\d)?$"));
    for (int i = 0; i < query.RecordCount(); ++i)
        ASSERT_TRUE(dateText.match(query.FieldByName("add_date")->DisplayTextAt(i)).hasMatch())
            << query.FieldByName("add_date")->DisplayTextAt(i).toStdString();
}

TEST_F(Register, EmptyRegisterOpensWithNoRows)
{
    useDatabase(files.makeRegister(QStringLiteral("empty.mdb"), 0, 0));
    open(kListing);
    EXPECT_TRUE(query.Active());
    EXPECT_EQ(query.RecordCount(), 0);
    EXPECT_TRUE(query.Eof());
    query.setSort("id ASC ");
    EXPECT_EQ(query.RecordCount(), 0);
}

TEST_F(Register, SortByTitleClicksKeepsBookmarks)
{
    open(kListing);
    query.setRecNo(150);  // id 51
    TBookmark mark = query.GetBookmark();
    query.setSort("id ASC ");
    EXPECT_EQ(ids().front(), 1);
    EXPECT_EQ(query.FieldByName("id")->AsInteger(), 51);  // the current record stays current
    EXPECT_EQ(query.RecNo(), 51);
    query.setSort("id DESC ");
    EXPECT_EQ(ids().front(), 200);
    query.First();
    query.GotoBookmark(mark);
    EXPECT_EQ(query.FieldByName("id")->AsInteger(), 51);
    query.FreeBookmark(mark);

    query.setSort("USBKEY_SERIAL ASC ");
    QString previous;
    for (int i = 0; i < query.RecordCount(); ++i) {
        QString serial = query.FieldByName("USBKEY_SERIAL")->AsStringAt(i);
        ASSERT_LE(previous.compare(serial, Qt::CaseInsensitive), 0) << i;
        previous = serial;
    }
    query.setSort("add_date DESC , id ASC");
    EXPECT_THROW(query.setSort("serial ASC "), EDatabaseError);

    // A reopened listing starts unsorted, newest first again.
    query.Close();
    query.Open();
    EXPECT_EQ(query.Sort(), "");
    EXPECT_EQ(ids().front(), 200);
}

// The listing reaches the dataset in table order with its order given after;
// sorting starts from that order, so ties keep the statement's order.
TEST_F(Register, SortTiesAndClearedSortKeepTheStatementsOrder)
{
    open(kListing);  // ids 200..1; 181..200 are pending (is_del 1), the rest exported (2)
    query.setSort("is_del ASC ");
    std::vector<int> expected;
    for (int id = 200; id >= 181; --id) expected.push_back(id);
    for (int id = 180; id >= 1; --id) expected.push_back(id);
    EXPECT_EQ(ids(), expected);
    query.setSort("is_del DESC , add_date DESC");
    EXPECT_EQ(ids().front(), 180);

    query.setSort("");
    query.setRecNo(3);  // id 198
    query.Delete();
    query.setSort("is_del ASC ");
    query.setSort("");
    expected.clear();
    for (int id = 200; id >= 1; --id)
        if (id != 198) expected.push_back(id);
    EXPECT_EQ(ids(), expected);
}

// A title click re-sorts the rows in the dataset; `order by` sorts them in
// the engine. Both must give Jet's text order, the same one.
TEST_F(Register, SortAndOrderByShareJetsTextOrder)
{
    const char16_t* const serials[] = {u"B", u"ab", u"a-c", u"ä", u"ac", u"b", u"résumé", u"resume", u"Resume",
                                       u"USBK-1", u"usbk-1  ", u"usbk1", u"abcdefghijklmnopqrst-2",
                                       u"abcdefghijklmnopqrst1", u"ABCDEFGHIJKLMNOPQRST-1", u"锁", u"漢字", u"a'b"};
    const int firstId = 201;
    for (const char16_t* serial : serials) {
        QString literal = QString::fromStdU16String(serial);
        literal.replace(u'\'', QStringLiteral("''"));
        TADOQuery insert;
        insert.setConnection(&conn);
        insert.setSQLText(QStringLiteral("insert into all_key (USBKEY_SERIAL, username, add_date) values ('%1', "
                                         "'order', #2025-01-01#)")
                              .arg(literal));
        ASSERT_EQ(insert.ExecSQL(), 1);
    }
    const QString rows = QStringLiteral("select * from all_key where username = 'order'");
    for (const char* direction : {" ASC", " DESC"}) {
        SCOPED_TRACE(direction);
        open(rows + QStringLiteral(" order by USBKEY_SERIAL") + QLatin1String(direction));
        const std::vector<int> byEngine = ids();
        open(rows);
        query.setSort(QStringLiteral("USBKEY_SERIAL") + QLatin1String(direction) + QLatin1Char(' '));
        EXPECT_EQ(ids(), byEngine);
    }

    // The six texts operators compared: letters first, accents next, the
    // hyphen last; B and b are equal and keep the order they came in.
    query.setSort(QStringLiteral("USBKEY_SERIAL ASC "));
    std::vector<std::string> six;
    for (int i = 0; i < query.RecordCount(); ++i) {
        const int id = int(std::get<int64_t>(query.FieldByName("id")->ValueAt(i)));
        if (id < firstId + 6) six.push_back(query.FieldByName("USBKEY_SERIAL")->AsStringAt(i).toStdString());
    }
    EXPECT_EQ(six, (std::vector<std::string>{"ä", "ab", "ac", "a-c", "B", "b"}));
}

// A dataset takes rows undecoded and in table order, with their order after;
// a plain sink gets decoded rows in result order. Both must see the same result.
TEST_F(Register, DataSetAndPlainSinkSeeTheSameResult)
{
    struct Collect : sql::RowSink {
        std::vector<std::vector<jet::Value>> rows;
        void columns(const std::vector<sql::ResultColumn>&) override {}
        void row(const std::vector<jet::Value>& values, jet::RowLocator) override { rows.push_back(values); }
    };
    const char* const statements[] = {
        "select * from all_key order by id desc",
        "select * from all_key where is_del = 1 order by username desc, id",
        "select username, id from all_key where id > 150 order by add_date desc",
        "select * from all_key where username = 'admin'",
        "select is_del, USBKEY_SERIAL from all_key",
    };
    for (const char* statement : statements) {
        SCOPED_TRACE(statement);
        open(QString::fromLatin1(statement));
        Collect plain;
        conn.session().query(statement, plain);
        ASSERT_EQ(query.RecordCount(), int(plain.rows.size()));
        ASSERT_GT(plain.rows.size(), 0u);
        for (int r = 0; r < query.RecordCount(); ++r)
            for (int f = 0; f < query.FieldCount(); ++f)
                ASSERT_TRUE(query.Fields(f)->ValueAt(r) == plain.rows[std::size_t(r)][std::size_t(f)]) << r << ", " << f;
    }
}

// The sign-in's lookup gives the typed texts as parameter values: whatever
// they hold is a text to compare, never part of the statement.
TEST_F(Register, AccountLookupIsLiteral)
{
    struct Case {
        QString user, password;
        int rows;
    };
    const Case cases[] = {
        {"admin", "admin", 1},
        {"ADMIN", "admin", 1},         // text compares without regard to case, as Jet does
        {"admin", "wrong", 0},
        {"olduser", "olduser", 0},     // disabled account
        {"' or ''='", "' or ''='", 0}, // would match everything if pasted in unquoted
        {"admin'--", "x", 0},
        {"admin' or 'a'='a", "admin", 0},
        {"\\' or 1=1 --", "x", 0},   // a backslash before the quote
        {"admin", ":password", 0},     // marks inside a value are text
        {"?", "?", 0},
    };
    auto lookup = [&](const QString& user, const QString& password) {
        TADOQuery q;
        q.setConnection(&conn);
        RegisterStatements::accountLookup(q, user, password);
        q.Open();
        return q.RecordCount();
    };
    for (const Case& c : cases) EXPECT_EQ(lookup(c.user, c.password), c.rows) << c.user.toStdString();

    TADOQuery add;
    add.setConnection(&conn);
    add.setSQLText("insert into counted (username, password, is_del) values ('o''brien', 'it''s', 1)");
    EXPECT_EQ(add.ExecSQL(), 1);
    EXPECT_EQ(lookup("o'brien", "it's"), 1);
    EXPECT_EQ(lookup("o'brien", "its"), 0);
}

TEST_F(Register, ExportMarksOnlyPendingEntries)
{
    open(kPending);
    EXPECT_EQ(query.RecordCount(), 20);
    std::vector<int> pendingIds = ids();
    query.Close();
    int exportedBefore = count("select * from all_key where is_del = 2");
    EXPECT_EQ(exportedBefore, 180);

    TADOQuery mark;
    mark.setConnection(&conn);
    mark.setSQLText(kMark);
    EXPECT_EQ(mark.ExecSQL(), 20);
    EXPECT_EQ(count(kPending), 0);
    EXPECT_EQ(count("select * from all_key where is_del = 2"), 200);
    EXPECT_EQ(mark.ExecSQL(), 0);

    bool available = false;
    QStringList rows = TestDatabase::mdbJson(db, "all_key", available);
    if (available) {
        EXPECT_EQ(rows.size(), 200);
        for (const QString& row : rows) EXPECT_TRUE(row.contains("\"is_del\":2")) << row.toStdString();
    }
}

TEST_F(Register, DepartmentListingHasTypedFieldsAndEmptyProvinces)
{
    TADODataSet departments;
    departments.setConnection(&conn);
    departments.setCommandText(kDepartments);
    departments.Open();
    EXPECT_EQ(departments.FieldNames(), (QStringList{"ID", "DEPT_ID", "KEY_SERIAL", "KEY_INVO", "KEY_LIMITDATE",
                                                     "REALNAME", "P_INDEX", "ORGANIZA", "is_state", "p_name"}));
    EXPECT_EQ(departments.FieldByName("ID")->DataType(), ftBCD);
    EXPECT_EQ(departments.FieldByName("ID")->Precision(), 16);
    EXPECT_EQ(departments.FieldByName("KEY_SERIAL")->Size(), 3);
    EXPECT_EQ(departments.FieldByName("p_name")->Size(), 80);
    int withoutProvince = 0;
    for (departments.First(); !departments.Eof(); departments.Next())
        if (departments.FieldByName("p_name")->IsNull()) {
            ++withoutProvince;
            EXPECT_EQ(departments.FieldByName("p_name")->DisplayText(), "");
        }
    EXPECT_EQ(withoutProvince, 1);

    // Rows of a join cannot be deleted, and a joined field cannot be written.
    departments.First();
    EXPECT_THROW(departments.Delete(), EDatabaseError);
    EXPECT_EQ(departments.RecordCount(), 4);
    departments.Edit();
    departments.FieldByName("p_name")->setAsString("x");
    EXPECT_THROW(departments.Post(), EDatabaseError);
    departments.Cancel();
    departments.setSort("p_name DESC, ID");
    departments.Last();
    EXPECT_TRUE(departments.FieldByName("p_name")->IsNull());
}

TEST_F(Register, DeletedEntryIsGoneFromTheFile)
{
    open(kListing);
    query.setRecNo(3);  // id 198
    ASSERT_EQ(query.FieldByName("id")->AsInteger(), 198);
    query.Delete();
    EXPECT_EQ(query.RecordCount(), 199);
    EXPECT_EQ(query.FieldByName("id")->AsInteger(), 197);
    query.setSort("id ASC ");
    query.Last();
    query.Delete();  // id 200
    query.Close();

    EXPECT_EQ(count("select * from all_key where id = 198"), 0);
    EXPECT_EQ(count(kListing), 198);
    bool available = false;
    QStringList rows = TestDatabase::mdbJson(db, "all_key", available);
    if (!available) GTEST_SKIP() << "mdb-json is not installed";
    EXPECT_EQ(rows.size(), 198);
    for (const QString& row : rows) {
        EXPECT_FALSE(row.contains("\"id\":198,")) << row.toStdString();
        EXPECT_FALSE(row.contains("\"id\":200,")) << row.toStdString();
    }
}

// The from table comes from the SQL layer, not from the statement text: a
// column named like a keyword does not hide it.
TEST_F(Register, RecordsOfAColumnListDeleteFromTheirTable)
{
    const QString schemaPath = files.folder() + QStringLiteral("/keywords.schema");
    QFile schema(schemaPath);
    ASSERT_TRUE(schema.open(QIODevice::WriteOnly));
    schema.write("table t\n  id long autoincrement\n  from text(10)\n  primary key (id)\n");
    schema.close();
    const QString path = files.folder() + QStringLiteral("/keywords.mdb");
    QProcess jetdb;
    jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("create"), path, schemaPath});
    ASSERT_TRUE(jetdb.waitForFinished(60000));
    ASSERT_EQ(jetdb.exitCode(), 0) << jetdb.readAllStandardError().toStdString();
    useDatabase(path);
    conn.Execute(QStringLiteral("insert into t ([from]) values ('a')"));
    conn.Execute(QStringLiteral("insert into t ([from]) values ('b')"));
    open("select id, [from] from t order by id");
    ASSERT_EQ(query.RecordCount(), 2);
    query.Delete();
    EXPECT_EQ(count("select * from t"), 1);
    EXPECT_EQ(query.FieldByName("from")->AsString(), "b");
}

// Another program's commit after the open: the dataset reads the list
// again when it next reads a row, and never shows the change beside rows
// read before it.
TEST_F(Register, AnotherProgramsCommitMakesTheListReadAgain)
{
    useDatabase(files.makeRegister(QStringLiteral("large.mdb"), 2000, 20));
    open(kListing);
    ASSERT_EQ(query.FieldByName("id")->AsInteger(), 2000);  // the first rows are read
    TADOConnection other;
    other.setConnectionString(conn.ConnectionString());
    other.setLoginPrompt(false);
    other.Execute(QStringLiteral("delete from all_key where id <= 1000"));
    other.Execute(QStringLiteral("update all_key set username = 'changed' where id > 1000"));
    EXPECT_EQ(query.RecordCount(), 2000);     // nothing read since
    EXPECT_NE(query.FieldByName("username")->AsString(), "changed");
    query.setRecNo(1500);                     // id 501, not read yet, and gone
    EXPECT_EQ(query.FieldByName("id")->AsInteger(), 1001);
    EXPECT_EQ(query.RecordCount(), 1000);
    TField* user = query.FieldByName("username");
    for (int i : {0, 999}) EXPECT_EQ(user->ValueAt(i), jet::Value(std::u16string(u"changed"))) << i;
    // The sort is kept; so is the current record when it is still there.
    query.setSort(QStringLiteral("id ASC "));
    query.setRecNo(10);
    ASSERT_EQ(query.FieldByName("id")->AsInteger(), 1010);
    other.Execute(QStringLiteral("delete from all_key where id = 1500"));
    EXPECT_EQ(query.FieldByName("id")->ValueAt(500), jet::Value(int32_t(1502)));  // not read yet
    EXPECT_EQ(query.RecordCount(), 999);
    EXPECT_EQ(query.RecNo(), 10);
    EXPECT_EQ(query.FieldByName("id")->AsInteger(), 1010);
    EXPECT_EQ(query.Sort(), QStringLiteral("id ASC "));
}

TEST_F(Register, PostedEditIsInTheFile)
{
    open(kListing);
    query.setRecNo(2);  // id 199
    query.Edit();
    query.FieldByName("username")->setAsString("审核员");
    query.FieldByName("add_date")->setAsString("2025/6/7 8:09:10");
    query.Post();
    query.Edit();
    query.FieldByName("username")->setAsString("not kept");
    query.Cancel();
    query.Close();

    open("select * from all_key where id = 199");
    ASSERT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.FieldByName("username")->AsString(), "审核员");
    EXPECT_EQ(query.FieldByName("add_date")->DisplayText(), "2025/6/7 8:09:10");
    query.Close();

    bool available = false;
    QStringList rows = TestDatabase::mdbJson(db, "all_key", available);
    if (!available) GTEST_SKIP() << "mdb-json is not installed";
    QStringList match = rows.filter("\"id\":199,");
    ASSERT_EQ(match.size(), 1);
    EXPECT_TRUE(match[0].contains("\"username\":\"审核员\"")) << match[0].toStdString();
}

// Rows are read when the dataset first reaches them. A change made
// meanwhile never shows beside the state before it: records read stay as
// they were read until a record not read yet makes the dataset find the
// file changed, and then it reads the whole list again.
TEST_F(Register, ChangesMadeMeanwhileShowWholeOrAfterARequery)
{
    open(kListing);
    query.setRecNo(5);
    ASSERT_EQ(query.FieldByName("is_del")->AsInteger(), 1);
    TADOQuery mark;
    mark.setConnection(&conn);
    mark.setSQLText(kMark);
    mark.ExecSQL();
    EXPECT_EQ(query.FieldByName("is_del")->AsInteger(), 1);  // rows read are not refreshed by themselves
    TField* isDel = query.FieldByName("is_del");
    EXPECT_EQ(isDel->ValueAt(0), jet::Value(int32_t(2)));    // not read yet: the list is read again
    for (int i = 0; i < query.RecordCount(); ++i) EXPECT_NE(isDel->ValueAt(i), jet::Value(int32_t(1))) << i;
    EXPECT_EQ(query.RecNo(), 5);
    query.Requery();
    EXPECT_EQ(query.RecNo(), 5);
    EXPECT_EQ(query.FieldByName("is_del")->AsInteger(), 2);
}

// Every table of every Access-made file: the dataset holds what the engine
// decodes, cell for cell (the dataset takes rows undecoded and converts them
// itself, with its own paths for numbers, dates and text).
TEST(AccessFiles, DataSetsHoldWhatTheEngineDecodes)
{
    TestDatabase files;
    const QStringList names = QDir(QStringLiteral(USBKEY_TESTDATA_DIR)).entryList({QStringLiteral("*.mdb")}, QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    int tables = 0;
    for (const QString& name : names) {
        QString db = files.copyOf(name);
        // The corpus's one file with a database password (tests/data/access/SOURCES.md).
        const QString password = name == QLatin1String("V2003_with-password.mdb") ? QStringLiteral("password") : QString();
        std::vector<std::string> tableNames;
        std::map<std::string, std::vector<std::vector<jet::Value>>> expected;
        try {
            jet::Database::open(db.toStdString(), jet::Pager::Access::ReadOnly, password.toStdString());
        } catch (const jet::UnsupportedFormatError&) {
            continue; // the engine's own tests check that such files are refused
        }
        {
            auto database = jet::Database::open(db.toStdString(), jet::Pager::Access::ReadOnly, password.toStdString());
            tableNames = database->tableNames();
            for (const std::string& t : tableNames)
                database->table(t).scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
                    expected[t].push_back(values);
                    return true;
                });
        }
        TADOConnection conn;
        conn.setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + db +
                                 ";Jet OLEDB:Database Password=" + password);
        for (const std::string& t : tableNames) {
            SCOPED_TRACE(name.toStdString() + ", table " + t);
            TADOQuery query;
            query.setConnection(&conn);
            query.setSQLText(QStringLiteral("select * from [%1]").arg(QString::fromStdString(t)));
            query.Open();
            const auto& rows = expected[t];
            ASSERT_EQ(query.RecordCount(), int(rows.size()));
            for (int r = 0; r < query.RecordCount(); ++r)
                for (int f = 0; f < query.FieldCount(); ++f)
                    ASSERT_TRUE(query.Fields(f)->ValueAt(r) == rows[std::size_t(r)][std::size_t(f)])
                        << "row " << r << ", field " << query.Fields(f)->FieldName().toStdString();
            ++tables;
        }
    }
    EXPECT_GT(tables, 0);
}

TEST(AccessFiles, EditAndDeleteOnACopyOfAnAccessFile)
{
    TestDatabase files;
    QString db = files.copyOf("testUnicodeCompV2003.mdb");
    TADOConnection conn;
    conn.setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + db);
    TADOQuery query;
    query.setConnection(&conn);
    query.setSQLText("select * from [Table]");
    query.Open();
    EXPECT_EQ(query.RecordCount(), 8);
    query.setSort("Unicode DESC");
    query.First();
    int id = query.FieldByName("ID")->AsInteger();
    query.Delete();
    query.Next();
    query.Edit();
    query.FieldByName("Unicode")->setAsString("Привет, 世界");
    int editedId = query.FieldByName("ID")->AsInteger();
    query.Post();
    query.Close();

    query.setSQLText("select * from [Table]");
    query.Open();
    EXPECT_EQ(query.RecordCount(), 7);
    bool found = false;
    for (query.First(); !query.Eof(); query.Next()) {
        EXPECT_NE(query.FieldByName("ID")->AsInteger(), id);
        if (query.FieldByName("ID")->AsInteger() == editedId) {
            found = true;
            EXPECT_EQ(query.FieldByName("Unicode")->AsString(), "Привет, 世界");
        }
    }
    EXPECT_TRUE(found);
}

} // namespace
