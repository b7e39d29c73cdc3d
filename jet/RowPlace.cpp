#include "jet/RowPlace.h"

namespace jet {

std::string RowPlace::str() const
{
    std::string s = table ? *table : std::string("row");
    if (page) s += ", page " + std::to_string(page);
    if (row >= 0) s += ", row " + std::to_string(row);
    return s;
}

} // namespace jet
