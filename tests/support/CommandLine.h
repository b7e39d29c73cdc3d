#pragma once
// A program and its arguments as one line of text, quoted and split by the
// rules Windows programs use to read their command line (those of the C
// runtime and CommandLineToArgvW). The tests write command lines this way on
// every platform; no shell ever reads them, so they mean the same everywhere.
#include <string>
#include <vector>

namespace testsupport {

class CommandLine {
public:
    // One argument, in double quotes, with quotes and the backslashes before them escaped.
    static std::string quote(const std::string& argument);
    // Arguments joined by spaces; those that need it quoted.
    static std::string join(const std::vector<std::string>& arguments);
    static std::vector<std::string> split(const std::string& line);
};

} // namespace testsupport
