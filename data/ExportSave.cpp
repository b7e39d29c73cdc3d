#include "data/ExportSave.h"

#include "ado/EDatabaseError.h"
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/ExportFileError.h"
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
                                    const std::vector<qint64>& listed, const StepObserver& at)
{
    auto reached = [&at](Step step) {
        if (at) at(step);
    };
    Result result;
    const std::vector<qint64> held = RegisterExport::idsHeldBy(text, listed);
    if (held.empty()) return result;

    // On a server an export that claims some of the same entries between
    // this save's select and its update makes the update mark fewer rows
    // than it selected (the update waits for that export's commit); the
    // save then starts again and sees them marked. On an Access file the
    // transaction holds the file's writer lock, so nobody else writes between.
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        connection.BeginTrans();
        try {
            const std::vector<qint64> claimed = stillPending(connection, held);
            reached(Step::Claimed);
            std::vector<qint64> taken;
            std::set_difference(held.begin(), held.end(), claimed.begin(), claimed.end(), std::back_inserter(taken));
            if (claimed.empty()) {
                connection.RollbackTrans();
                result.takenElsewhere = std::move(taken);
                return result;
            }
            const QString fileText = taken.empty() ? text : RegisterExport::withoutRecords(text, taken);
            GbkTextFile::Staged file(path, fileText);
            reached(Step::FileSynced);
            if (markExported(connection, claimed) != int64_t(claimed.size())) {
                connection.RollbackTrans();
                continue;
            }
            reached(Step::Marked);
            try {
                connection.CommitTrans();
            } catch (const ECommitInDoubt& e) {
                file.keep();
                throw ECommitInDoubt(QStringLiteral("%1. The file with the entries is kept as \"%2\": if they are "
                                                    "marked exported now, rename it to \"%3\"; if they are still "
                                                    "pending, delete it and export again.")
                                         .arg(e.message(), file.temporaryPath(), file.path()));
            }
            reached(Step::Committed);
            // The entries are marked: their file must not be lost now.
            try {
                file.publish();
            } catch (const ExportFileError& e) {
                throw ExportFileError(QStringLiteral("The entries were marked exported, but the file could not take its "
                                                     "name \"%1\" (%2). The complete file is \"%3\"; rename it.")
                                          .arg(file.path(), QString::fromUtf8(e.what()), file.temporaryPath()));
            }
            reached(Step::Published);
            result.writtenText = fileText;
            result.marked = claimed;
            result.takenElsewhere = std::move(taken);
            result.fileWritten = true;
            return result;
        } catch (const EDatabaseError& e) {
            rollBack(connection);
            // Two saves that lock the same entries in another order: the
            // server ends one of them, which then starts again.
            if (e.kind() == EDatabaseError::Kind::Retry && attempt + 1 < kAttempts) continue;
            throw;
        } catch (...) {
            rollBack(connection);
            throw;
        }
    }
    throw EDatabaseError(QStringLiteral("Other operators kept exporting the same entries while this export was saved; "
                                        "nothing was marked. Save again."));
}
