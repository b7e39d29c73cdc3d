#pragma once

#include "jet/Database.h"
#include "jet/SchemaWriter.h"

#include <functional>
#include <vector>

// The register database: the key register (all_key), the operator accounts
// (counted), the departments and the provinces, as the key-issuing program
// creates them.
class RegisterSchema {
public:
    // The tables of a new register in this format. Access 97 has no decimal
    // columns: its register keeps those numbers as Double.
    static std::vector<jet::TableSpec> tables(const jet::Format& format);

    // Sample rows in a register whose tables were just created, inside the
    // caller's write transaction: three accounts (admin/admin and
    // operator/usbkey active, olduser retired), four provinces, four
    // departments, and `entries` keys two years apart at most, the newest
    // `pending` of them not yet exported. `progress` is told every 100,000
    // entries.
    static void addSampleRows(jet::Database& db, long long entries, long long pending,
                              const std::function<void(long long done)>& progress = {});
};
