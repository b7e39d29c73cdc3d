// Text indexes in a sort order the engine does not encode (Chinese PRC, as
// Access on a Simplified-Chinese system makes them): their keys are never
// written or looked up, rows leave them by their row locator, and the check
// verifies them by their rows.
#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/IndexNode.h"
#include "jet/SchemaWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string bytesOf(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

testsupport::Run sql(const std::string& file, const std::string& statement)
{
    return run(quote(jetdb()) + " sql " + quote(file) + " " + quote(statement), true);
}

} // namespace

TEST(SortOrder, ARegisterInChinesePrcOrderTakesTheProgramsWritesAndRefusesNewKeys)
{
    fs::path dir = scratchDir("sort-order-register");
    std::string file = (dir / "vask.mdb").string();
    ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(file) + " --entries 50 --pending 5 --sort-order 2052").status, 0);
    EXPECT_NE(run(quote(jetdb()) + " schema " + quote(file) + " all_key").output.find(
                  "USBKEY_SERIAL Text(50) COMPRESSED SORT Chinese PRC (2052)"),
              std::string::npos);

    // The program's statements: delete by id, marking; and a text condition,
    // found by a scan instead of the index.
    EXPECT_EQ(sql(file, "delete from all_key where id = 7").output, "1\n");
    EXPECT_EQ(sql(file, "update all_key set is_del=2 where is_del=1").output, "5\n");
    EXPECT_EQ(sql(file, "delete from all_key where USBKEY_SERIAL = 'usbk-00015838'").output, "1\n");
    EXPECT_EQ(check(file), "");
    if (haveReaders()) {
        EXPECT_EQ(mdbCount(file, "all_key"), 48);
        std::string ours = jetdbJson(file, "all_key", (dir / "ours.json").string());
        EXPECT_EQ(compareRows(ours, mdbJson(file, "all_key", (dir / "mdbtools.json").string())), "");
    }

    // A new key, or a changed one, is refused and changes nothing.
    struct Refused {
        const char* statement;
    } cases[] = {{"insert into all_key (USBKEY_SERIAL, username) values ('NEW', 'admin')"},
                 {"update all_key set USBKEY_SERIAL = 'CHANGED' where id = 4"},
                 {"insert into counted (username, password) values ('新用户', 'x')"}};
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.statement);
        std::string before = bytesOf(file);
        testsupport::Run r = sql(file, c.statement);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find("in the Chinese PRC (2052) sort order, which this program cannot write"),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("index '"), std::string::npos) << r.output;
        EXPECT_EQ(bytesOf(file), before);
    }
}

// An Access-made file whose text columns are declared in the Chinese PRC
// order: deletes and updates of other columns keep every index whole.
TEST(SortOrder, RowsLeaveIndexesTheEngineCannotEncodeByTheirLocator)
{
    std::string file = scratchCopy(testData("fixedTextTestV2003.mdb"), "sort-order-access");
    {
        auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        jet::SchemaWriter::declareSortOrder(*db, 0x0804);
        tx.commit();
    }
    {
        // Keys that are not the General ones, as Access writes them in
        // another order: each text key gets one more byte after its flag
        // (their order stays), so that no key the engine computes is there.
        auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        const jet::TableDef& def = db->table("users").def();
        size_t unencodable = 0;
        jet::WriteTransaction tx(*db);
        for (const jet::RealIndex& index : def.realIndexes) {
            if (!def.unencodableColumn(index)) continue;
            ++unencodable;
            jet::Pager& pager = db->pager();
            jet::IndexNode leaf = jet::IndexNode::decode(pager.format(), pager.read(index.rootPage)->data,
                                                         index.rootPage, "");
            ASSERT_TRUE(leaf.leaf);
            for (jet::IndexEntry& e : leaf.entries)
                if (e.key.size() > 1) e.key.insert(e.key.begin() + 1, 0x01);
            leaf.encode(pager.format(), pager.modify(index.rootPage));
        }
        tx.commit();
        EXPECT_EQ(unencodable, 4u); // its four text indexes
    }
    EXPECT_EQ(check(file), "");
    ASSERT_EQ(sql(file, "update users set i_user_flags = 7 where i_user_id = 1").status, 0);
    ASSERT_EQ(sql(file, "delete from users where i_user_id = 2").status, 0);
    EXPECT_EQ(check(file), "");
    if (!haveReaders()) return;
    fs::path dir = fs::path(file).parent_path();
    std::string ours = jetdbJson(file, "users", (dir / "ours.json").string());
    EXPECT_EQ(compareRows(ours, mdbJson(file, "users", (dir / "mdbtools.json").string())), "");
    EXPECT_EQ(compareRows(ours, mdbReaderJson(file, "users", (dir / "mdbreader.json").string())), "");
    EXPECT_EQ(mdbCount(file, "users"), 1);
}
