// `jetdb export` against mdb-export, byte for byte, and `jetdb import`:
// all rows or none, read back by mdbtools and mdb-reader.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Tables whose CSV differs from mdb-export's because mdbtools reads a value
// wrongly (the engine's reading of each is checked in ReadCompat), by file
// and table.
const std::map<std::string, std::string> kMdbtoolsMisreads = {
    {"calcFieldTestV2010.accdb/Table1", "calculated columns: mdbtools prints the wrapped bytes Access stores, not the "
                                        "value inside"},
    {"testEmoticonsV2010.accdb/data", "characters beyond the Basic Multilingual Plane: mdbtools prints each half of a "
                                      "surrogate pair as '?'"},
    {"unsupportedFieldsTestV2007.accdb/Test", "columns of types nobody knows (0x46, 0x47): mdbtools prints them "
                                              "empty, jetdb their stored bytes"},
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string jetdbRun(const std::string& file, const std::string& arguments, bool withStderr = false)
{
    return run(jetdbFor(file) + " " + arguments, withStderr).output;
}

} // namespace

TEST(JetdbExport, EveryTableOfTheCorpusAsMdbExportWritesIt)
{
    if (!haveReaders()) GTEST_SKIP() << "mdbtools is not here to compare with";
    for (const std::string& file : accessFiles()) {
        for (const std::string& table : lines(jetdbRun(file, "tables " + quote(file)))) {
            const std::string key = fs::path(file).filename().string() + "/" + table;
            if (kMdbtoolsMisreads.count(key)) continue;
            SCOPED_TRACE(key);
            testsupport::Run theirs = run({"mdb-export", file, table});
            ASSERT_EQ(theirs.status, 0);
            testsupport::Run ours = run(jetdbFor(file) + " export " + quote(file) + " " + quote(table));
            ASSERT_EQ(ours.status, 0);
            EXPECT_TRUE(ours.output == theirs.output) << "ours:\n" << ours.output.substr(0, 2000) << "\nmdb-export:\n"
                                                      << theirs.output.substr(0, 2000);
        }
    }
}

namespace {

// A table of every type CSV carries, filled by jetdb import.
std::string typesFixture(const fs::path& dir, const std::string& format)
{
    writeFile((dir / "schema.txt").string(), "table t\n"
                                             "  id long autoincrement\n"
                                             "  name text(40)\n"
                                             "  note memo\n"
                                             "  amount currency\n"
                                             "  ratio double\n"
                                             "  small single\n"
                                             "  born datetime\n"
                                             "  flag boolean\n"
                                             "  tiny byte\n"
                                             "  count integer\n"
                                             "  bin binary(20)\n"
                                             "  g guid\n"
                                             "  primary key (id)\n");
    const std::string file = (dir / ("types" + format + ".mdb")).string();
    testsupport::Run made = run(quote(jetdb()) + " create " + format + " " + quote(file) + " " + quote((dir / "schema.txt").string()));
    EXPECT_EQ(made.status, 0) << made.output;
    return file;
}

// Rows in the form jetdb export and mdb-export write them, so that they
// come back out unchanged; the ids are the autonumbers they get.
const char* const kTypesCsv =
    "id,name,note,amount,ratio,small,born,flag,tiny,count,bin,g\n"
    "1,\"plain\",\"two\nlines, \"\"quoted\"\"\",12.3400,0.1,0.1,\"01/02/24 08:30:00\",1,255,-32768,\"raw\","
    "\"{6F9619FF-8B86-D011-B42D00C04FC964FF}\"\n"
    "2,\"Océ 北京\",,-0.0001,-1.5e+300,3.4028235e+38,\"12/31/99 23:59:59\",0,0,32767,,\n"
    "3,,,,,,,0,,,,\n";

} // namespace

