// Access 97 files as Access wrote them: texts in code page 1252 with the
// bytes that code page leaves undefined, text keys in Access 97's General
// sort order, and the column flag 0x40, which makes a GUID column automatic
// and nothing else.
//
// The keys below are Access's own, as Access 97 files hold them (a file of
// Access's with "a", byte N, "a" for every byte value, and its Northwind
// sample); the files themselves are not ours to keep, so the fixtures are
// files `jetdb create --jet3` makes, with bytes changed where the point is
// what Access wrote.
#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/IndexKey.h"
#include "jet/IndexTree.h"
#include "jet/SchemaWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Code page 1252 as Windows reads it (MultiByteToWideChar): Latin-1 but for
// 0x80..0x9F, where the five bytes the code page leaves undefined read as
// the control characters of the same number.
char16_t windows1252(uint8_t b)
{
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b);
}

const uint8_t kUndefinedBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

std::string hex(const jet::Bytes& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

testsupport::Run sql(const std::string& file, const std::string& statement)
{
    return run(quote(jetdb()) + " sql " + quote(file) + " " + quote(statement), true);
}

// The key each row has in a table's first index, by the row's text in `column`.
std::map<std::u16string, jet::Bytes> keysByText(jet::Database& db, const std::string& table, const std::string& column)
{
    jet::Table& t = db.table(table);
    const size_t at = t.def().columnIndex(t.def().findColumn(column)->number);
    std::map<std::pair<uint32_t, unsigned>, std::u16string> texts;
    t.scan([&](jet::RowLocator row, std::vector<jet::Value>& values) {
        if (auto* s = std::get_if<std::u16string>(&values[at])) texts[{row.page, row.row}] = *s;
        return true;
    });
    std::map<std::u16string, jet::Bytes> out;
    jet::IndexTree tree(db.pager(), t.def(), t.def().realIndexes[0], t.location());
    for (const jet::IndexEntry& e : tree.entries()) out[texts.at({e.page, unsigned(e.row)})] = e.key;
    return out;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// The readers against our rows, where they read texts their own way:
// mdbtools (iconv) the five undefined bytes as "?" and a text up to its
// first NUL, mdb-reader those bytes as U+FFFD.
void expectReadersReadTextsTheirWay(const std::string& file, const std::string& table)
{
    if (!haveReaders()) return;
    fs::path dir = fs::path(file).parent_path();
    std::string ours = fileBytes(jetdbJson(file, table, (dir / "ours.json").string()));
    std::string forMdbtools = ours, forMdbReader = ours;
    for (uint8_t b : kUndefinedBytes) {
        const std::string utf8 = jet::toUtf8(std::u16string(1, windows1252(b)));
        forMdbtools = replaceAll(forMdbtools, utf8, "?");
        forMdbReader = replaceAll(forMdbReader, utf8, "\xEF\xBF\xBD");
    }
    forMdbtools = replaceAll(forMdbtools, "\\u0000", "");
    writeFile((dir / "want-mdbtools.json").string(), forMdbtools);
    writeFile((dir / "want-mdbreader.json").string(), forMdbReader);
    EXPECT_EQ(compareRows((dir / "want-mdbtools.json").string(), mdbJson(file, table, (dir / "mdbtools.json").string()),
                          true),
              "");
    EXPECT_EQ(compareRows((dir / "want-mdbreader.json").string(),
                          mdbReaderJson(file, table, (dir / "mdbreader.json").string()), true),
              "");
    EXPECT_EQ(mdbCount(file, table), (long long)openAccessFile(file)->table(table).def().rowCount);
}

// An Access 97 file of table t (n long, data text(10), an index on data when asked).
std::string createJet3(const fs::path& dir, bool indexed)
{
    std::string file = (dir / "t.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table t\n  n long\n  data text(10)\n" << (indexed ? "  index by_data (data)\n" : "");
    }
    EXPECT_EQ(run(quote(jetdb()) + " create --jet3 " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);
    return file;
}

} // namespace

// A row of "a", byte N, "a" for every byte value, as Access stores them (the
// rows written with a placeholder, then their bytes changed in the file):
// every row reads as Windows reads it.
TEST(Access97Text, EveryByteOfCodePage1252ReadsAsWindowsReadsIt)
{
    fs::path dir = scratchDir("access97-every-byte");
    std::string file = createJet3(dir, false);
    {
        auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        for (int n = 1; n < 256; ++n) db->table("t").insertRow({jet::Value{int64_t(n)}, jet::Value{std::u16string(u"aQa")}});
        tx.commit();
    }
    // Where each row's placeholder byte lies in the file.
    std::map<int, uint64_t> offsets;
    {
        auto db = jet::Database::open(file);
        jet::Table& t = db->table("t");
        const uint64_t pageSize = db->pager().pageSize();
        t.scan([&](jet::RowLocator at, std::vector<jet::Value>& values) {
            std::optional<jet::Table::RowBytes> row = t.rowBytes(at);
            const std::string_view bytes(reinterpret_cast<const char*>(row->data), row->size);
            const size_t q = bytes.find("aQa");
            EXPECT_NE(q, std::string_view::npos);
            offsets[int(std::get<int64_t>(values[0]))] =
                row->pageNumber * pageSize + uint64_t(row->data - row->page->data) + q + 1;
            return true;
        });
    }
    ASSERT_EQ(offsets.size(), 255u);
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        for (const auto& [n, at] : offsets) f.seekp(std::streamoff(at)).put(char(n));
    }
    auto db = jet::Database::open(file);
    EXPECT_EQ(db->header().codePage, 1252);
    std::map<int, std::u16string> data;
    db->table("t").scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
        data[int(std::get<int64_t>(values[0]))] = std::get<std::u16string>(values[1]);
        return true;
    });
    ASSERT_EQ(data.size(), 255u);
    for (int n = 1; n < 256; ++n)
        EXPECT_EQ(data[n], std::u16string({u'a', windows1252(uint8_t(n)), u'a'})) << "byte " << n;
    EXPECT_EQ(check(file), "");
}

