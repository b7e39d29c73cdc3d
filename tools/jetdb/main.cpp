// jetdb: a command-line tool over the Jet 4 engine, for people and for tests.
#include "Commands.h"

#include "jet/JetError.h"

#include <cstring>
#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--password") {
        if (args.size() < 2) {
            std::cerr << "jetdb: --password needs the password (jetdb --password PASSWORD COMMAND ...)\n";
            return 2;
        }
        jetdb::setDatabasePassword(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        jetdb::printUsage(std::cout);
        return args.empty() ? 2 : 0;
    }
    const jetdb::Command* cmd = jetdb::findCommand(args[0]);
    if (!cmd) {
        std::cerr << "jetdb: unknown command '" << args[0] << "'\n";
        jetdb::printUsage(std::cerr);
        return 2;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        return cmd->run(rest);
    } catch (const jetdb::UsageError& e) {
        std::cerr << "jetdb " << cmd->name << ": " << e.what() << "\nusage: jetdb " << cmd->usage << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "jetdb " << cmd->name << ": " << e.what() << "\n";
        return 1;
    }
}
