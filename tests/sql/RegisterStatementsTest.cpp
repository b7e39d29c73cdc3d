// The statements the register program issues, exactly as it issues them,
// on a register database made by `jetdb demo` (200 entries, the last 20
// pending; four departments, one of them in a province not listed).
#include "SqlTestSupport.h"
#include "TestSupport.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sqltest;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char* const kListing = "select * from all_key order by id desc";
const char* const kDepartments =
    "select a.*, b.p_name from SME_KEY_DEPT a left join SME_PROVINCE_LIST b on a.p_index = b.p_index";
const char* const kPending = "select * from all_key where is_del = 1";
const char* const kMarkExported = "update all_key set is_del=2 where is_del=1";

// The account lookup as the sign-in runs it: the typed texts are parameter values.
const char* const kAccountLookup =
    "select * from counted where is_del = 1 and username = :username and password = :password";

Result lookup(jet::Database& db, const std::string& user, const std::string& password)
{
    return query(db, kAccountLookup, {{"username", jet::fromUtf8(user)}, {"password", jet::fromUtf8(password)}});
}

std::string demoDatabase(const std::string& test, const std::string& options = "")
{
    fs::path file = scratchDir(test) / "register.mdb";
    fs::remove(file);
    int rc = 0;
    std::string out = runJetdb("demo " + testsupport::quote(file.string()) + " " + options, &rc);
    EXPECT_EQ(rc, 0) << out;
    return file.string();
}

TEST(RegisterStatements, ListingIsNewestFirstWithTheRegisterColumns)
{
    auto db = jet::Database::open(demoDatabase("listing"));
    Result r = query(*db, kListing);
    EXPECT_EQ(r.names(), (Lines{"id", "USBKEY_SERIAL", "username", "add_date", "is_del"}));
    ASSERT_EQ(r.rows.size(), 200u);
    for (size_t i = 0; i < r.rows.size(); ++i) EXPECT_EQ(std::get<int64_t>(r.rows[i][0]), int64_t(200 - i));
    EXPECT_TRUE(r.cols[0].autoIncrement);
    EXPECT_EQ(r.cols[3].type, jet::ColumnType::DateTime);

    // USBKEY_SERIAL and usbkey_serial are one column.
    std::string serial = text(r.rows[0][1]);
    EXPECT_EQ(query(*db, "select usbkey_serial from all_key where USBKEY_SERIAL = '" + serial + "'").column(0),
              (Lines{serial}));
}

TEST(RegisterStatements, EmptyRegisterListsNoRows)
{
    auto db = jet::Database::open(demoDatabase("empty-listing", "--entries 0"));
    Result r = query(*db, kListing);
    EXPECT_EQ(r.cols.size(), 5u);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_TRUE(query(*db, kPending).rows.empty());
}

TEST(RegisterStatements, DepartmentListingHasItsFieldsInOrderAndNullForAnUnknownProvince)
{
    auto db = jet::Database::open(demoDatabase("departments"));
    Result r = query(*db, kDepartments);
    EXPECT_EQ(r.names(), (Lines{"ID", "DEPT_ID", "KEY_SERIAL", "KEY_INVO", "KEY_LIMITDATE", "REALNAME", "P_INDEX",
                                "ORGANIZA", "is_state", "p_name"}));
    struct Field {
        jet::ColumnType type;
        int length;
    };
    const Field fields[] = {{jet::ColumnType::Numeric, 0}, {jet::ColumnType::Numeric, 0}, {jet::ColumnType::Text, 3},
                            {jet::ColumnType::Long, 4},    {jet::ColumnType::DateTime, 8}, {jet::ColumnType::Text, 40},
                            {jet::ColumnType::Text, 40},   {jet::ColumnType::Text, 160}, {jet::ColumnType::Long, 4},
                            {jet::ColumnType::Text, 80}};
    ASSERT_EQ(r.cols.size(), std::size(fields));
    for (size_t i = 0; i < r.cols.size(); ++i) {
        EXPECT_EQ(r.cols[i].type, fields[i].type) << r.cols[i].name;
        if (fields[i].type == jet::ColumnType::Text) {
            EXPECT_EQ(r.cols[i].length, fields[i].length) << r.cols[i].name;
        }
    }
    EXPECT_EQ(r.cols[0].precision, 16);
    EXPECT_EQ(r.cols[0].scale, 0);
    EXPECT_EQ(r.cols[9].baseTable, "SME_PROVINCE_LIST");
    EXPECT_EQ(r.cols[0].baseTable, "SME_KEY_DEPT");

    ASSERT_EQ(r.rows.size(), 4u);
    EXPECT_EQ(r.column(6), (Lines{"11", "31", "44", "99"}));
    EXPECT_EQ(r.column(9), (Lines{"北京市", "上海市", "广东省", "null"}));
}

