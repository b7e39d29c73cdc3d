// Writes on copies of Access-made files and on files we create, read back
// by mdbtools, mdb-reader and our own check.
#include "TestSupport.h"

#include "jet/Checker.h"
#include "jet/ComplexColumn.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"
#include "jet/Journal.h"
#include "jet/SchemaWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<jet::RowLocator> liveRows(jet::Table& t)
{
    std::vector<jet::RowLocator> out;
    t.scan([&](jet::RowLocator at, std::vector<jet::Value>&) { return out.push_back(at), true; });
    return out;
}

std::multiset<std::string> jsonLines(const std::string& file)
{
    std::ifstream in(file);
    std::multiset<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.insert(line);
    return out;
}

// Both independent readers and our check agree with what we read (the
// check alone where the readers are missing, as in a Windows build); the
// columns a reader is known to misread are left out (TestSupport.h).
void expectReadersAgree(const std::string& file, const std::string& table)
{
    if (!haveReaders()) {
        EXPECT_EQ(check(file), "");
        return;
    }
    const std::string dir = fs::path(file).parent_path().string();
    EXPECT_EQ(compareWithReader(file, table, "mdb-json", dir), "") << table;
    EXPECT_EQ(compareWithReader(file, table, "mdb-reader", dir), "") << table;
    auto db = openAccessFile(file);
    EXPECT_EQ(mdbCount(file, table), db->table(table).def().rowCount) << table;
    EXPECT_EQ(check(file), "");
}

jet::ColumnSpec column(const char* name, jet::ColumnType type, uint16_t length = 0)
{
    jet::ColumnSpec c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

size_t distinctKeys(const std::vector<jet::IndexEntry>& entries)
{
    size_t n = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || entries[i].key != entries[i - 1].key) ++n;
    return n;
}

} // namespace

TEST(Write, DeleteFirstMiddleLastThenAllInEveryAccessFile)
{
    for (const std::string& original : accessFiles()) {
        std::vector<std::string> tables = openAccessFile(original)->tableNames();
        for (const std::string& table : tables) {
            SCOPED_TRACE(original + " / " + table);
            std::string file = scratchCopy(original, "delete");
            fs::path dir = fs::path(file).parent_path();
            auto before = jsonLines(jetdbJson(file, table, (dir / "before.json").string()));
            std::multiset<std::string> expected = before;
            {
                auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
                jet::Table& t = db->table(table);
                std::vector<jet::RowLocator> rows = liveRows(t);
                if (rows.empty()) continue;
                std::set<size_t> picks{0, rows.size() / 2, rows.size() - 1};
                jet::WriteTransaction tx(*db);
                for (size_t i : picks) t.deleteRow(rows[i]);
                tx.commit();
            }
            auto after = jsonLines(jetdbJson(file, table, (dir / "after.json").string()));
            EXPECT_LT(after.size(), before.size());
            for (const std::string& line : after) EXPECT_TRUE(before.count(line));
            expectReadersAgree(file, table);
            {
                auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
                jet::Table& t = db->table(table);
                jet::WriteTransaction tx(*db);
                for (jet::RowLocator at : liveRows(t)) t.deleteRow(at);
                tx.commit();
                EXPECT_EQ(t.def().rowCount, 0u);
            }
            expectReadersAgree(file, table);
            if (haveReaders()) {
                EXPECT_EQ(mdbCount(file, table), 0);
            }
        }
    }
}

// Numbers and dates changed on every row of every Access-made table: values
// that stay non-null are written over their old bytes, nulls that get a value
// take the general path (the null mask changes); both read back in every reader.
TEST(Write, NumbersAndDatesChangedOnEveryRowOfEveryAccessFile)
{
    for (const std::string& original : accessFiles()) {
        for (const std::string& table : openAccessFile(original)->tableNames()) {
            SCOPED_TRACE(original + " / " + table);
            std::string file = scratchCopy(original, "numbers");
            std::vector<std::pair<size_t, jet::Value>> changes;
            {
                auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
                jet::Table& t = db->table(table);
                for (size_t i = 0; i < t.def().columns.size(); ++i) {
                    const jet::ColumnDef& c = t.def().columns[i];
                    // One value on every row would be a duplicate key in a unique index.
                    bool unique = false;
                    for (const jet::RealIndex& index : t.def().realIndexes)
                        for (const jet::IndexColumn& ic : index.columns)
                            if (ic.columnNumber == c.number && index.isUnique()) unique = true;
                    if (c.isAutoNumber() || c.isCalculated() || unique) continue;
                    switch (c.type) {
                    case jet::ColumnType::Byte: changes.emplace_back(i, int64_t(200)); break;
                    case jet::ColumnType::Integer: changes.emplace_back(i, int64_t(-1234)); break;
                    case jet::ColumnType::Long: changes.emplace_back(i, int64_t(-123456789)); break;
                    case jet::ColumnType::Double: changes.emplace_back(i, 2.5); break;
                    case jet::ColumnType::Single: changes.emplace_back(i, 0.75); break;
                    case jet::ColumnType::Currency: changes.emplace_back(i, jet::Currency{123450000}); break;
                    case jet::ColumnType::DateTime: changes.emplace_back(i, jet::DateTime{46000.5}); break;
                    default: break;
                    }
                }
                if (changes.empty()) continue;
                std::vector<jet::RowLocator> rows = liveRows(t);
                jet::WriteTransaction tx(*db);
                // One column at a time, so that an indexed one does not send
                // the others down the general path.
                for (jet::RowLocator at : rows)
                    for (const auto& change : changes) t.updateRow(at, {change});
                tx.commit();
                for (jet::RowLocator at : rows) {
                    std::optional<std::vector<jet::Value>> row = t.read(at);
                    ASSERT_TRUE(row);
                    for (const auto& [column, value] : changes) EXPECT_TRUE((*row)[column] == value) << column;
                }
            }
            expectReadersAgree(file, table);
        }
    }
}

