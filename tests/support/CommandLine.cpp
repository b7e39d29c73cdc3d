#include "CommandLine.h"

namespace testsupport {

std::string CommandLine::quote(const std::string& argument)
{
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each becomes two.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\'); // before the closing quote
    return out + "\"";
}

std::string CommandLine::join(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& a : arguments) {
        if (!line.empty()) line += ' ';
        line += a.empty() || a.find_first_of(" \t\n\v\"") != std::string::npos ? quote(a) : a;
    }
    return line;
}

std::vector<std::string> CommandLine::split(const std::string& line)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) arguments.push_back(current);
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t end = line.find_first_not_of('\\', i);
            size_t n = (end == std::string::npos ? line.size() : end) - i;
            if (i + n < line.size() && line[i + n] == '"') {
                current.append(n / 2, '\\');
                if (n % 2) current += '"';
                else quoted = !quoted;
                i += n;
            } else {
                current.append(n, '\\');
                i += n - 1;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else {
            current += c;
        }
    }
    if (inArgument) arguments.push_back(current);
    return arguments;
}

} // namespace testsupport
