#include "jet/Table.h"

#include "jet/JetError.h"

namespace jet {

RowLocator Table::insertRow(const std::vector<std::optional<Value>>&)
{
    throw JetError(where() + ": writing rows is not available yet");
}

void Table::updateRow(RowLocator, const std::vector<std::pair<size_t, Value>>&)
{
    throw JetError(where() + ": writing rows is not available yet");
}

void Table::deleteRow(RowLocator)
{
    throw JetError(where() + ": writing rows is not available yet");
}

} // namespace jet