namespace {

bool inUniqueIndex(const jet::TableDef& def, const jet::ColumnDef& c)
{
    for (const jet::RealIndex& index : def.realIndexes)
        for (const jet::IndexColumn& ic : index.columns)
            if (ic.columnNumber == c.number && index.isUnique()) return true;
    return false;
}

// A value of the column's type that no row of the table holds in it.
jet::Value freshValue(const jet::ColumnDef& c, const std::vector<std::vector<jet::Value>>& rows, size_t column)
{
    auto unused = [&](const jet::Value& v) {
        for (const auto& row : rows)
            if (row[column] == v) return false;
        return true;
    };
    for (int64_t n = 1;; ++n) {
        jet::Value v;
        switch (c.type) {
        case jet::ColumnType::Byte:
        case jet::ColumnType::Integer:
        case jet::ColumnType::Long:
        case jet::ColumnType::BigInt: v = int64_t(n); break;
        case jet::ColumnType::ExtDateTime:
            v = u"2001-02-03 04:05:06." + jet::fromUtf8(std::to_string(1000000 + n));
            break;
        case jet::ColumnType::Single:
        case jet::ColumnType::Double: v = double(n) + 0.5; break;
        case jet::ColumnType::Currency: v = jet::Currency{n * 10000}; break;
        case jet::ColumnType::DateTime: v = jet::DateTime{40000.25 + double(n)}; break;
        case jet::ColumnType::Text:
        case jet::ColumnType::Memo: {
            // Texts compare without case in an index: a number keeps them apart.
            std::u16string text = u"new " + jet::fromUtf8(std::to_string(n));
            if (c.type == jet::ColumnType::Text) text.resize(std::min<size_t>(text.size(), c.length / 2));
            v = text;
            break;
        }
        case jet::ColumnType::Guid: {
            jet::Guid g;
            g.bytes[0] = uint8_t(n);
            g.bytes[15] = 0xA5;
            v = g;
            break;
        }
        case jet::ColumnType::Numeric: {
            jet::Decimal d;
            d.low = uint64_t(n);
            d.scale = 0;
            v = d;
            break;
        }
        default: v = jet::Bytes{uint8_t(n), 0x5A}; break;
        }
        if (unused(v)) return v;
    }
}

} // namespace

// On a copy of every Access-made file: a row inserted (a copy of a row the
// table holds, with fresh values where a unique index needs them), a row
// changed and a row deleted in every user table, read back by every reader.
TEST(Write, InsertUpdateAndDeleteInEveryUserTableOfEveryAccessFile)
{
    for (const std::string& original : accessFiles()) {
        for (const std::string& table : openAccessFile(original)->tableNames()) {
            SCOPED_TRACE(original + " / " + table);
            std::string file = scratchCopy(original, "insert-update-delete");
            {
                auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
                jet::Table& t = db->table(table);
                const jet::TableDef& def = t.def();
                const uint32_t countBefore = def.rowCount; // the rows, but where Access left it off (TestSupport.cpp)
                std::vector<std::vector<jet::Value>> rows;
                t.scan([&](jet::RowLocator, std::vector<jet::Value>& values) { return rows.push_back(values), true; });
                std::vector<std::optional<jet::Value>> insert(def.columns.size());
                for (size_t i = 0; i < def.columns.size(); ++i) {
                    const jet::ColumnDef& c = def.columns[i];
                    // Complex and calculated columns take no value: Access fills them.
                    if (c.isAutoNumber() || c.isCalculated() || !jet::isKnownColumnType(c.type)) continue;
                    bool required = !(c.flags & jet::kColumnNullable) && c.type != jet::ColumnType::Boolean;
                    for (const jet::RealIndex& index : def.realIndexes)
                        for (const jet::IndexColumn& ic : index.columns)
                            required |= ic.columnNumber == c.number && def.indexRequiresValues(index);
                    if (inUniqueIndex(def, c) || (rows.empty() && required)) insert[i] = freshValue(c, rows, i);
                    else if (!rows.empty()) insert[i] = rows.front()[i];
                }
                {
                    jet::WriteTransaction tx(*db);
                    t.insertRow(insert);
                    tx.commit();
                }
                std::vector<jet::RowLocator> live = liveRows(t);
                ASSERT_EQ(live.size(), rows.size() + 1);
                // Change the first row: a text where there is one (the row
                // changes size), else any column a unique index leaves alone.
                std::optional<std::pair<size_t, jet::Value>> change;
                for (size_t i = 0; i < def.columns.size() && !change; ++i) {
                    const jet::ColumnDef& c = def.columns[i];
                    // Access 97 files keep texts in their code page (1252 here).
                    if (c.type == jet::ColumnType::Text && !c.isCalculated() && !inUniqueIndex(def, c))
                        change.emplace(i, def.text->isUnicode() ? std::u16string(u"changed ä 中").substr(0, c.length / 2)
                                                                : std::u16string(u"changed ä").substr(0, c.length));
                }
                for (size_t i = 0; i < def.columns.size() && !change; ++i) {
                    const jet::ColumnDef& c = def.columns[i];
                    if (!c.isAutoNumber() && !c.isCalculated() && jet::isKnownColumnType(c.type) &&
                        c.type != jet::ColumnType::Boolean && !inUniqueIndex(def, c))
                        change.emplace(i, freshValue(c, rows, i));
                }
                {
                    jet::WriteTransaction tx(*db);
                    if (change) t.updateRow(live.front(), {*change});
                    t.deleteRow(live.back() == live.front() ? live.front() : live[live.size() / 2]);
                    tx.commit();
                }
                if (change && live.size() > 1) {
                    std::optional<std::vector<jet::Value>> row = t.read(live.front());
                    ASSERT_TRUE(row);
                    EXPECT_TRUE((*row)[change->first] == change->second);
                }
                EXPECT_EQ(t.def().rowCount, countBefore);
            }
            expectReadersAgree(file, table);
        }
    }
}