// The undefined bytes are written as the code page's own bytes, keyed as
// Access keyed them (see access97Keys), and rows holding them change and
// leave like any other.
TEST(Access97Text, UndefinedBytesAreWrittenAndKeyedAsAccessDid)
{
    fs::path dir = scratchDir("access97-undefined-bytes");
    std::string file = createJet3(dir, true);
    for (uint8_t b : kUndefinedBytes) {
        std::string text = "a" + jet::toUtf8(std::u16string(1, windows1252(b))) + "a";
        testsupport::Run r = sql(file, "insert into t (n, data) values (" + std::to_string(b) + ", '" + text + "')");
        EXPECT_EQ(r.output, "1\n") << int(b);
    }
    ASSERT_EQ(sql(file, "insert into t (n, data) values (65, 'aAa')").output, "1\n");
    EXPECT_EQ(check(file), "");
    {
        // The stored bytes are the code page's own.
        std::string bytes = fileBytes(file);
        for (uint8_t b : kUndefinedBytes)
            EXPECT_NE(bytes.find(std::string{'a', char(b), 'a'}), std::string::npos) << int(b);
    }
    {
        auto db = jet::Database::open(file);
        std::map<std::u16string, jet::Bytes> keys = keysByText(*db, "t", "data");
        EXPECT_EQ(hex(keys[u"a\u0081a"]), "7f 60 10 60 00");
        EXPECT_EQ(hex(keys[u"a\u009Da"]), "7f 60 10 60 00");
    }
    EXPECT_EQ(sql(file, "update t set n = 1000 where n = 129").output, "1\n");
    EXPECT_EQ(sql(file, "update t set data = 'b' where n = 143").output, "1\n");
    EXPECT_EQ(sql(file, "delete from t where n = 141").output, "1\n");
    EXPECT_EQ(sql(file, "select data from t where n = 1000").output, "{\"data\":\"a\xC2\x81" "a\"}\n");
    EXPECT_EQ(check(file), "");
    expectReadersReadTextsTheirWay(file, "t");
}

