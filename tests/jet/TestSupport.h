#pragma once
// Shared helpers of the engine tests: scratch copies of the Access-made
// files, and running the independent readers (mdbtools, mdb-reader).
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "jet/Database.h"

namespace testsupport {

std::string testData(const std::string& name);
// All Access-made .mdb files of the test data, sorted.
std::vector<std::string> allAccessFiles();
// Those of them in a format the engine reads (the others it refuses);
// files with a database password among them.
std::vector<std::string> accessFiles();
// The database password of a test file (copies keep its file name); empty
// for files without one.
std::string passwordOf(const std::string& file);
// Opens a test file, or a copy of one, with its password.
std::unique_ptr<jet::Database> openAccessFile(const std::string& file,
                                              jet::Pager::Access access = jet::Pager::Access::ReadOnly);
// A fresh scratch directory for one test.
std::filesystem::path scratchDir(const std::string& test);
// Copies a test file into the scratch directory.
std::string scratchCopy(const std::string& file, const std::string& test);

struct Run {
    int status = -1;
    std::string output;
};
// Runs a shell command, capturing stdout (and stderr when asked).
Run run(const std::string& command, bool withStderr = false);
std::string quote(const std::string& s);
std::string jetdb(); // path of the jetdb tool
// The quoted jetdb command line up to the command, with the file's password.
std::string jetdbFor(const std::string& file);

// Rows of a table as JSON lines, written to a file, by each reader.
std::string mdbJson(const std::string& file, const std::string& table, const std::string& out);
std::string jetdbJson(const std::string& file, const std::string& table, const std::string& out);
std::string mdbReaderJson(const std::string& file, const std::string& table, const std::string& out);
// Empty when the two JSON-lines files hold the same rows; else the difference.
std::string compareRows(const std::string& a, const std::string& b, bool unordered = false);
long long mdbCount(const std::string& file, const std::string& table);
// Output of `jetdb check` (empty when clean); jetdb is given the file's password.
std::string check(const std::string& file);

} // namespace testsupport
