#include "SqlTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace sqltest {

std::string dataFile(const std::string& name) { return std::string(USBKEY_TESTDATA_DIR) + "/" + name; }

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

Result query(jet::Database& db, const std::string& statement)
{
    Result r;
    sql::Session(db).query(statement, r);
    return r;
}

static std::string quote(const std::string& s)
{
#ifdef _WIN32
    return "\"" + s + "\"";
#else
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

static std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string runJetdb(const std::string& arguments, int* exitCode)
{
    fs::path out = outputDir("jetdb") / "stdout.txt";
    int rc = std::system((quote(JETDB_PATH) + " " + arguments + " > " + quote(out.string()) + " 2>&1").c_str());
    if (exitCode) *exitCode = rc;
    return readFile(out);
}

bool haveMdbTools()
{
#ifdef _WIN32
    return false;
#else
    return std::system("command -v mdb-json > /dev/null 2>&1") == 0;
#endif
}

std::vector<std::string> mdbJsonRows(const std::string& file, const std::string& table)
{
    fs::path out = outputDir("mdb-json") / "rows.json";
    std::system(("mdb-json -T '%Y-%m-%d %H:%M:%S' " + quote(file) + " " + quote(table) + " > " + quote(out.string()))
                    .c_str());
    std::vector<std::string> rows;
    std::istringstream in(readFile(out));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) rows.push_back(line);
    return rows;
}

} // namespace sqltest