// Every type through import and back out: the CSV mdb-export writes of the
// imported rows is the one imported, and jetdb export's equals it, with
// mdb-export's options as with its defaults (its -T is jetdb's -D).
TEST(JetdbExport, TypesAndOptionsAsMdbExportWritesThem)
{
    fs::path dir = scratchDir("csv-types");
    for (const std::string format : {"", "--jet3"}) {
        SCOPED_TRACE(format);
        const std::string file = typesFixture(dir, format);
        // Access 97 keeps texts in a code page, here 1252.
        std::string csv = kTypesCsv;
        if (format == "--jet3") csv.replace(csv.find(" 北京"), std::string(" 北京").size(), "");
        writeFile((dir / "rows.csv").string(), csv);
        testsupport::Run imported = run(quote(jetdb()) + " import " + quote(file) + " t " + quote((dir / "rows.csv").string()), true);
        ASSERT_EQ(imported.status, 0) << imported.output;
        EXPECT_EQ(imported.output, "imported 3 rows into t\n");
        EXPECT_EQ(run(quote(jetdb()) + " export " + quote(file) + " t").output, csv);
        EXPECT_EQ(check(file), "");
        if (!haveReaders()) continue;
        EXPECT_EQ(run({"mdb-export", file, "t"}).output, csv);
        const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> options = {
            {{"-d", ";"}, {"-d", ";"}},
            {{"-d", "\\t", "-H"}, {"-d", "\\t", "-H"}},
            {{"-q", "'"}, {"-q", "'"}},
            {{"-Q"}, {"-Q"}},
            {{"-D", "%Y-%m-%d %H:%M:%S (%a %j)"}, {"-T", "%Y-%m-%d %H:%M:%S (%a %j)"}},
        };
        for (const auto& [ours, theirs] : options) {
            std::vector<std::string> jetdbCommand{jetdb(), "export"}, mdbCommand{"mdb-export"};
            jetdbCommand.insert(jetdbCommand.end(), ours.begin(), ours.end());
            mdbCommand.insert(mdbCommand.end(), theirs.begin(), theirs.end());
            for (auto* command : {&jetdbCommand, &mdbCommand}) command->insert(command->end(), {file, "t"});
            EXPECT_EQ(run(jetdbCommand).output, run(mdbCommand).output) << ours[0];
        }
        EXPECT_EQ(run({jetdb(), "export", "--json", file, "t"}).output, run({jetdb(), "json", file, "t"}).output);
    }
}

// Rows added to Access-made tables and to registers of every format, read
// back by mdbtools and mdb-reader: the file checks clean.
TEST(JetdbImport, RowsReadBackByTheOtherReaders)
{
    fs::path dir = scratchDir("csv-import");
    // A corpus table exported and imported again, with new keys (its
    // primary key is the text in column A), holds every row twice.
    const std::string copy = scratchCopy(testData("testV2003.mdb"), "csv-import");
    const std::vector<std::string> exported = lines(run(jetdbFor(copy) + " export " + quote(copy) + " Table1").output);
    std::vector<std::string> expected(exported.begin() + 1, exported.end());
    std::string csv = exported[0] + "\n";
    for (std::string row : expected) csv += row.insert(1, "new-") + "\n";
    const std::vector<std::string> added = lines(csv);
    expected.insert(expected.end(), added.begin() + 1, added.end());
    writeFile((dir / "table1.csv").string(), csv);
    testsupport::Run imported =
        run(jetdbFor(copy) + " import " + quote(copy) + " Table1 " + quote((dir / "table1.csv").string()), true);
    ASSERT_EQ(imported.status, 0) << imported.output;
    std::vector<std::string> twice = lines(run(jetdbFor(copy) + " export " + quote(copy) + " Table1").output);
    twice.erase(twice.begin());
    std::sort(expected.begin(), expected.end());
    std::sort(twice.begin(), twice.end());
    EXPECT_EQ(twice, expected);
    EXPECT_EQ(check(copy), "");
    if (haveReaders()) {
        EXPECT_EQ(compareWithReader(copy, "Table1", "mdb-json", dir.string()), "");
        EXPECT_EQ(compareWithReader(copy, "Table1", "mdb-reader", dir.string()), "");
    }

    const std::string keys = "USBKEY_SERIAL,username,add_date,is_del\n"
                             "\"NEW-1\",\"张伟\",\"2025-03-04 05:06:07\",2\n"
                             "NEW-2,\"a, \"\"b\"\"\",03/04/25 05:06:07,1\n"
                             "NEW-3,,2025-03-04,\n";
    writeFile((dir / "keys.csv").string(), keys);
    writeFile((dir / "dept.csv").string(), "ID,DEPT_ID,KEY_SERIAL,KEY_LIMITDATE,REALNAME\n"
                                           "5,105,C01,2030-01-01,李四\n");
    for (const std::string format : {"", "--jet3", "--accdb"}) {
        SCOPED_TRACE(format);
        const std::string file = (dir / (format == "--accdb" ? "register.accdb" : "register" + format + ".mdb")).string();
        ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(file) + " --entries 5 " + format).status, 0);
        testsupport::Run r = run(quote(jetdb()) + " import " + quote(file) + " all_key " + quote((dir / "keys.csv").string()), true);
        ASSERT_EQ(r.status, 0) << r.output;
        r = run(quote(jetdb()) + " import " + quote(file) + " SME_KEY_DEPT " + quote((dir / "dept.csv").string()), true);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(check(file), "");
        std::vector<std::string> rows = lines(run(quote(jetdb()) + " export " + quote(file) + " all_key").output);
        ASSERT_EQ(rows.size(), 9u);
        EXPECT_EQ(rows[6], "6,\"NEW-1\",\"张伟\",\"03/04/25 05:06:07\",2");
        EXPECT_EQ(rows[7], "7,\"NEW-2\",\"a, \"\"b\"\"\",\"03/04/25 05:06:07\",1");
        EXPECT_EQ(rows[8], "8,\"NEW-3\",,\"03/04/25 00:00:00\",");
        if (!haveReaders()) continue;
        for (const char* table : {"all_key", "SME_KEY_DEPT"}) {
            EXPECT_EQ(compareWithReader(file, table, "mdb-json", dir.string()), "") << table;
            // mdb-reader reads an Access 97 file's texts as code page 1252.
            if (format != "--jet3") {
                EXPECT_EQ(compareWithReader(file, table, "mdb-reader", dir.string()), "") << table;
            }
            EXPECT_EQ(run({"mdb-export", file, table}).output, run({jetdb(), "export", file, table}).output) << table;
        }
    }
}

