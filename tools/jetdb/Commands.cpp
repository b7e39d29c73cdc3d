#include "Commands.h"

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

void printUsage(std::ostream& out)
{
    out << "usage: jetdb COMMAND ARGS...\n\n";
    for (const Command& c : commandRegistry()) out << "  jetdb " << c.usage << "\n      " << c.summary << "\n";
}

} // namespace jetdb
