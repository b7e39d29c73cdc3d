#include "Commands.h"

#include "jet/JetError.h"
#include "jet/PlatformFile.h"

#include <cctype>
#include <cstdlib>
#include <iostream>

namespace jetdb {

std::vector<Command>& commandRegistry()
{
    static std::vector<Command> commands;
    return commands;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& c : commandRegistry())
        if (name == c.name) return &c;
    return nullptr;
}

namespace {
std::string& password()
{
    static std::string text;
    return text;
}
} // namespace

void setDatabasePassword(std::string text) { password() = std::move(text); }
const std::string& databasePassword() { return password(); }

std::string passwordArgument(const std::string& argument, const std::string& what, const std::string& prompt,
                             const std::string& instead)
{
    if (argument != "-") {
        if (!argument.empty())
            std::cerr << "jetdb: warning: " << what
                      << " was given on the command line, where every user of this machine can read it while jetdb "
                         "runs; "
                      << instead << "\n";
        return argument;
    }
    if (std::optional<std::string> typed = jet::PlatformFile::readLineWithoutEcho(prompt)) return *typed;
    std::string line;
    if (!std::getline(std::cin, line)) throw UsageError(what + " was to be read from standard input, which is empty");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::unique_ptr<jet::Database> openDatabase(const std::string& path, jet::Pager::Access access)
{
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(path, access, password());
    } catch (const jet::PasswordError& e) {
        throw jet::PasswordError(std::string(e.what()) + " (give it in JETDB_PASSWORD, or as jetdb --password - COMMAND ... to type it)");
    }
    for (const std::string& notice : db->pager().notices()) std::cerr << "note: " << notice << "\n";
    // The crash tests' hook: the n-th page write of a commit fails as if the
    // process died there, leaving the file and its journal as they are.
    if (const char* n = std::getenv("JETDB_TEST_CRASH_AFTER_PAGE_WRITES"))
        db->pager().setCrashAfterPageWrites(std::atoi(n));
    return db;
}

void printUsage(std::ostream& out)
{
    out << "usage: jetdb [--password PASSWORD|-] COMMAND ARGS...\n"
           "  FILE: an Access database, 97 to 2003 (.mdb) or 2007 to 2019 (.accdb; one encrypted with a database\n"
           "  password is refused)\n"
           "  --password: the database password of a protected file. \"-\" reads it from the terminal without\n"
           "      echo (or the first line of standard input). Without --password, the environment variable\n"
           "      JETDB_PASSWORD gives it. A password written on the command line can be read by every user of\n"
           "      this machine while jetdb runs (ps); jetdb warns when one is.\n"
           "  migrate's server password: leave Password= out of the connection string and libpq takes it from\n"
           "      the environment variable PGPASSWORD or from ~/.pgpass (%APPDATA%\\postgresql\\pgpass.conf on\n"
           "      Windows); Password=- reads it as --password - does.\n\n";
    for (const Command& c : commandRegistry()) out << "  jetdb " << c.usage << "\n      " << c.summary << "\n";
    out << "\njetdb help COMMAND says more of one command; man jetdb, of all.\n";
}

namespace {
// Paragraphs (apart by "\n") wrapped at 78 columns, indented; a line that
// starts with spaces is kept as it is (examples, lists).
void printWrapped(std::ostream& out, const std::string& text, const std::string& indent)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string paragraph = text.substr(start, end - start);
        start = end + 1;
        if (paragraph.empty() || paragraph[0] == ' ') {
            out << (paragraph.empty() ? "" : indent + paragraph) << "\n";
            continue;
        }
        std::string line;
        size_t at = 0;
        while (at < paragraph.size()) {
            size_t wordEnd = paragraph.find(' ', at);
            if (wordEnd == std::string::npos) wordEnd = paragraph.size();
            const std::string word = paragraph.substr(at, wordEnd - at);
            at = wordEnd + 1;
            if (!line.empty() && indent.size() + line.size() + 1 + word.size() > 78) {
                out << indent << line << "\n";
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        out << indent << line << "\n";
    }
}
} // namespace

void printHelp(std::ostream& out, const Command& command)
{
    out << "usage: jetdb [--password PASSWORD|-] " << command.usage << "\n\n";
    std::string summary = command.summary;
    if (!summary.empty()) summary[0] = char(std::toupper(static_cast<unsigned char>(summary[0])));
    printWrapped(out, summary + ".", "  ");
    if (command.details) {
        out << "\n";
        printWrapped(out, command.details, "  ");
    }
}

} // namespace jetdb
