// Access 97 files as Access wrote them: texts in code page 1252 with the
// bytes that code page leaves undefined, text keys in Access 97's General
// sort order, and the column flag 0x40, which makes a GUID column automatic
// and nothing else.
//
// tests/data/access97/testIndexCodesV1997.mdb is an Access-made file whose
// tables hold texts with every byte value and Access's keys for them. It is
// kept out of the per-file tests of tests/data/access because both
// independent readers misread parts of it (the five undefined bytes, its
// GUIDs, its dates before 1899-12-30); the tests here say where.
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

const std::string& everyByteFile()
{
    static const std::string path =
        (fs::path(USBKEY_TESTDATA_DIR).parent_path() / "access97" / "testIndexCodesV1997.mdb").string();
    return path;
}

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

} // namespace

// Table14 holds "a", one byte, "a" for every byte value (row N, byte N; Access
// left the bytes of rows 0 and 26, NUL and Ctrl-Z, out). Every row reads as Windows reads it, and every
// key Access stored in the file's 29 tables is the one the engine computes.
TEST(Access97Text, EveryByteOfCodePage1252ReadsAsWindowsReadsIt)
{
    auto db = jet::Database::open(everyByteFile());
    EXPECT_EQ(db->header().codePage, 1252);
    jet::Table& t = db->table("Table14");
    std::map<int, std::u16string> data;
    t.scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
        int n = std::stoi(jet::toUtf8(std::get<std::u16string>(values[0])).substr(3));
        data[n] = std::get<std::u16string>(values[1]);
        return true;
    });
    ASSERT_EQ(data.size(), 256u);
    EXPECT_EQ(data[0], u"aa");
    EXPECT_EQ(data[26], u"aa");
    for (int n = 1; n < 256; ++n)
        if (n != 26) {
            EXPECT_EQ(data[n], std::u16string({u'a', windows1252(uint8_t(n)), u'a'})) << "byte " << n;
        }
    EXPECT_EQ(check(everyByteFile()), "");
}

// A row of Access's with an undefined byte changes and leaves like any
// other; a new one is stored with that byte and keyed as Access keyed it.
TEST(Access97Text, UndefinedBytesAreWrittenAndKeyedAsAccessDid)
{
    std::string copy = scratchCopy(everyByteFile(), "access97-undefined-bytes");
    testsupport::Run updated = sql(copy, "update Table14 set name = 'changed' where name = 'row129'");
    EXPECT_EQ(updated.output, "1\n");
    EXPECT_EQ(sql(copy, "delete from Table14 where name = 'row141'").output, "1\n");
    EXPECT_EQ(sql(copy, "select data from Table14 where name = 'changed'").output, "{\"data\":\"a\xC2\x81" "a\"}\n");
    EXPECT_EQ(check(copy), "");
    expectReadersReadTextsTheirWay(copy, "Table14");

    fs::path dir = scratchDir("access97-undefined-bytes-new");
    std::string file = (dir / "new.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table t\n  n long\n  data text(10)\n  index by_data (data)\n";
    }
    ASSERT_EQ(run(quote(jetdb()) + " create --jet3 " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);
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
    auto ours = jet::Database::open(file);
    auto access = jet::Database::open(everyByteFile());
    std::map<std::u16string, jet::Bytes> accessKeys = keysByText(*access, "Table14", "data");
    for (const auto& [text, key] : keysByText(*ours, "t", "data")) {
        SCOPED_TRACE(jet::toUtf8(text));
        ASSERT_TRUE(accessKeys.count(text));
        EXPECT_EQ(hex(key), hex(accessKeys[text]));
    }
    expectReadersReadTextsTheirWay(file, "t");
}

namespace {

struct Access97Key {
    const char* where; // the Access-made file and index the key comes from
    std::u16string text;
    const char* key;
};

// Text keys as Access 97 stored them. Those from its Northwind sample are
// given here only (the file is not ours to keep).
const std::vector<Access97Key>& access97Keys()
{
    static const std::vector<Access97Key> keys = {
        // "ß" sorts as "ss" and counts as those two letters before an accent.
        {"Northwind: Suppliers.CompanyName", u"Plutzer Lebensmittelgroßmärkte AG",
         "7f 73 6d 78 77 7e 66 75 11 6d 66 61 66 70 76 6f 6a 77 77 66 6d 68 75 72 76 76 6f 60 75 6c 77 66 11 60 68 "
         "02 22 22 22 22 22 60"},
        // A NUL weighs as the other control characters.
        {"Northwind: MSysModules2.Name", std::u16string(u"Lock\0", 5), "7f 6d 72 62 6c 10 00"},
        {"testIndexCodesV1997: Table14.data", u"a\u0081a", "7f 60 10 60 00"},
        {"testIndexCodesV1997: Table14.data", u"a\u009Da", "7f 60 10 60 00"},
        {"testIndexCodesV1997: Table14.data", u"a\u00DFa", "7f 60 76 76 60 00"},
        {"testIndexCodesV1997: Table14.data", u"a\u00E4a", "7f 60 60 60 02 60"},
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
    // Those from the file are in it.
    auto access = jet::Database::open(everyByteFile());
    std::map<std::u16string, jet::Bytes> stored = keysByText(*access, "Table14", "data");
    for (const Access97Key& k : access97Keys()) {
        if (std::string(k.where).rfind("testIndexCodesV1997", 0) != 0) continue;
        SCOPED_TRACE(jet::toUtf8(k.text));
        ASSERT_TRUE(stored.count(k.text));
        EXPECT_EQ(hex(stored[k.text]), k.key);
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
