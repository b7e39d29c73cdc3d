// jetdb: a command-line tool over the engine (Access 97, 2000-2003 and 2007+ files), for people and for tests.
#include "Commands.h"
#include "Utf8Console.h"

#include "jet/JetError.h"

#include <cstring>
#include <iostream>
#include <optional>

namespace {

int runCommand(const std::vector<std::string>& args, bool passwordGiven = false)
{
    if (!args.empty() && args[0] == "--password") {
        if (args.size() < 2) {
            std::cerr << "jetdb: --password needs the password (jetdb --password PASSWORD COMMAND ...)\n";
            return 2;
        }
        try {
            jetdb::setDatabasePassword(jetdb::passwordArgument(args[1], "the database password", "Database password: ",
                                                               "give it as JETDB_PASSWORD or --password - instead"));
        } catch (const std::exception& e) {
            std::cerr << "jetdb: " << e.what() << "\n";
            return 2;
        }
        return runCommand(std::vector<std::string>(args.begin() + 2, args.end()), true);
    }
    if (!passwordGiven)
        if (std::optional<std::string> fromEnvironment = jetdb::Utf8Console::environment("JETDB_PASSWORD"))
            jetdb::setDatabasePassword(*fromEnvironment);
    if (args.size() == 2 && (args[0] == "help" || args[1] == "--help" || args[1] == "-h")) {
        const std::string& name = args[0] == "help" ? args[1] : args[0];
        if (const jetdb::Command* cmd = jetdb::findCommand(name)) {
            jetdb::printHelp(std::cout, *cmd);
            return 0;
        }
        std::cerr << "jetdb: unknown command '" << name << "'\n";
        jetdb::printUsage(std::cerr);
        return 2;
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

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    jetdb::Utf8Console::prepareOutput();
    return runCommand(jetdb::Utf8Console::arguments(argc, argv));
}
