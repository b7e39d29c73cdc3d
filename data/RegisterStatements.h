#pragma once

#include <QString>
#include <vector>

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
    // Marks as exported those of the entries with these ids (ascending, at
    // least one) that are still pending, and no other: a run of consecutive
    // ids as a range, other sets as a list.
    static QString markExported(const std::vector<qint64>& ids);
    // The ids of those of the entries with these ids (ascending, at least
    // one) that are still pending.
    static QString pendingAmong(const std::vector<qint64>& ids);

private:
    // "id >= A and id <= B" for a run of consecutive ids, "id in (...)" otherwise.
    static QString idCondition(const std::vector<qint64>& ids);
};
