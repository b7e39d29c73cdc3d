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