namespace {

struct Access97Key {
    const char* where; // the Access-made file and index the key comes from
    std::u16string text;
    const char* key;
};

// Text keys as Access 97 stored them (the files are not ours to keep).
const std::vector<Access97Key>& access97Keys()
{
    static const std::vector<Access97Key> keys = {
        // "ß" sorts as "ss" and counts as those two letters before an accent.
        {"Northwind: Suppliers.CompanyName", u"Plutzer Lebensmittelgroßmärkte AG",
         "7f 73 6d 78 77 7e 66 75 11 6d 66 61 66 70 76 6f 6a 77 77 66 6d 68 75 72 76 76 6f 60 75 6c 77 66 11 60 68 "
         "02 22 22 22 22 22 60"},
        // A NUL weighs as the other control characters.
        {"Northwind: MSysModules2.Name", std::u16string(u"Lock\0", 5), "7f 6d 72 62 6c 10 00"},
        // "a", byte N, "a" of an Access 97 file of every byte value.
        {"every byte: 0x81", u"a\u0081a", "7f 60 10 60 00"},
        {"every byte: 0x9D", u"a\u009Da", "7f 60 10 60 00"},
        {"every byte: 0xDF", u"a\u00DFa", "7f 60 76 76 60 00"},
        {"every byte: 0xE4", u"a\u00E4a", "7f 60 60 60 02 60"},
    };
    return keys;
}

} // namespace

TEST(Access97Keys, TextKeysAreWhatAccess97Stored)
{
    const jet::IndexKeyColumn text{jet::ColumnType::Text, true, jet::TextKeyOrder::General97};
    for (const Access97Key& k : access97Keys()) {
        SCOPED_TRACE(k.where);
        EXPECT_EQ(hex(jet::encodeIndexKey({k.text}, {text})), k.key);
    }
}

