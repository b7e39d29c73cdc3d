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
};

const Command* findCommand(const std::string& name);
void printUsage(std::ostream& out);

// The database password given before the command (`jetdb --password PASSWORD
// COMMAND ...`); empty when none was. Never printed.
void setDatabasePassword(std::string password);
const std::string& databasePassword();
// Every command opens its database files here, with that password.
std::unique_ptr<jet::Database> openDatabase(const std::string& path,
                                           jet::Pager::Access access = jet::Pager::Access::ReadOnly);

// Registered by the command sources.
std::vector<Command>& commandRegistry();
struct CommandRegistration {
    explicit CommandRegistration(Command c) { commandRegistry().push_back(std::move(c)); }
};

} // namespace jetdb
