#pragma once

#include <QString>
#include <vector>

class TADOConnection;

// The export's save: writes the text to its file and marks as exported the
// listed entries whose records the text holds.
//
// On a database server, where several operators may export at the same
// moment, the entries are claimed in one transaction that stays open while
// the file is written: the still-pending ones among them are selected and
// marked, the file is written with only those records, and the marking
// commits once the file is on the disk. An export saving meanwhile waits for
// that commit and then finds those entries marked, so no entry goes into two
// files and none is marked without being in one; entries that another export
// took are left out of the file and reported.
//
// On an Access file (one statement, one transaction) the file is written
// first and the entries it holds are marked after.
class ExportSave {
public:
    struct Result {
        QString writtenText;               // what went into the file
        std::vector<qint64> marked;        // ids marked by this save, ascending
        std::vector<qint64> takenElsewhere; // held by the text but exported by someone else meanwhile
    };

    // listed: ids of the entries the build listed and no save has marked,
    // ascending. Throws ExportFileError when the file cannot be written
    // (nothing is then marked) and EDatabaseError for a database error.
    static Result save(TADOConnection& connection, const QString& path, const QString& text,
                       const std::vector<qint64>& listed);
};
