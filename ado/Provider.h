#pragma once

#include "ado/TFieldDef.h"
#include "jet/RowView.h"
#include "jet/Value.h"

#include <QString>
#include <cstdint>
#include <exception>
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
    };

    virtual ~Provider() = default;

    // Connects (opens the file, signs in to the server). userName and
    // password are what the connection string or the login hook gave.
    // Throws EDatabaseError with a message that never quotes a password.
    virtual void connect(const QString& userName, const QString& password) = 0;

    // Runs a select: fromTable is the table named after its `from` (the
    // table whose rows the records stand for, empty when unknown), and
    // onlyTable tells whether it is the only one (no join). Records the
    // provider cannot tie to a row of that table get tags that updateRow
    // and deleteRow refuse.
    virtual void query(const QString& statement, const QString& fromTable, bool onlyTable, RowTarget& target) = 0;
    // Runs an update, delete or insert; returns the rows affected.
    virtual int64_t execute(const QString& statement) = 0;
    virtual void updateRow(const QString& table, uint64_t tag,
                           const std::vector<std::pair<QString, jet::Value>>& columns) = 0;
    virtual void deleteRow(const QString& table, uint64_t tag) = 0;

    // Transactions spanning several statements, where the database has them.
    virtual bool supportsTransactions() const { return false; }
    virtual void beginTransaction();
    virtual void commitTransaction();
    virtual void rollbackTransaction();

    // Whether an error left the connection itself unusable, so that it must
    // be opened afresh (a damaged file, a server that went away), rather than
    // one statement refused.
    virtual bool isConnectionFault(const std::exception& error) const = 0;
};