// The same texts written into a new Access 97 file get Access's keys, leave
// it again by them, and read back in every reader.
TEST(Access97Keys, NewRowsGetTheKeysAccessWouldWrite)
{
    fs::path dir = scratchDir("access97-keys");
    std::string file = (dir / "keys.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table names\n  id long\n  name text(255)\n  index by_name (name)\n";
    }
    ASSERT_EQ(run(quote(jetdb()) + " create --jet3 " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);
    {
        auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        int64_t id = 0;
        for (const Access97Key& k : access97Keys()) db->table("names").insertRow({jet::Value{++id}, jet::Value{k.text}});
        tx.commit();
    }
    {
        auto db = jet::Database::open(file);
        std::map<std::u16string, jet::Bytes> keys = keysByText(*db, "names", "name");
        for (const Access97Key& k : access97Keys()) {
            SCOPED_TRACE(k.where);
            EXPECT_EQ(hex(keys[k.text]), k.key);
        }
    }
    EXPECT_EQ(check(file), "");
    EXPECT_EQ(sql(file, "delete from names where name = 'Plutzer Lebensmittelgroßmärkte AG'").output, "1\n");
    EXPECT_EQ(check(file), "");
    expectReadersReadTextsTheirWay(file, "names");
}

namespace {

// Sets column flag 0x40 on the named columns, as Access 97 leaves it on
// ordinary columns (about 40 of its Northwind sample's).
void setFlag0x40(const std::string& file, const std::string& table, const std::vector<std::string>& columns)
{
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    const jet::TableDef& def = db->table(table).def();
    jet::WriteTransaction tx(*db);
    for (const std::string& name : columns) {
        auto [page, at] = def.locate(def.findColumn(name)->definitionOffset + def.format->tdef.column.flags);
        db->pager().modify(page)[at] |= jet::kColumnAutoGuid;
    }
    tx.commit();
}

} // namespace

// Column flag 0x40 gives a GUID column an automatic value and is kept as
// read on any other column, which it leaves ordinary: printed without
// AUTOGUID, updateable, its NOT NULL rule and default applied. An explicit
// NULL stores Null; only a column the insert leaves out takes its default.
TEST(Access97Columns, Flag0x40MakesOnlyAGuidColumnAutomatic)
{
    for (const char* format : {"--jet3", ""}) {
        SCOPED_TRACE(format[0] ? "Access 97" : "Access 2000");
        fs::path dir = scratchDir(std::string("flag-0x40") + format);
        std::string file = (dir / "orders.mdb").string();
        {
            std::ofstream schema(dir / "schema.txt");
            schema << "table Orders\n"
                      "  OrderID long autoincrement\n"
                      "  CustomerID text(5)\n"
                      "  OrderDate datetime required\n"
                      "  Freight currency default 0\n"
                      "  primary key (OrderID)\n"
                      "table Replicas\n"
                      "  Ref guid\n"
                      "  Note text(10)\n";
        }
        ASSERT_EQ(run(quote(jetdb()) + " create " + format + " " + quote(file) + " " + quote((dir / "schema.txt").string()))
                      .status,
                  0);
        setFlag0x40(file, "Orders", {"CustomerID", "OrderDate", "Freight"});
        setFlag0x40(file, "Replicas", {"Ref"});

        std::string schema = run(quote(jetdb()) + " schema " + quote(file)).output;
        EXPECT_NE(schema.find("  CustomerID Text(5) "), std::string::npos) << schema;
        EXPECT_NE(schema.find("  OrderDate DateTime NOT NULL\n"), std::string::npos) << schema;
        EXPECT_NE(schema.find("  Freight Currency\n"), std::string::npos) << schema;
        EXPECT_NE(schema.find("  Ref ReplicationID AUTOGUID\n"), std::string::npos) << schema;

        EXPECT_EQ(sql(file, "insert into Orders (CustomerID, OrderDate, Freight) values ('ALFKI', #1996-07-04#, null)").output,
                  "1\n");
        EXPECT_EQ(sql(file, "insert into Orders (CustomerID, OrderDate) values ('ANATR', #1996-07-05#)").output, "1\n");
        EXPECT_EQ(sql(file, "update Orders set Freight = 1.5, CustomerID = 'ANTON' where OrderID = 2").output, "1\n");
        EXPECT_EQ(sql(file, "insert into Replicas (Note) values ('given')").output, "1\n");
        struct Refused {
            const char* statement;
            const char* message;
        } refused[] = {
            {"insert into Orders (CustomerID, OrderDate) values ('BERGS', null)", "cannot contain a Null value"},
            {"insert into Orders (CustomerID) values ('BERGS')", "requires a value"},
            {"update Orders set OrderDate = null where OrderID = 1", "cannot contain a Null value"},
            {"update Replicas set Ref = null", "field not updateable"},
        };
        for (const Refused& r : refused) {
            testsupport::Run out = sql(file, r.statement);
            EXPECT_NE(out.status, 0) << r.statement;
            EXPECT_NE(out.output.find(r.message), std::string::npos) << r.statement << "\n" << out.output;
        }
        std::string rows = sql(file, "select OrderID, CustomerID, Freight from Orders order by OrderID").output;
        EXPECT_EQ(rows, "{\"OrderID\":1,\"CustomerID\":\"ALFKI\"}\n{\"OrderID\":2,\"CustomerID\":\"ANTON\",\"Freight\":1.5}\n");
        auto db = jet::Database::open(file);
        const jet::TableDef& orders = db->table("Orders").def();
        for (const char* name : {"CustomerID", "OrderDate", "Freight"})
            EXPECT_TRUE(orders.findColumn(name)->flags & jet::kColumnAutoGuid) << name; // kept as read
        size_t replicas = 0;
        db->table("Replicas").scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
            EXPECT_TRUE(std::holds_alternative<jet::Guid>(values[0])); // given one
            return ++replicas, true;
        });
        EXPECT_EQ(replicas, 1u);
        EXPECT_EQ(check(file), "");
        if (!haveReaders()) continue;
        std::string ours = jetdbJson(file, "Orders", (dir / "ours.json").string());
        EXPECT_EQ(compareRows(ours, mdbJson(file, "Orders", (dir / "mdbtools.json").string()), true), "");
        EXPECT_EQ(compareRows(ours, mdbReaderJson(file, "Orders", (dir / "mdbreader.json").string()), true), "");
    }
}
