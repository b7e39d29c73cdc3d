#pragma once

#include "ado/TParameter.h"
#include "sql/Parameters.h"

#include <QString>
#include <memory>
#include <vector>

// The parameters of a query's statement, as ADO's Parameters collection
// holds them: one for each ? mark and one for each :name (however often the
// statement uses it), in the order of their first mark. Values are set by
// name or by position before the query opens or runs:
//   query.setSQLText("select * from counted where username = :user and is_del = ?");
//   query.Parameters().ParamByName("user")->setAsString(name);
//   query.Parameters().Items(1)->setAsInteger(1);
class TParameters {
public:
    TParameters();
    ~TParameters();
    TParameters(const TParameters&) = delete;
    TParameters& operator=(const TParameters&) = delete;

    int Count() const { return int(m_items.size()); }
    TParameter* Items(int index) const;                  // throws EDatabaseError out of range
    TParameter* FindParam(const QString& name) const;    // letter case ignored; nullptr when absent
    TParameter* ParamByName(const QString& name) const;  // throws EDatabaseError when absent

    // Makes the list that of the statement's marks; parameters whose name
    // stays keep their values, ? parameters keep theirs by position. A
    // statement the SQL lexer cannot split has none here (running it
    // reports what is wrong with it).
    void ParseSQL(const QString& statement);

    // The values as the providers take them.
    sql::ParameterValues values() const;

private:
    std::vector<std::unique_ptr<TParameter>> m_items;
};
