#include "ado/Provider.h"

#include "ado/EDatabaseError.h"

namespace {

[[noreturn]] void refuseTransactions()
{
    throw EDatabaseError(QStringLiteral("This database runs every statement as a transaction of its own; "
                                        "it has no transactions that span statements"));
}

} // namespace

void Provider::beginTransaction() { refuseTransactions(); }
void Provider::commitTransaction() { refuseTransactions(); }
void Provider::rollbackTransaction() { refuseTransactions(); }

bool Provider::readRows(const QString&, uint64_t, const std::vector<uint32_t>&, const RowVisitor&)
{
    throw EDatabaseError(QStringLiteral("This database gives its records whole; they cannot be read on demand"));
}

std::optional<std::vector<uint32_t>> Provider::rankTexts(const std::vector<std::u16string_view>&)
{
    return std::nullopt;
}
