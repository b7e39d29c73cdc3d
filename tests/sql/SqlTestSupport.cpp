#include "SqlTestSupport.h"

#include "TestSupport.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace sqltest {

std::string dataFile(const std::string& name)
{
    // Access 2007 and later files lie beside the older ones.
    if (fs::path(name).extension() == ".accdb") return std::string(USBKEY_TESTDATA_DIR) + "/../accdb/" + name;
    return std::string(USBKEY_TESTDATA_DIR) + "/" + name;
}

// Output files of helpers, per running test: ctest runs tests in parallel.
static fs::path outputDir(const std::string& what)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
    return scratchDir(test + "-" + what);
}

fs::path scratchDir(const std::string& test)
{
    fs::path dir = fs::temp_directory_path() / "usbkey-sql-tests" / test;
    fs::create_directories(dir);
    return dir;
}

std::string scratchCopy(const std::string& name, const std::string& test)
{
    fs::path dir = scratchDir(test);
    fs::path to = dir / name;
    fs::remove(to);
    fs::remove(fs::path(to.string() + "-journal"));
    fs::copy_file(dataFile(name), to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return to.string();
}

std::string text(const jet::Value& v)
{
    struct Visitor {
        std::string operator()(std::monostate) const { return "null"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const
        {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%g", d);
            return buf;
        }
        std::string operator()(const jet::Currency& c) const { return jet::currencyToString(c); }
        std::string operator()(const jet::DateTime& d) const { return jet::formatIsoDateTime(d); }
        std::string operator()(const std::u16string& s) const { return jet::toUtf8(s); }
        std::string operator()(const jet::Bytes& b) const { return "<" + std::to_string(b.size()) + " bytes>"; }
        std::string operator()(const jet::Guid& g) const { return jet::guidToString(g); }
        std::string operator()(const jet::Decimal& d) const { return jet::decimalToString(d); }
    };
    return std::visit(Visitor{}, v);
}

std::vector<std::string> Result::names() const
{
    std::vector<std::string> out;
    for (const auto& c : cols) out.push_back(c.name);
    return out;
}

std::vector<std::string> Result::column(size_t index) const
{
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(text(r.at(index)));
    return out;
}

std::vector<std::string> Result::lines() const
{
    std::vector<std::string> out;
    for (const auto& r : rows) {
        std::string line;
        for (size_t i = 0; i < r.size(); ++i) line += (i ? "|" : "") + text(r[i]);
        out.push_back(line);
    }
    return out;
}

Result query(jet::Database& db, const std::string& statement, const sql::ParameterValues& parameters)
{
    Result r;
    sql::Session(db).query(statement, parameters, r);
    return r;
}

std::string runJetdb(const std::string& arguments, int* exitCode)
{
    testsupport::Run r = testsupport::run(testsupport::quote(JETDB_PATH) + " " + arguments, true);
    if (exitCode) *exitCode = r.status;
    return r.output;
}

bool haveMdbTools() { return testsupport::haveReaders(); }

std::vector<std::string> mdbJsonRows(const std::string& file, const std::string& table)
{
    std::string out = (outputDir("mdb-json") / "rows.json").string();
    std::vector<std::string> rows;
    std::istringstream in(testsupport::fileBytes(testsupport::mdbJson(file, table, out)));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) rows.push_back(line);
    return rows;
}

} // namespace sqltest