// Complex and calculated columns (Access 2007 and later): a value given for
// one is refused, naming the column and its kind, and changes nothing; a new
// row gets a new key for its complex columns (one for all of them, with no
// values yet), and a deleted row takes its values in the hidden tables along.
TEST(Write, ComplexAndCalculatedColumnsRefuseValuesAndKeepWhatAccessStored)
{
    std::string complex = scratchCopy(testData("complexDataTestV2007.accdb"), "complex-writes");
    std::string calculated = scratchCopy(testData("calcFieldTestV2010.accdb"), "complex-writes");
    const std::string beforeComplex = fileBytes(complex), beforeCalculated = fileBytes(calculated);
    struct Refusal {
        std::string file, statement, expect;
    } refusals[] = {
        {complex, "insert into Table1 (id, [attach-data]) values ('x', 1)", "is a complex column"},
        {complex, "update Table1 set [multi-value-data] = 2 where id = 'row1'", "is a complex column"},
        {calculated, "insert into Table1 (FirstName, LastFirst) values ('a', 'b')", "is calculated by Access"},
        {calculated, "update Table1 set BoolTest = False", "is calculated by Access"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.statement);
        testsupport::Run result = run(quote(jetdb()) + " sql " + quote(r.file) + " " + quote(r.statement), true);
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.output.find(r.expect), std::string::npos) << result.output;
    }
    {
        auto db = openAccessFile(complex, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("Table1");
        std::vector<std::optional<jet::Value>> row(t.def().columns.size());
        row[0] = jet::Value{std::u16string(u"row5")};
        const size_t attach = t.def().columnIndex(t.def().findColumn("attach-data")->number);
        row[attach] = jet::Value{int64_t(1)};
        jet::WriteTransaction tx(*db);
        try {
            t.insertRow(row);
            ADD_FAILURE() << "a complex value was taken";
        } catch (const jet::JetError& e) {
            EXPECT_NE(std::string(e.what()).find("column 'attach-data' is a complex column (attachments)"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(fileBytes(complex), beforeComplex);
    EXPECT_EQ(fileBytes(calculated), beforeCalculated);

    auto flatRows = [&](const char* column) {
        auto db = openAccessFile(complex);
        const jet::TableDef& def = db->table("Table1").def();
        std::map<int64_t, size_t> counts;
        for (const auto& [key, values] : jet::ComplexColumn(*db, def, *def.findColumn(column)).valuesByKey())
            counts[key] = values.size();
        return counts;
    };
    const std::map<int64_t, size_t> attachments = flatRows("attach-data"), lists = flatRows("multi-value-data");
    ASSERT_EQ(attachments.at(2), 2u);
    ASSERT_EQ(lists.at(2), 2u);
    uint32_t counter = 0;
    {
        auto db = openAccessFile(complex, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("Table1");
        counter = t.def().complexAutoNumber;
        std::vector<std::optional<jet::Value>> row(t.def().columns.size());
        row[0] = jet::Value{std::u16string(u"row5")};
        jet::WriteTransaction tx(*db);
        jet::RowLocator at = t.insertRow(row);
        for (jet::RowLocator r : liveRows(t))
            if (std::get<std::u16string>(t.read(r)->at(0)) == u"row2") t.deleteRow(r);
        tx.commit();
        EXPECT_EQ(t.def().complexAutoNumber, counter + 1);
        for (size_t i = 0; i < t.def().columns.size(); ++i) {
            if (t.def().columns[i].isComplex()) {
                EXPECT_TRUE(t.read(at)->at(i) == jet::Value{int64_t(counter + 1)});
            }
        }
    }
    std::map<int64_t, size_t> attachmentsAfter = attachments, listsAfter = lists;
    attachmentsAfter.erase(2);
    listsAfter.erase(2);
    EXPECT_EQ(flatRows("attach-data"), attachmentsAfter);
    EXPECT_EQ(flatRows("multi-value-data"), listsAfter);
    EXPECT_EQ(check(complex), "");
    std::string rows = run(quote(jetdb()) + " json " + quote(complex) + " Table1").output;
    EXPECT_NE(rows.find(R"({"id":"row5","VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880":[],"multi-value-data":[],"attach-data":[]})"),
              std::string::npos)
        << rows;
    expectReadersAgree(complex, "Table1");
}

// A column of a type the engine does not know (0x11 in Access 2000's
// MSysAccessObjects) keeps its bytes when another column of its row
// changes, and refuses a value of its own, changing nothing.
TEST(Write, ColumnsOfAnUnknownTypeKeepTheirBytesAndRefuseNewValues)
{
    std::string file = scratchCopy(testData("delTestV2000.mdb"), "unknown-type");
    auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
    jet::Table& t = db->table("MSysAccessObjects");
    size_t data = t.def().columnIndex(t.def().findColumn("Data")->number);
    size_t id = t.def().columnIndex(t.def().findColumn("ID")->number);
    jet::RowLocator first = liveRows(t).at(0);
    std::vector<jet::Value> before = *t.read(first);
    {
        jet::WriteTransaction tx(*db);
        t.updateRow(first, {{id, jet::Value{int64_t(1000)}}});
        tx.commit();
    }
    std::vector<jet::Value> after = *t.read(first);
    EXPECT_TRUE(after[data] == before[data]);
    EXPECT_EQ(std::get<int64_t>(after[id]), 1000);
    db.reset();
    EXPECT_EQ(check(file), "");

    std::string bytes = fileBytes(file);
    db = openAccessFile(file, jet::Pager::Access::ReadWrite);
    jet::Table& again = db->table("MSysAccessObjects");
    std::vector<std::optional<jet::Value>> insert(again.def().columns.size());
    insert[data] = jet::Value{jet::Bytes{1, 2, 3}};
    insert[id] = jet::Value{int64_t(2000)};
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "update" : "insert");
        try {
            jet::WriteTransaction tx(*db);
            if (attempt == 0) again.updateRow(first, {{data, jet::Value{jet::Bytes{1, 2, 3}}}});
            else again.insertRow(insert);
            tx.commit();
            ADD_FAILURE() << "accepted";
        } catch (const jet::JetError& e) {
            EXPECT_NE(std::string(e.what()).find("column 'Data' has a type this program does not know (code 0x11)"),
                      std::string::npos)
                << e.what();
        }
    }
    db.reset();
    EXPECT_EQ(fileBytes(file), bytes);
}

// Decimal values are brought to the column's scale and checked against its
// precision in 128-bit arithmetic, on a copy of an Access-made Numeric(18,0) column.
TEST(Write, DecimalValuesMeetTheColumnsScaleAndPrecision)
{
    auto decimal = [](uint64_t high, uint64_t low, uint8_t scale, bool negative = false) {
        jet::Decimal d;
        d.high = high;
        d.low = low;
        d.scale = scale;
        d.precision = 28;
        d.negative = negative;
        return jet::Value(d);
    };
    struct Case {
        jet::Value given;
        const char* stored;  // as jetdb json prints it; nullptr when refused
        const char* refusal;
    } cases[] = {
        {decimal(0, 12300, 2), "123", nullptr},
        {decimal(0, 12345, 2), nullptr, "decimal places"},
        {decimal(0, 5, 0, true), "-5", nullptr},
        {int64_t(999999999999999999), "999999999999999999", nullptr},
        {int64_t(1000000000000000000), nullptr, "too large"},
        {decimal(1, 0, 0), nullptr, "too large"},
        {decimal(0x8000000000000000u, 0, 0), nullptr, "too large"},
    };
    std::string file = scratchCopy(testData("fixedNumericTestV2003.mdb"), "decimal");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : c.refusal);
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("test");
        jet::RowLocator row = liveRows(t).at(0);
        jet::WriteTransaction tx(*db);
        if (!c.stored) {
            try {
                t.updateRow(row, {{1, c.given}});
                ADD_FAILURE() << "accepted";
            } catch (const jet::JetError& e) {
                EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
            }
            continue;
        }
        t.updateRow(row, {{1, c.given}});
        tx.commit();
        fs::path dir = fs::path(file).parent_path();
        std::string json = fileBytes(jetdbJson(file, "test", (dir / "decimal.json").string()));
        EXPECT_NE(json.find(std::string("\"col2\":") + c.stored + ","), std::string::npos) << json;
    }
    expectReadersAgree(file, "test");
}

TEST(Write, UpdatesGrowRowsOutOfTheirPagesAndInsertsSplitTheIndex)
{
    std::string file = scratchCopy(testData("compIndexTestV2003.mdb"), "update-insert");
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("Table1");
        size_t textColumn = t.def().columnIndex(t.def().findColumn("DC_AGENTE")->number);
        size_t keyColumn = t.def().columnIndex(t.def().findColumn("CD_AGENTE")->number);
        jet::WriteTransaction tx(*db);
        int n = 0;
        for (jet::RowLocator at : liveRows(t)) {
            t.updateRow(at, {{textColumn, jet::Value{std::u16string(55, char16_t(u'长' + n % 7))}}});
            ++n;
        }
        // Key changes move index entries.
        std::vector<jet::RowLocator> rows = liveRows(t);
        t.updateRow(rows[3], {{keyColumn, jet::Value{int64_t(-5)}}});
        tx.commit();
    }
    expectReadersAgree(file, "Table1");
    size_t pagesBefore;
    {
        auto db = openAccessFile(file);
        jet::Table& t = db->table("Table1");
        pagesBefore = jet::IndexTree(db->pager(), t.def(), t.def().realIndexes[0], t.location()).pages().size();
    }
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("Table1");
        jet::WriteTransaction tx(*db);
        for (int i = 0; i < 60000; ++i)
            t.insertRow({jet::Value{int64_t(100000 + i)}, jet::Value{std::u16string(u"新的")}, jet::Value{}});
        tx.commit();
        EXPECT_EQ(t.def().rowCount, 60512u);
        // The two-level tree split into hundreds of leaves under its root.
        EXPECT_GT(jet::IndexTree(db->pager(), t.def(), t.def().realIndexes[0], t.location()).pages().size(), pagesBefore * 20);
    }
    expectReadersAgree(file, "Table1");
    // A few single inserts and deletes take the in-place path of the index.
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("Table1");
        jet::WriteTransaction tx(*db);
        t.insertRow({jet::Value{int64_t(77)}, jet::Value{std::u16string(u"x")}, jet::Value{}});
        t.deleteRow(liveRows(t)[10]);
        tx.commit();
    }
    expectReadersAgree(file, "Table1");
}

