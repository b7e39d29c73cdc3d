// jetdb sql: runs one statement of the SQL subset.
#include "Commands.h"
#include "JsonOutput.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <iostream>

namespace jetdb {
namespace {

// Prints each result row as `jetdb json` prints table rows.
class JsonLinesSink : public sql::RowSink {
public:
    void columns(const std::vector<sql::ResultColumn>& columns) override
    {
        names_.clear();
        for (const sql::ResultColumn& c : columns) names_.push_back(c.name);
    }
    void row(const std::vector<jet::Value>& values, jet::RowLocator) override
    {
        line_ = rowToJson(names_, values);
        line_ += '\n';
        std::cout.write(line_.data(), std::streamsize(line_.size()));
    }

private:
    std::vector<std::string> names_;
    std::string line_;
};

int sqlCommand(const std::vector<std::string>& a)
{
    if (a.size() < 2) throw UsageError("missing arguments");
    if (a.size() > 2) throw UsageError("too many arguments (quote the statement)");
    const std::string& statement = a[1];
    if (sql::Session::isQuery(statement)) {
        auto db = openDatabase(a[0]);
        sql::Session session(*db);
        JsonLinesSink sink;
        session.query(statement, sink);
    } else {
        auto db = openDatabase(a[0], jet::Pager::Access::ReadWrite);
        sql::Session session(*db);
        std::cout << session.execute(statement) << "\n";
    }
    return 0;
}

CommandRegistration registration({"sql", "sql FILE \"STATEMENT\"",
                                  "run a select (rows as JSON lines, as json prints them) or an update, delete or "
                                  "insert (prints the number of rows changed)",
                                  sqlCommand});

} // namespace
} // namespace jetdb
