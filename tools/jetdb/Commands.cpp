#include "Commands.h"

#include "jet/JetError.h"

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

std::unique_ptr<jet::Database> openDatabase(const std::string& path, jet::Pager::Access access)
{
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(path, access, password());
    } catch (const jet::PasswordError& e) {
        throw jet::PasswordError(std::string(e.what()) + " (give it as jetdb --password PASSWORD COMMAND ...)");
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
    out << "usage: jetdb [--password PASSWORD] COMMAND ARGS...\n"
           "  FILE: an Access database, 97 to 2003 (.mdb) or 2007 to 2019 (.accdb; one encrypted with a database\n"
           "  password is refused)\n"
           "  --password: the database password of a protected file\n\n";
    for (const Command& c : commandRegistry()) out << "  jetdb " << c.usage << "\n      " << c.summary << "\n";
}

} // namespace jetdb