// The register as `jetdb demo` makes it, in the formats it writes.
TEST(Write, CreatedDatabaseReadsInEveryReader)
{
    struct Made {
        const char* options;
        const char* name;
        const jet::Format* format;
    } made[] = {{"", "demo.mdb", &jet::Format::jet4()}, {" --accdb", "demo.accdb", &jet::Format::aceVersion(3)}};
    for (const Made& m : made) {
        SCOPED_TRACE(m.name);
        fs::path dir = scratchDir("create");
        std::string file = (dir / m.name).string();
        auto r = run(quote(jetdb()) + " demo " + quote(file) + " --entries 3000 --pending 100" + m.options, true);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(&openAccessFile(file)->pager().format(), m.format);
        for (const char* table : {"all_key", "counted", "SME_KEY_DEPT", "SME_PROVINCE_LIST"}) expectReadersAgree(file, table);
        if (haveReaders()) {
            EXPECT_EQ(mdbCount(file, "all_key"), 3000);
        }
        // Defaults fill id, add_date and is_del of a new entry.
        {
            auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
            jet::Table& t = db->table("all_key");
            jet::WriteTransaction tx(*db);
            jet::RowLocator at = t.insertRow({std::nullopt, jet::Value{std::u16string(u"NEW")},
                                              jet::Value{std::u16string(u"u")}, std::nullopt, std::nullopt});
            tx.commit();
            auto row = t.read(at);
            ASSERT_TRUE(row);
            EXPECT_EQ(std::get<int64_t>((*row)[0]), 3001);
            EXPECT_TRUE(std::holds_alternative<jet::DateTime>((*row)[3]));
            EXPECT_EQ(std::get<int64_t>((*row)[4]), 1);
        }
        expectReadersAgree(file, "all_key");
        // Running demo again never overwrites.
        EXPECT_NE(run(quote(jetdb()) + " demo " + quote(file) + m.options).status, 0);
    }
}