TEST(RegisterStatements, AccountLookupFindsOnlyActiveAccountsWithTheirPassword)
{
    auto db = jet::Database::open(demoDatabase("accounts"));
    EXPECT_EQ(lookup(*db, "admin", "admin").column(0), (Lines{"admin"}));
    EXPECT_EQ(lookup(*db, "operator", "usbkey").column(0), (Lines{"operator"}));
    EXPECT_EQ(lookup(*db, "ADMIN ", "Admin").column(0), (Lines{"admin"})); // Jet's text comparison
    EXPECT_TRUE(lookup(*db, "admin", "wrong").rows.empty());
    EXPECT_TRUE(lookup(*db, "olduser", "olduser").rows.empty()); // disabled
    EXPECT_TRUE(lookup(*db, "nobody", "admin").rows.empty());

    // Texts pasted into the statement can rewrite it; as parameter values
    // they are plain texts that match no account.
    const std::string pasted = "select * from counted where is_del = 1 and username = '' or ''='' and password ='' or ''=''";
    EXPECT_EQ(query(*db, pasted).rows.size(), 3u);
    for (const char* attack : {"' or ''='", "admin'--", "admin' or 'a'='a", "\\' or 1=1 --", ":password", "?"})
        EXPECT_TRUE(lookup(*db, attack, attack).rows.empty()) << attack;
}

TEST(RegisterStatements, MarkingTurnsExactlyThePendingEntriesIntoExported)
{
    std::string file = demoDatabase("marking");
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    Result before = query(*db, kListing);
    Result pending = query(*db, kPending);
    ASSERT_EQ(pending.rows.size(), 20u);
    for (const auto& row : pending.rows) EXPECT_EQ(text(row[4]), "1");

    sql::Session session(*db);
    EXPECT_EQ(session.execute(kMarkExported), 20);
    EXPECT_EQ(session.execute(kMarkExported), 0);
    EXPECT_TRUE(query(*db, kPending).rows.empty());

    // Every entry is now exported; nothing else changed.
    Result after = query(*db, kListing);
    ASSERT_EQ(after.rows.size(), before.rows.size());
    for (size_t i = 0; i < after.rows.size(); ++i) {
        EXPECT_EQ(text(after.rows[i][4]), "2");
        for (size_t c = 0; c < 4; ++c) EXPECT_EQ(after.rows[i][c], before.rows[i][c]);
    }

    // A new entry gets its number, date and pending state from the table.
    EXPECT_EQ(session.execute("insert into all_key (USBKEY_SERIAL, username) values ('NEW-1', 'admin')"), 1);
    Result added = query(*db, kPending);
    ASSERT_EQ(added.rows.size(), 1u);
    EXPECT_EQ(text(added.rows[0][0]), "201");
    EXPECT_FALSE(jet::isNull(added.rows[0][3]));
}

} // namespace

// An Access 97 register (texts in code page 936, no decimal columns) gives
// every statement of the program the same rows as an Access 2000 one.
TEST(RegisterStatements, AnAccess97RegisterAnswersAsAnAccess2000One)
{
    std::string jet4File = demoDatabase("format-jet4");
    std::string jet3File = demoDatabase("format-jet3", "--jet3");
    auto jet4 = jet::Database::open(jet4File, jet::Pager::Access::ReadWrite);
    auto jet3 = jet::Database::open(jet3File, jet::Pager::Access::ReadWrite);
    EXPECT_EQ(&jet3->pager().format(), &jet::Format::jet3());
    EXPECT_EQ(jet3->pager().textCoding().codePage(), 936);
    auto texts = [](const Result& r) {
        std::vector<Lines> out;
        for (size_t c = 0; c < r.cols.size(); ++c) out.push_back(r.column(c));
        return out;
    };
    for (const std::string& statement : {std::string(kListing), std::string(kDepartments), std::string(kPending)}) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(texts(query(*jet3, statement)), texts(query(*jet4, statement)));
    }
    for (const char* password : {"admin", "wrong"}) {
        SCOPED_TRACE(password);
        EXPECT_EQ(texts(lookup(*jet3, "admin", password)), texts(lookup(*jet4, "admin", password)));
    }
    sql::Session(*jet3).execute("delete from all_key where id = 7");
    EXPECT_EQ(sql::Session(*jet3).execute(kMarkExported), 20);
    sql::Session(*jet4).execute("delete from all_key where id = 7");
    sql::Session(*jet4).execute(kMarkExported);
    EXPECT_EQ(texts(query(*jet3, kListing)), texts(query(*jet4, kListing)));
    jet3.reset();
    int rc = 0;
    EXPECT_EQ(runJetdb("check \"" + jet3File + "\"", &rc), "");
    EXPECT_EQ(rc, 0);
    if (haveMdbTools()) {
        std::vector<std::string> provinces = mdbJsonRows(jet3File, "SME_PROVINCE_LIST");
        ASSERT_EQ(provinces.size(), 4u);
        EXPECT_NE(provinces[0].find("北京市"), std::string::npos) << provinces[0];
        EXPECT_EQ(mdbJsonRows(jet3File, "all_key").size(), 199u);
    }
}
