#pragma once
#include <string>
#include <vector>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jetdb {

// One row as a JSON object, shaped as mdb-json prints it: keys in column
// order, null columns left out, dates as "YYYY-MM-DD HH:MM:SS", booleans 0/1,
// binary and OLE values as {"$binary": base64, "$type": "00"}.
std::string rowToJson(const std::vector<std::string>& names, const std::vector<jet::Value>& values);
std::string jsonString(const std::string& utf8);

} // namespace jetdb