TEST(Write, BadValuesAndReadOnlyFilesChangeNothing)
{
    fs::path dir = scratchDir("bad");
    std::string file = (dir / "d.mdb").string();
    ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(file) + " --entries 10").status, 0);
    std::string before = fileBytes(file);
    struct Case {
        const char* what;
        std::vector<std::optional<jet::Value>> row;
        const char* expect;
    } cases[] = {
        {"text too long", {std::nullopt, jet::Value{std::u16string(51, u'x')}, std::nullopt, std::nullopt, std::nullopt}, "more than"},
        {"wrong type", {std::nullopt, jet::Value{int64_t(5)}, std::nullopt, jet::Value{std::u16string(u"x")}, std::nullopt}, "cannot hold"},
        {"out of range", {std::nullopt, std::nullopt, std::nullopt, std::nullopt, jet::Value{int64_t(70000)}}, "out of range"},
        {"duplicate key", {jet::Value{int64_t(3)}, std::nullopt, std::nullopt, std::nullopt, std::nullopt}, "duplicate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        try {
            db->table("all_key").insertRow(c.row);
            tx.commit();
            ADD_FAILURE() << "no error";
        } catch (const jet::JetError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what();
        }
    }
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        EXPECT_THROW(db->table("counted").insertRow({jet::Value{}, std::nullopt, std::nullopt}), jet::JetError);
    }
    EXPECT_EQ(fileBytes(file), before);
    auto ro = openAccessFile(file);
    EXPECT_THROW(ro->beginWrite(), jet::JetError);
    EXPECT_EQ(fileBytes(file), before);
}

