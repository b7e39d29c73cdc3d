#pragma once

#include <QString>
#include <functional>
#include <vector>

class TADOConnection;

// The export's save: one claim of the listed entries whose records the text
// holds, the same on an Access file and on a database server. In one
// transaction it reads which of them are still pending, writes the records
// of exactly those to a temporary file beside the target and syncs it, marks
// them exported and commits; only then does the file take its name. An
// export or a program that exported or deleted some of them meanwhile makes
// this save leave them out of the file; a failure before the commit leaves
// no file and nothing marked, so every entry ends in exactly one file and
// marked, or pending and in none.
class ExportSave {
public:
    struct Result {
        QString writtenText;                // what went into the file (empty when no file was written)
        std::vector<qint64> marked;         // ids marked by this save, ascending
        std::vector<qint64> takenElsewhere; // held by the text but exported or deleted by others meanwhile
        bool fileWritten = false;           // false when no entry was left to save: no file then
    };

    // The points a save passes, in order, for tests that stop it there.
    enum class Step { Claimed, FileSynced, Marked, Committed, Published };
    using StepObserver = std::function<void(Step)>;

    // listed: ids of the entries the build listed and no save has marked,
    // ascending. Throws ExportFileError when the file cannot be written
    // (nothing is then marked), or, after the commit, when it cannot take its
    // name (the message says where the complete file is), and EDatabaseError
    // for a database error (nothing marked, no file).
    static Result save(TADOConnection& connection, const QString& path, const QString& text,
                       const std::vector<qint64>& listed, const StepObserver& at = {});
};
