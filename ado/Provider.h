#pragma once

#include "ado/TFieldDef.h"
#include "jet/RowView.h"
#include "jet/Value.h"
#include "sql/Parameters.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// What a TADOConnection reaches its database through: the Jet engine for an
// Access file, or a database server. The connection makes one when it opens
// and drops it when it closes.
class Provider {
public:
    // Where a select's rows go (the dataset being opened): the column
    // definitions once, then the rows, each with a tag that names its row in
    // the database for updateRow and deleteRow.
    class RowTarget {
    public:
        virtual ~RowTarget() = default;
        virtual void setFieldDefs(const std::vector<TFieldDef>& defs) = 0;
        virtual void reserveRecords(int count) = 0;
        virtual void appendRecord(const std::vector<jet::Value>& values, uint64_t tag) = 0;
        virtual void appendRecord(const jet::RowView& row, uint64_t tag) = 0;
        // Positions in arrival order when the rows arrived in another order.
        virtual void setFetchOrder(const std::vector<uint32_t>& positions) = 0;
        // The table whose rows the records stand for (the statement's from
        // table) and whether it is the only one; before the rows.
        virtual void setSource(const QString& table, bool only) = 0;
        // Instead of rows: their tags in order, each row read later through
        // readRows when the dataset first needs it.
        virtual void setLazyRecords(std::vector<uint32_t> tags) = 0;
        // An empty vector to fill with those tags (memory the dataset kept).
        virtual std::vector<uint32_t> tagBuffer() = 0;
    };

    virtual ~Provider() = default;

    // Connects (opens the file, signs in to the server). userName and
    // password are what the connection string or the login hook gave.
    // Throws EDatabaseError with a message that never quotes a password.
    virtual void connect(const QString& userName, const QString& password) = 0;

    // Runs a select into the target, telling it the statement's from table
    // (the table whose rows the records stand for) first. Records the
    // provider cannot tie to a row of that table get tags that updateRow
    // and deleteRow refuse. `parameters` are the values of the statement's
    // ? and :name marks (see sql::ParameterValue); they reach the database
    // as values, never as statement text.
    virtual void query(const QString& statement, const sql::ParameterValues& parameters, RowTarget& target) = 0;
    // For records given as tags (RowTarget::setLazyRecords): reads the rows
    // of `tags` from `table`, visit(i, row) for tags[i]; false, visiting
    // nothing, when the database changed since changeCount() was `since`.
    using RowVisitor = std::function<void(std::size_t, const jet::RowView&)>;
    virtual bool readRows(const QString& table, uint64_t since, const std::vector<uint32_t>& tags, const RowVisitor& visit);
    // Changes to the database seen so far (see readRows); 0 where records
    // are never given as tags.
    virtual uint64_t changeCount() const { return 0; }
    // Whether another program has changed the database since it was last
    // read or written here, as far as a cheap look tells (the file's state);
    // false where nothing cheap tells.
    virtual bool changedElsewhere() const { return false; }
    // Makes sure the session still stands (a server is asked, one round
    // trip); throws EDatabaseError when it does not. A file needs no asking.
    virtual void checkConnection() {}
    // Runs an update, delete or insert; returns the rows affected.
    virtual int64_t execute(const QString& statement, const sql::ParameterValues& parameters) = 0;
    virtual void updateRow(const QString& table, uint64_t tag,
                           const std::vector<std::pair<QString, jet::Value>>& columns) = 0;
    virtual void deleteRow(const QString& table, uint64_t tag) = 0;

    // Transactions spanning several statements, where the database has them.
    virtual bool supportsTransactions() const { return false; }
    virtual void beginTransaction();
    virtual void commitTransaction();
    virtual void rollbackTransaction();

    // The order in which the database's own `order by` puts texts, for the
    // sorts a dataset makes itself (a title click): each text's rank, texts
    // the database counts equal sharing one. Nothing means the Jet engine's
    // order, which the dataset applies itself; a server answers in its
    // collation.
    virtual std::optional<std::vector<uint32_t>> rankTexts(const std::vector<std::u16string_view>& texts);

    // Whether an error left the connection itself unusable, so that it must
    // be opened afresh (a damaged file, a server that went away), rather than
    // one statement refused.
    virtual bool isConnectionFault(const std::exception& error) const = 0;
};
