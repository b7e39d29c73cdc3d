#pragma once
// Shared helpers of the engine and SQL tests: scratch copies of the
// Access-made files, running programs, and the independent readers
// (mdbtools, mdb-reader).
#include "ChildProcess.h"

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
    int status = -1; // exit code; -1 when killed, 127 when the program could not be started
    std::string output;
};
// Runs a program and waits for it, capturing its standard output (and
// standard error when asked). The command is the program and its arguments
// separated by spaces, each quoted with quote() where it may hold spaces or
// quotes; no shell reads it (no pipes or redirections), so it runs the same
// on Linux and Windows.
Run run(const std::string& command, bool withStderr = false);
Run run(const std::vector<std::string>& command, bool withStderr = false);
// Starts a program in the background (see ChildProcess).
std::unique_ptr<ChildProcess> start(const std::vector<std::string>& command, bool withStderr = false);
std::string quote(const std::string& s);
std::string jetdb(); // path of the jetdb tool
std::string fileBytes(const std::string& file);
void writeFile(const std::string& file, const std::string& bytes);
// The quoted jetdb command line up to the command, with the file's password.
std::string jetdbFor(const std::string& file);

// The independent readers: mdbtools (mdb-json, mdb-count, mdb-export) and
// node with the npm package mdb-reader. Linux CI installs them; a Windows
// build of the tests compares with them only where they are on PATH.
bool haveReaders();
// Rows of a table as JSON lines, written to a file, by each reader.
std::string mdbJson(const std::string& file, const std::string& table, const std::string& out);
std::string jetdbJson(const std::string& file, const std::string& table, const std::string& out);
std::string mdbReaderJson(const std::string& file, const std::string& table, const std::string& out);
// Empty when the two JSON-lines files hold the same rows; else the difference.
// Through node; without it (a Windows build), the rows must be equal exactly.
std::string compareRows(const std::string& a, const std::string& b, bool unordered = false);
long long mdbCount(const std::string& file, const std::string& table);
// Output of `jetdb check` (empty when clean); jetdb is given the file's password.
std::string check(const std::string& file);

} // namespace testsupport
