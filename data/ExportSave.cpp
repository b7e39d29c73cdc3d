#include "data/ExportSave.h"

#include "ado/EDatabaseError.h"
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/GbkTextFile.h"
#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"

#include <algorithm>
#include <iterator>

namespace {

std::vector<qint64> stillPending(TADOConnection& connection, const std::vector<qint64>& ids)
{
    TADOQuery query;
    query.setConnection(&connection);
    RegisterStatements::pendingAmong(query, ids);
    query.Open();
    std::vector<qint64> pending;
    const TField* id = query.FieldByName(QStringLiteral("id"));
    for (int row = 0; row < query.RecordCount(); ++row) {
        const jet::Value value = id->ValueAt(row);
        if (const auto* number = std::get_if<int64_t>(&value)) pending.push_back(*number);
    }
    query.Close();
    std::sort(pending.begin(), pending.end());
    return pending;
}

int64_t markExported(TADOConnection& connection, const std::vector<qint64>& ids)
{
    TADOQuery query;
    query.setConnection(&connection);
    RegisterStatements::markExported(query, ids);
    return query.ExecSQL();
}

void rollBack(TADOConnection& connection)
{
    if (!connection.InTransaction()) return;
    try {
        connection.RollbackTrans();
    } catch (...) {
        // The session is gone, and its transaction with it.
    }
}

} // namespace

ExportSave::Result ExportSave::save(TADOConnection& connection, const QString& path, const QString& text,
                                    const std::vector<qint64>& listed)
{
    Result result;
    const std::vector<qint64> held = RegisterExport::idsHeldBy(text, listed);
    if (held.empty() || !connection.SupportsTransactions()) {
        GbkTextFile::write(path, text);
        result.writtenText = text;
        if (!held.empty()) markExported(connection, held);
        result.marked = held;
        return result;
    }

    // An export that claims some of the same entries between this save's
    // select and its update makes the update mark fewer rows than it
    // selected (the update waits for that export's commit); the save then
    // starts again and sees them marked.
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        connection.BeginTrans();
        try {
            const std::vector<qint64> claimed = stillPending(connection, held);
            if (!claimed.empty() &&
                markExported(connection, claimed) != int64_t(claimed.size())) {
                connection.RollbackTrans();
                continue;
            }
            std::vector<qint64> taken;
            std::set_difference(held.begin(), held.end(), claimed.begin(), claimed.end(), std::back_inserter(taken));
            const QString fileText = taken.empty() ? text : RegisterExport::withoutRecords(text, taken);
            GbkTextFile::write(path, fileText);
            connection.CommitTrans();
            result.writtenText = fileText;
            result.marked = claimed;
            result.takenElsewhere = std::move(taken);
            return result;
        } catch (const EDatabaseError& e) {
            rollBack(connection);
            // Two saves that lock the same entries in another order: the
            // server ends one of them, which then starts again.
            if (e.message().contains(QLatin1String("deadlock detected")) && attempt + 1 < kAttempts) continue;
            throw;
        } catch (...) {
            rollBack(connection);
            throw;
        }
    }
    throw EDatabaseError(QStringLiteral("Other operators kept exporting the same entries while this export was saved; "
                                        "nothing was marked. Save again."));
}
