#pragma once

#include <set>
#include <string>

namespace postgres {

// Names of objects made on the server. The server folds unquoted names to
// lower case (ASCII letters only) and keeps at most 63 bytes of a name,
// cutting longer ones, so that two names alike in their first 63 bytes
// would become one. A scope hands out names as the server will keep them:
// lower case, and a name longer than that, or one the scope has given
// already, is cut at a character boundary and ends in '_' and eight hex
// digits of a hash of the whole name.
class NameScope {
public:
    static constexpr std::size_t kLongest = 63; // bytes; the server's NAMEDATALEN - 1

    // The server's name for `name`, unique in this scope.
    std::string take(const std::string& name);
    bool has(const std::string& serverName) const { return taken_.count(serverName) != 0; }

    // ASCII letters in lower case, as the server folds unquoted names.
    static std::string lowerAscii(std::string name);

private:
    std::set<std::string> taken_;
};

} // namespace postgres