// Every reader takes a long value's length from 24 bits: a longer value is
// refused before anything is written.
TEST(Write, LongValuesPastSixteenMegabytesAreRefused)
{
    std::string file = scratchCopy(testData("test2V2003.mdb"), "long-value");
    const std::string before = fileBytes(file);
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("MSP_PROJECTS");
        const size_t memo = t.def().columnIndex(t.def().findColumn("PROJ_PROP_AUTHOR")->number);
        std::vector<jet::RowLocator> rows = liveRows(t);
        ASSERT_FALSE(rows.empty());
        jet::WriteTransaction tx(*db);
        try {
            // Two bytes a character: 16,800,000 bytes.
            t.updateRow(rows.front(), {{memo, jet::Value{std::u16string(8400000, u'\u4E2D')}}});
            tx.commit();
            ADD_FAILURE() << "no error";
        } catch (const jet::JetError& e) {
            EXPECT_NE(std::string(e.what()).find("at most 16777215 bytes"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(fileBytes(file), before);
}

// Journals left by a crash are read back by later builds: the checksum must
// stay the standard CRC-32, whatever the lengths and however it is chained.
TEST(Journal, ChecksumIsTheStandardCrc32)
{
    const std::string check = "123456789";
    EXPECT_EQ(jet::Journal::crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    std::vector<uint8_t> page(4096 + 7);
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i * 131 + 7);
    uint32_t bytewise = ~0u;
    for (uint8_t b : page) {
        bytewise ^= b;
        for (int k = 0; k < 8; ++k) bytewise = (bytewise & 1) ? 0xEDB88320u ^ (bytewise >> 1) : bytewise >> 1;
    }
    EXPECT_EQ(jet::Journal::crc32(page.data(), page.size()), ~bytewise);
    for (size_t split : {0u, 1u, 5u, 8u, 13u, 4096u})
        EXPECT_EQ(jet::Journal::crc32(page.data() + split, page.size() - split, jet::Journal::crc32(page.data(), split)),
                  ~bytewise)
            << split;
}

// On a plain file and on an encoded one: the journal keeps pages as they are
// on disk, so rolling it back gives the original bytes (encrypted pages of an
// encoded file included), never a mix.
TEST(Write, CrashAtEachPageWriteRollsBackOnReopen)
{
    std::string plain = scratchCopy(testData("compIndexTestV2003.mdb"), "crash-original");
    std::string encoded = (fs::path(plain).parent_path() / "encoded.mdb").string();
    fs::remove(encoded);
    ASSERT_EQ(run(quote(jetdb()) + " encode " + quote(plain) + " " + quote(encoded)).status, 0);
    for (const std::string& original : {plain, encoded}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(original + ": crash at page write " + std::to_string(n));
            const std::string expected = fileBytes(original);
            std::string file = scratchCopy(original, "crash");
            bool crashed = false;
            {
                auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
                jet::Table& t = db->table("Table1");
                db->pager().setCrashAfterPageWrites(n);
                jet::WriteTransaction tx(*db);
                std::vector<jet::RowLocator> rows = liveRows(t);
                for (size_t i = 0; i < rows.size(); i += 3) t.deleteRow(rows[i]);
                for (int i = 0; i < 300; ++i)
                    t.insertRow({jet::Value{int64_t(5000 + i)}, jet::Value{std::u16string(u"c")}, jet::Value{}});
                try {
                    tx.commit();
                } catch (const jet::JetError&) {
                    crashed = true;
                }
            }
            if (!crashed) {
                EXPECT_EQ(check(file), "");
                EXPECT_GT(n, 3);
                break;
            }
            ASSERT_TRUE(fs::exists(jet::Pager::journalPath(file)));
            { auto db = openAccessFile(file); } // rolls back
            EXPECT_FALSE(fs::exists(jet::Pager::journalPath(file)));
            EXPECT_EQ(fileBytes(file), expected);
            if (n > 400) FAIL() << "the commit never finished";
        }
    }
}

TEST(Write, RandomOperationsMatchAModel)
{
    fs::path dir = scratchDir("random");
    std::string file = (dir / "r.mdb").string();
    jet::SchemaWriter::createDatabase(file);
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::TableSpec spec;
        spec.name = "t";
        jet::ColumnSpec id = column("id", jet::ColumnType::Long);
        jet::ColumnSpec name = column("name", jet::ColumnType::Text, 40);
        jet::ColumnSpec when = column("when", jet::ColumnType::DateTime);
        jet::ColumnSpec memo = column("note", jet::ColumnType::Memo);
        spec.columns = {id, name, when, memo};
        spec.indexes = {jet::IndexSpec{"PrimaryKey", {{"id", true}}, true, true, false},
                        jet::IndexSpec{"name", {{"name", false}, {"id", true}}, false, false, false},
                        jet::IndexSpec{"when", {{"when", true}}, false, false, true}};
        jet::WriteTransaction tx(*db);
        jet::SchemaWriter::createTable(*db, spec);
        tx.commit();
    }
    std::mt19937 rng(20261210);
    // USBKEY_RANDOM_BATCHES makes a longer run than the one CI does.
    const int batches = std::getenv("USBKEY_RANDOM_BATCHES") ? std::atoi(std::getenv("USBKEY_RANDOM_BATCHES")) : 12;
    std::map<int64_t, std::pair<std::u16string, std::u16string>> model; // id -> (name, note)
    for (int batch = 0; batch < batches; ++batch) {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::Table& t = db->table("t");
        std::map<int64_t, jet::RowLocator> where;
        t.scan([&](jet::RowLocator at, std::vector<jet::Value>& row) {
            where[std::get<int64_t>(row[0])] = at;
            return true;
        });
        jet::WriteTransaction tx(*db);
        int ops = batch % 4 == 3 ? 400 : 40;
        for (int i = 0; i < ops; ++i) {
            int kind = int(rng() % 3);
            if (kind == 0 || model.empty()) {
                int64_t id = int64_t(rng() % 100000);
                if (model.count(id)) continue;
                std::u16string name(1 + rng() % 30, char16_t(u'a' + rng() % 26));
                std::u16string note(rng() % 3 == 0 ? 3000 + rng() % 9000 : 1 + rng() % 50, u'记');
                where[id] = t.insertRow({jet::Value{id}, jet::Value{name}, jet::Value{jet::DateTime{double(rng() % 1000)}},
                                         jet::Value{note}});
                model[id] = {name, note};
            } else {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                if (kind == 1) {
                    t.deleteRow(where.at(it->first));
                    where.erase(it->first);
                    model.erase(it);
                } else {
                    std::u16string name(1 + rng() % 40, char16_t(u'A' + rng() % 26));
                    t.updateRow(where.at(it->first), {{1, jet::Value{name}}});
                    it->second.first = name;
                }
            }
        }
        tx.commit();
        std::map<int64_t, std::pair<std::u16string, std::u16string>> seen;
        t.scan([&](jet::RowLocator, std::vector<jet::Value>& row) {
            seen[std::get<int64_t>(row[0])] = {std::get<std::u16string>(row[1]), std::get<std::u16string>(row[3])};
            return true;
        });
        ASSERT_EQ(seen, model) << "after batch " << batch;
        ASSERT_TRUE(jet::Checker(*db).run().empty()) << check(file);
        // Batches of 40 edit the indexes in place, those of 400 rewrite them:
        // either way the unique-entry count is the number of distinct keys.
        for (const jet::RealIndex& index : t.def().realIndexes)
            ASSERT_EQ(index.uniqueEntryCount, distinctKeys(jet::IndexTree(db->pager(), t.def(), index, t.location()).entries()))
                << "index " << index.number << " after batch " << batch;
    }
    expectReadersAgree(file, "t");
}

TEST(Write, SchemaFileWithEveryColumnTypeReadsInEveryReader)
{
    for (const char* name : {"s.mdb", "s.accdb"}) {
        SCOPED_TRACE(name);
        fs::path dir = scratchDir("schema");
        std::string file = (dir / name).string();
        const std::string options = fs::path(name).extension() == ".accdb" ? " --accdb" : "";
        std::ofstream((dir / "schema.txt").string()) << "# every type the program creates\n"
                                                         "table things\n"
                                                         "  id long autoincrement\n"
                                                         "  flag boolean\n"
                                                         "  small byte\n"
                                                         "  count integer default 7\n"
                                                         "  money currency\n"
                                                         "  ratio double\n"
                                                         "  born datetime default #2001-02-03#\n"
                                                         "  label text(20) required\n"
                                                         "  amount numeric(16,2)\n"
                                                         // 32 characters, 96 bytes of UTF-8
                                                         "  备注备注备注备注备注备注备注备注备注备注备注备注备注备注备注备注 memo\n"
                                                         "  blob ole\n"
                                                         "  primary key (id)\n"
                                                         "  index by_born (born desc, id)\n"
                                                         "  unique index by_label (label)\n";
        auto r = run(quote(jetdb()) + " create" + options + " " + quote(file) + " " + quote((dir / "schema.txt").string()), true);
        ASSERT_EQ(r.status, 0) << r.output;
        {
            auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
            jet::Table& t = db->table("things");
            jet::WriteTransaction tx(*db);
            jet::Decimal amount;
            amount.low = 12345; // 123.45
            amount.scale = 2;
            amount.negative = true;
            for (int i = 0; i < 40; ++i) {
                std::u16string note = i % 3 == 0 ? std::u16string(size_t(10 + i * 300), char16_t(u'备' + i)) : u"短";
                t.insertRow({std::nullopt, jet::Value{i % 2 == 0}, jet::Value{int64_t(i)}, std::nullopt,
                             jet::Value{jet::Currency{int64_t(i) * 12345}}, jet::Value{i / 7.0}, std::nullopt,
                             jet::Value{u"标签" + std::u16string(1, char16_t(u'a' + i))}, jet::Value{amount},
                             jet::Value{note}, jet::Value{jet::Bytes(size_t(i * 50), uint8_t(i))}});
            }
            tx.commit();
            auto first = t.read(liveRows(t).front());
            ASSERT_TRUE(first);
            EXPECT_EQ(std::get<int64_t>((*first)[3]), 7); // the default
        }
        expectReadersAgree(file, "things");
        if (haveReaders()) {
            EXPECT_EQ(mdbCount(file, "things"), 40);
        }
    }
}

TEST(Write, DamagedFilesAndOtherWritersAreRefusedBeforeAnythingChanges)
{
    // A data page whose row offsets are damaged: the delete fails, the file stays as it was.
    std::string file = scratchCopy(testData("compIndexTestV2003.mdb"), "refuse-damaged");
    std::vector<jet::RowLocator> rows;
    {
        auto db = openAccessFile(file);
        rows = liveRows(db->table("Table1"));
    }
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(rows.back().page) * 4096 + 14 + 2 * rows.back().row);
        f.put(char(0xFF)).put(char(0x1F));
    }
    std::string before = fileBytes(file);
    {
        auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
        jet::WriteTransaction tx(*db);
        EXPECT_THROW(db->table("Table1").deleteRow(rows.back()), jet::JetError);
    }
    EXPECT_EQ(fileBytes(file), before);
    EXPECT_FALSE(fs::exists(jet::Pager::journalPath(file)));

    // While this process writes, another process of ours is refused.
    std::string busy = scratchCopy(testData("compIndexTestV2003.mdb"), "refuse-busy");
    auto db = openAccessFile(busy, jet::Pager::Access::ReadWrite);
    db->beginWrite();
    auto other = run(quote(jetdb()) + " sql " + quote(busy) + " \"delete from Table1 where CD_AGENTE = 19\"", true);
    EXPECT_NE(other.status, 0);
    EXPECT_NE(other.output.find("another program"), std::string::npos) << other.output;
    db->rollback();
    EXPECT_EQ(run(quote(jetdb()) + " sql " + quote(busy) + " \"delete from Table1 where CD_AGENTE = 19\"").status, 0);
}

