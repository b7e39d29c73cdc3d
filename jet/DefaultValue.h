#pragma once
#include <string>

#include "jet/TableDef.h"
#include "jet/Value.h"

namespace jet {

// The value a column's DefaultValue expression gives a new row. Understands
// literal numbers, quoted texts ("x" or 'x'), True/False/Yes/No, Null,
// #date# literals, Now() and Date(); anything else is refused with a JetError
// naming the column, since guessing would store a wrong value.
Value evaluateDefault(const std::u16string& expression, const ColumnDef& column, const std::string& where);

// The current local time as a Date/Time value.
DateTime currentDateTime();

} // namespace jet
