#pragma once

#include <QString>
#include <vector>

class TADOQuery;

// The statements the program issues on the key register (table all_key),
// the operator accounts (table counted) and the department tables. Values
// from the operator or from the register go into a statement as its
// parameters, never as its text: the functions that take values set the
// query's statement and its Parameters.
class RegisterStatements {
public:
    // Every entry, newest first.
    static QString registerListing();
    // Departments with their province names (empty where the province is unknown).
    static QString departmentListing();
    // Entries recorded and not yet exported.
    static QString pendingEntries();
    // The active account of this user name and password (as typed, trimmed
    // by the caller), text compared as the database compares text.
    static void accountLookup(TADOQuery& query, const QString& userName, const QString& password);
    // Marks as exported those of the entries with these ids (ascending, at
    // least one) that are still pending, and no other: a run of consecutive
    // ids as a range, other sets as a list.
    static void markExported(TADOQuery& query, const std::vector<qint64>& ids);
    // The ids of those of the entries with these ids (ascending, at least
    // one) that are still pending.
    static void pendingAmong(TADOQuery& query, const std::vector<qint64>& ids);

private:
    // `head` followed by "id >= ? and id <= ?" for a run of consecutive ids,
    // "id in (?, ...)" otherwise, set on the query with the ids as values.
    static void withIdCondition(TADOQuery& query, const QString& head, const std::vector<qint64>& ids);
};