// Damage that a write would build on: a file cut short by a page (another
// table's usage map names the page the write would take) and an index leaf
// whose keys are out of order (a lookup would find nothing and report
// success). Each statement fails naming the damage; the file stays as it was.
TEST(Write, WritesOnDamagedStructuresAreRefusedAndChangeNothing)
{
    std::string original = testData("testUnicodeCompV2003.mdb");
    std::string cut = scratchCopy(original, "cut-short");
    fs::resize_file(cut, fs::file_size(original) - 4096);
    std::string refusal;
    for (int i = 0; i < 200 && refusal.empty(); ++i) {
        std::string before = fileBytes(cut);
        testsupport::Run r = run(quote(jetdb()) + " sql " + quote(cut) + " " +
                                     quote("insert into [Table] (Unicode) values ('" + std::string(80, 'x') + "')"),
                                 true);
        if (r.status != 0) {
            refusal = r.output;
            EXPECT_EQ(fileBytes(cut), before);
        }
    }
    EXPECT_NE(refusal.find("table 'MSysAccessStorage': its usage map names page 71, past the end of the file"),
              std::string::npos)
        << refusal;
    EXPECT_NE(refusal.find("jetdb check"), std::string::npos) << refusal;

    // A primary-key leaf where the key 2 became 9.
    fs::path dir = scratchDir("out-of-order");
    std::string file = (dir / "keys.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table t\n  id long\n  v long\n  primary key (id)\n";
    }
    ASSERT_EQ(run(quote(jetdb()) + " create " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);
    for (int id = 1; id <= 5; ++id)
        ASSERT_EQ(run(quote(jetdb()) + " sql " + quote(file) + " " +
                      quote("insert into t (id, v) values (" + std::to_string(id) + ", 0)"))
                      .status,
                  0);
    {
        auto db = jet::Database::open(file);
        jet::Table& t = db->table("t");
        const jet::RealIndex& pk = t.def().realIndexes.at(0);
        jet::IndexNode leaf = jet::IndexNode::decode(db->pager().format(), db->pager().read(pk.rootPage)->data,
                                                     pk.rootPage, "");
        ASSERT_EQ(leaf.entries.size(), 5u);
        leaf.entries[1].key.back() = 0x09;
        std::vector<uint8_t> page(db->pager().pageSize());
        leaf.encode(db->pager().format(), page.data());
        const uint32_t root = pk.rootPage;
        db.reset();
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(root) * 4096);
        f.write(reinterpret_cast<const char*>(page.data()), std::streamsize(page.size()));
    }
    std::string before = fileBytes(file);
    testsupport::Run r = run(quote(jetdb()) + " sql " + quote(file) + " " + quote("delete from t where id = 2"), true);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("index 'PrimaryKey'"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("out of order"), std::string::npos) << r.output;
    EXPECT_EQ(fileBytes(file), before);
}

TEST(Write, ACommitWaitsForReadersAndReadersSeeWholeStates)
{
    fs::path dir = scratchDir("readers");
    std::string file = (dir / "r.mdb").string();
    ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(file) + " --entries 500 --pending 500").status, 0);
    auto reader = openAccessFile(file);
    auto pending = [&] {
        size_t n = 0;
        reader->table("all_key").scan([&](jet::RowLocator, std::vector<jet::Value>& row) {
            n += std::get<int64_t>(row[4]) == 1;
            return true;
        });
        return n;
    };
    EXPECT_EQ(pending(), 500u);
    // While this process is inside a read, another process's marking cannot land.
    reader->pager().beginRead();
    std::unique_ptr<ChildProcess> marking = start({jetdb(), "sql", file, "update all_key set is_del=2 where is_del=1"}, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_TRUE(marking->running()) << "the write did not wait for the reader";
    EXPECT_EQ(pending(), 500u);
    reader->pager().endRead();
    ASSERT_EQ(marking->wait(), 0) << marking->output();
    // The next read sees the whole new state.
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(check(file), "");
}

