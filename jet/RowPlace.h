#pragma once
#include <cstdint>
#include <string>

namespace jet {

// Names a row in error messages; the text is only built when needed.
struct RowPlace {
    const std::string* table = nullptr; // "'file', table 'name'"
    uint32_t page = 0;
    int row = -1;
    std::string str() const;
};

} // namespace jet
