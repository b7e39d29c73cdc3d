#pragma once
#include <optional>
#include <string>
#include <vector>

namespace jetdb {

// Arguments, file names and output as UTF-8 on every platform. Windows hands
// a program its arguments as UTF-16 (the narrow argv is in the ANSI code
// page, which loses every character outside it), and its console shows bytes
// in the console's code page: both are brought to UTF-8 here.
class Utf8Console {
public:
#ifdef _WIN32
    static std::vector<std::string> arguments(int argc, wchar_t** argv);
#else
    static std::vector<std::string> arguments(int argc, char** argv);
#endif
    // Standard output and error pass bytes through unchanged (no "\r\n"
    // translation on Windows) and the console shows them as UTF-8.
    static void prepareOutput();
    // An environment variable as UTF-8; nullopt when it is not set.
    static std::optional<std::string> environment(const char* name);
};

} // namespace jetdb