// Small changes edit the index in place and move its unique-entry count by
// the keys that appear or disappear, judged by an entry's neighbours (on the
// next or previous leaf at a leaf's ends). The count of an Access-made file
// may already be off: only its change is compared.
TEST(Write, UniqueEntryCountFollowsDistinctKeysOnEditsInPlace)
{
    std::string file = scratchCopy(testData("compIndexTestV2003.mdb"), "distinct");
    auto state = [&] {
        auto db = openAccessFile(file);
        jet::Table& t = db->table("Table1");
        const jet::RealIndex& index = t.def().realIndexes[0];
        jet::IndexTree tree(db->pager(), t.def(), index, t.location());
        return std::make_pair(int64_t(index.uniqueEntryCount), int64_t(distinctKeys(tree.entries())));
    };
    auto rowsWith = [](jet::Table& t, int64_t key) {
        std::vector<jet::RowLocator> out;
        t.scan([&](jet::RowLocator at, std::vector<jet::Value>& row) {
            if (row[0] == jet::Value{key}) out.push_back(at);
            return true;
        });
        return out;
    };
    auto insert = [](jet::Table& t, int64_t key) {
        t.insertRow({jet::Value{key}, jet::Value{std::u16string(u"n")}, jet::Value{}});
    };
    // The key of the last entry on the first leaf: a new row with it goes
    // first on the second leaf, its equal neighbour is on the leaf before.
    int64_t boundaryKey;
    {
        auto db = openAccessFile(file);
        jet::Table& t = db->table("Table1");
        jet::IndexTree tree(db->pager(), t.def(), t.def().realIndexes[0], t.location());
        ASSERT_EQ(tree.depth(), 2);
        std::vector<jet::IndexEntry> all = tree.entries();
        jet::IndexNode firstLeaf = jet::IndexNode::decode(db->pager().format(), db->pager().read(tree.pages()[1])->data, tree.pages()[1], "");
        ASSERT_TRUE(firstLeaf.leaf);
        const jet::IndexEntry& last = firstLeaf.entries.back();
        boundaryKey = std::get<int64_t>((*t.read({last.page, last.row}))[0]);
    }
    struct Step {
        const char* what;
        std::function<void(jet::Table&)> change;
        int delta;
    } steps[] = {
        {"a duplicate across a leaf boundary", [&](jet::Table& t) { insert(t, boundaryKey); }, 0},
        {"its first row deleted", [&](jet::Table& t) { t.deleteRow(rowsWith(t, boundaryKey).at(0)); }, 0},
        {"insert an existing key", [&](jet::Table& t) { insert(t, 19); }, 0},
        {"insert a new key", [&](jet::Table& t) { insert(t, 5); }, 1},
        {"delete the only row of a key", [&](jet::Table& t) { t.deleteRow(rowsWith(t, 5).at(0)); }, -1},
        {"delete one of two rows of a key", [&](jet::Table& t) { t.deleteRow(rowsWith(t, 19).at(0)); }, 0},
        {"delete the last row of a key", [&](jet::Table& t) { t.deleteRow(rowsWith(t, 19).at(0)); }, -1},
        {"change a key to a new one", [&](jet::Table& t) { t.updateRow(rowsWith(t, 27).at(0), {{0, jet::Value{int64_t(7)}}}); }, 0},
        {"change a key to an existing one", [&](jet::Table& t) { t.updateRow(rowsWith(t, 7).at(0), {{0, jet::Value{int64_t(35)}}}); }, -1},
        {"two rows of one new key", [&](jet::Table& t) {
             insert(t, 9);
             insert(t, 9);
         }, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        auto [countBefore, distinctBefore] = state();
        {
            auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
            jet::WriteTransaction tx(*db);
            step.change(db->table("Table1"));
            tx.commit();
        }
        auto [countAfter, distinctAfter] = state();
        EXPECT_EQ(distinctAfter - distinctBefore, step.delta);
        EXPECT_EQ(countAfter - countBefore, step.delta);
    }
    expectReadersAgree(file, "Table1");
}

// Access 97 files we create: rows longer than 256 bytes (one-byte offsets
// with the jump table, also where the data ends in a lower 256-byte block
// than the row), nulls between values, text keys in Access 97's sort order
// ascending and descending, long values; read back by every reader.
TEST(Write, Access97FilesWeCreateReadInEveryReader)
{
    fs::path dir = scratchDir("create-jet3");
    std::string file = (dir / "jet3.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table wide\n"
                  "  id long autoincrement\n"
                  "  a text(255)\n"
                  "  b text(255)\n"
                  "  c text(255)\n"
                  "  n double\n"
                  "  note memo\n"
                  "  primary key (id)\n"
                  "  unique index by_a (a)\n"
                  "  index by_b_desc (b desc)\n";
    }
    testsupport::Run made = run(quote(jetdb()) + " create --jet3 " + quote(file) + " " + quote((dir / "schema.txt").string()), true);
    ASSERT_EQ(made.status, 0) << made.output;
    {
        auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        EXPECT_EQ(&db->pager().format(), &jet::Format::jet3());
        jet::Table& t = db->table("wide");
        jet::WriteTransaction tx(*db);
        for (size_t length : {1, 10, 120, 200, 250, 255}) { // mdb-json leaves empty texts out
            for (int k = 0; k < 3; ++k) {
                std::u16string a = u"Ä" + jet::fromUtf8(std::to_string(length) + "-" + std::to_string(k));
                a += std::u16string(std::min<size_t>(length, 255 - a.size()), u'x');
                std::u16string b(length, char16_t(u'a' + k));
                std::optional<jet::Value> c = k == 1 ? std::optional<jet::Value>(jet::Value{}) : jet::Value{std::u16string(length, u'é')};
                t.insertRow({std::nullopt, jet::Value{a}, jet::Value{b}, c, jet::Value{double(length) / 3},
                             jet::Value{std::u16string(length * 7, u'm')}});
            }
        }
        tx.commit();
        std::vector<jet::RowLocator> rows = liveRows(t);
        jet::WriteTransaction tx2(*db);
        t.updateRow(rows[4], {{2, jet::Value{std::u16string(255, u'z')}}});
        t.deleteRow(rows[7]);
        tx2.commit();
    }
    expectReadersAgree(file, "wide");
    if (haveReaders()) {
        EXPECT_EQ(mdbCount(file, "wide"), 17);
    }
}