// A refused value stops the whole import: the error names the CSV line and
// column, and the file is the same to the byte, with no journal left.
TEST(JetdbImport, ABadValueLeavesTheFileAsItWas)
{
    fs::path dir = scratchDir("csv-refused");
    const std::string file = (dir / "register.mdb").string();
    ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(file) + " --entries 5").status, 0);
    const std::string before = fileBytes(file);
    const std::string good = "USBKEY_SERIAL,username,add_date,is_del\nA,admin,2025-01-01,1\nB,admin,2025-01-02,2\n";
    struct Case {
        std::string csv;
        std::vector<std::string> said;
    } cases[] = {
        {good + "C,admin,2025-01-03,two\n", {"line 4, column 'is_del'", "'two' is not a whole number"}},
        {good + "C,admin,2025-02-30,1\n", {"line 4, column 'add_date'", "'2025-02-30' is not a date"}},
        {good + "C,admin,2025-01-03,70000\n", {"line 4", "70000 is out of range for column 'is_del'"}},
        {good + "\"C\nD\",admin,2025-01-03,1\nE,\"" + std::string(51, 'x') + "\",2025-01-03,1\n",
         {"line 6", "column 'username'"}},
        {good + "C,admin\n", {"line 4", "2 fields where the header has 4"}},
        {good + "C,\"admin,2025-01-03,1\n", {"line 4", "quoted field is not closed"}},
        {"USBKEY_SERIAL,nosuch\nA,b\n", {"line 1", "no column 'nosuch'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.csv);
        writeFile((dir / "rows.csv").string(), c.csv);
        testsupport::Run r = run(quote(jetdb()) + " import " + quote(file) + " all_key " + quote((dir / "rows.csv").string()), true);
        EXPECT_NE(r.status, 0);
        for (const std::string& said : c.said) EXPECT_NE(r.output.find(said), std::string::npos) << r.output;
        EXPECT_TRUE(fileBytes(file) == before);
        EXPECT_FALSE(fs::exists(file + "-journal"));
    }
    EXPECT_EQ(run(quote(jetdb()) + " count " + quote(file) + " all_key").output, "5\n");
}

// jetdb help COMMAND, and the manual page: every command is in it, and
// groff renders it without a warning.
TEST(JetdbHelp, EveryCommandHasHelpAndIsInTheManualPage)
{
    std::vector<std::string> commands;
    for (const std::string& line : lines(run(quote(jetdb()) + " --help").output))
        if (line.rfind("  jetdb ", 0) == 0) commands.push_back(line.substr(8, line.find(' ', 8) - 8));
    ASSERT_GE(commands.size(), 15u);
    const std::string manual = fileBytes(JETDB_MANUAL_PAGE);
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        testsupport::Run help = run({jetdb(), "help", command});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.output.rfind("usage: jetdb [--password PASSWORD|-] " + command, 0), 0u) << help.output;
        EXPECT_TRUE(manual.find("\n.BI \"" + command + " ") != std::string::npos ||
                    manual.find("\n.BI " + command + "\n") != std::string::npos)
            << "not in the manual page";
    }
    testsupport::Run unknown = run({jetdb(), "help", "nosuch"}, true);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("unknown command 'nosuch'"), std::string::npos);
    EXPECT_NE(run({jetdb(), "help", "import"}).output.find("Example:"), std::string::npos);

    testsupport::Run groff = run({"groff", "-z", "-man", "-ww", "-Tutf8", JETDB_MANUAL_PAGE}, true);
    if (groff.status == 127) GTEST_SKIP() << "groff is not here to render the manual page";
    EXPECT_EQ(groff.status, 0);
    EXPECT_EQ(groff.output, "");
}
