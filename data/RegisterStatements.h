#pragma once

#include <QString>

// The statements the program issues on the key register (table all_key) and
// the department tables. The account lookup lives with the sign-in query
// (ado/LoginQuery.h) because it quotes what the operator typed.
class RegisterStatements {
public:
    // Every entry, newest first.
    static QString registerListing();
    // Departments with their province names (empty where the province is unknown).
    static QString departmentListing();
    // Entries recorded and not yet exported.
    static QString pendingEntries();
    // Marks as exported the entries that are still pending among ids
    // firstId..lastId. New entries always get higher ids than existing ones,
    // so this range never reaches an entry recorded after the listing it
    // comes from.
    static QString markExported(qint64 firstId, qint64 lastId);
};
