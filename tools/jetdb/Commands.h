#pragma once
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

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

// Registered by the command sources.
std::vector<Command>& commandRegistry();
struct CommandRegistration {
    explicit CommandRegistration(Command c) { commandRegistry().push_back(std::move(c)); }
};

} // namespace jetdb
