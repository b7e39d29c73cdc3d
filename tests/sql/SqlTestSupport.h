#pragma once
// Helpers of the SQL tests: scratch copies of the Access-made files, a sink
// that keeps a query's result, and values as short texts for assertions.
#include <filesystem>
#include <string>
#include <vector>

#include "jet/Database.h"
#include "sql/Session.h"

namespace sqltest {

std::string dataFile(const std::string& name);
// A scratch directory of a test (kept between runs, for inspection).
std::filesystem::path scratchDir(const std::string& test);
// A fresh copy of a test file in a scratch directory of its own.
std::string scratchCopy(const std::string& name, const std::string& test);

// "null", numbers in decimal, texts as UTF-8, dates "YYYY-MM-DD HH:MM:SS".
std::string text(const jet::Value& v);

struct Result : sql::RowSink {
    std::vector<sql::ResultColumn> cols;
    std::vector<std::vector<jet::Value>> rows;
    std::vector<jet::RowLocator> origins;

    void columns(const std::vector<sql::ResultColumn>& c) override { cols = c; }
    void row(const std::vector<jet::Value>& values, jet::RowLocator origin) override
    {
        rows.push_back(values);
        origins.push_back(origin);
    }
    std::vector<std::string> names() const;
    // One column of every row, as texts.
    std::vector<std::string> column(size_t index) const;
    // Every row as "v1|v2|...".
    std::vector<std::string> lines() const;
};

Result query(jet::Database& db, const std::string& statement, const sql::ParameterValues& parameters = {});

// Output of the jetdb tool (standard output and error); the arguments are
// quoted as testsupport::run reads them.
std::string runJetdb(const std::string& arguments, int* exitCode = nullptr);
// Rows of a table as mdb-json prints them; empty when mdbtools is missing.
std::vector<std::string> mdbJsonRows(const std::string& file, const std::string& table);
// Whether the independent readers are there to compare with (testsupport::haveReaders).
bool haveMdbTools();

} // namespace sqltest
