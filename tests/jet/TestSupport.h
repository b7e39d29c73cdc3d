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

// A file of the test data: tests/data/access, or tests/data/accdb for an .accdb name.
std::string testData(const std::string& name);
// All Access-made files of the test data (.mdb and .accdb), sorted.
std::vector<std::string> allAccessFiles();
// Those of them in a format the engine reads (the others it refuses);
// files with a database password among them.
std::vector<std::string> accessFiles();
// What `jetdb check` rightly finds in an Access-made file as it is (see
// TestSupport.cpp), left out of `lines`: only such a file has any.
std::vector<std::string> withoutKnownProblems(const std::string& file, std::vector<std::string> lines);
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
// A scratch copy of an Access 2007+ file as Access leaves it once it has
// encrypted it with a database password: a database key in the header and,
// at 0x299, the version of Office's encryption (4.4 agile; 4.2 with flags
// 0x04 RC4 CryptoAPI). The pages are not encrypted: the program must refuse
// the file by its header alone.
std::string officeEncryptedCopy(const std::string& file, const std::string& test, uint16_t major, uint16_t minor,
                                uint32_t flags = 0);

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
// The `without` columns are left out of both; `emptyAsAbsent`: an empty
// text or binary value counts as none (mdb-json leaves them out).
std::string compareRows(const std::string& a, const std::string& b, bool unordered = false,
                        const std::vector<std::string>& without = {}, bool emptyAsAbsent = false);
// The columns of a table that a reader ("mdb-json", "mdb-reader") is known
// to read otherwise than the engine; ReadCompat checks each against other
// evidence. See TestSupport.cpp for the list and why.
std::vector<std::string> columnsReadersMisread(const std::string& file, const std::string& table,
                                               const std::string& reader);
// Whether a reader reads the table at all (mdb-reader refuses one with a
// column of a type it does not know).
bool readerReadsTable(const std::string& file, const std::string& table, const std::string& reader);
// Our rows of a table against a reader's, both through jetdb json and the
// reader, as sets, leaving out the columns the reader misreads ("" when the
// reader does not read the table).
std::string compareWithReader(const std::string& file, const std::string& table, const std::string& reader,
                              const std::string& scratchFolder);
long long mdbCount(const std::string& file, const std::string& table);
// Output of `jetdb check` (empty when clean, notes and the known problems
// of the file left out); jetdb is given the file's password.
std::string check(const std::string& file);

} // namespace testsupport
