// jetdb queries: the saved queries of a file and their SQL text.
#include "Commands.h"
#include "SavedQuery.h"

#include "base/NameCase.h"
#include "jet/Database.h"

#include <iostream>

namespace jetdb {
namespace {

int queries(const std::vector<std::string>& a)
{
    if (a.empty()) throw UsageError("missing arguments");
    if (a.size() > 2) throw UsageError("too many arguments");
    auto db = openDatabase(a[0]);
    const std::vector<SavedQuery> saved = SavedQuery::readAll(*db);
    if (a.size() == 2) {
        for (const SavedQuery& q : saved)
            if (base::NameCase::foldUtf8(q.name) == base::NameCase::foldUtf8(a[1])) {
                std::cout << q.sql() << "\n";
                return 0;
            }
        throw std::runtime_error("'" + a[0] + "' has no query '" + a[1] + "'");
    }
    for (const SavedQuery& q : saved) std::cout << "-- " << q.name << " (" << q.typeName() << ")\n" << q.sql() << "\n\n";
    return 0;
}

CommandRegistration registration(
    {"queries", "queries FILE [NAME]",
     "the saved queries with their SQL text as Access's SQL view shows it (select, make table, append, update, "
     "delete, crosstab, union, data definition, pass-through; with their parameters), rebuilt from MSysQueries; "
     "each after a line '-- NAME (type)', or only the text of the query NAME",
     queries,
     "The text is rebuilt from the parts Access keeps of a query: its columns, tables and joins, conditions, "
     "groupings and orderings, as Access writes them back in its SQL view (joins nested as Access nests them, "
     "names with other characters than letters, digits and '_' in brackets). Data definition and pass-through "
     "queries print the text as it was written."});

} // namespace
} // namespace jetdb
