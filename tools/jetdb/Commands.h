#pragma once
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/Database.h"

namespace jetdb {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    std::function<int(const std::vector<std::string>&)> run;
    // What `jetdb help COMMAND` adds to the summary: options, formats, examples.
    const char* details = nullptr;
};

const Command* findCommand(const std::string& name);
void printUsage(std::ostream& out);
// `jetdb help COMMAND`: the usage line, the summary and the details, wrapped.
void printHelp(std::ostream& out, const Command& command);

// The database password given before the command (`jetdb --password PASSWORD
// COMMAND ...`), or else JETDB_PASSWORD's; empty when neither was. Never printed.
void setDatabasePassword(std::string password);
const std::string& databasePassword();

// A password a command line gives: "-" reads it (from the terminal without
// echo, after `prompt`; or the first line of standard input when that is
// not a terminal); anything else is taken as it is, after a warning on
// standard error that every user of the machine can read a command line,
// which `instead` follows with the safe ways. `what` names the password.
std::string passwordArgument(const std::string& argument, const std::string& what, const std::string& prompt,
                             const std::string& instead);
// Every command opens its database files here, with that password.
std::unique_ptr<jet::Database> openDatabase(const std::string& path,
                                           jet::Pager::Access access = jet::Pager::Access::ReadOnly);

// Registered by the command sources.
std::vector<Command>& commandRegistry();
struct CommandRegistration {
    explicit CommandRegistration(Command c) { commandRegistry().push_back(std::move(c)); }
};

} // namespace jetdb
