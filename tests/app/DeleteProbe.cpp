// The main window's delete as a process a test can kill: the register listing
// opened as the main window opens it, then each given entry made current and
// deleted as Ctrl+Delete on the grid does (one write of the engine each).
// After each delete the probe prints "deleted ID" and flushes, so the test
// knows which deletes had returned before the kill.
//   usage: app_delete_probe PROGRAM_FOLDER ID...   (the database is PROGRAM_FOLDER/db/vask.mdb)
#include "ado/TADOQuery.h"
#include "ado/TField.h"
#include "app/UnitDM.h"
#include "data/RegisterStatements.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    try {
        TDM dm(QString::fromLocal8Bit(argv[1]));
        if (!dm.DataModuleCreate()) {
            std::fprintf(stderr, "%s\n", qPrintable(dm.ConnectionError()));
            return 1;
        }
        // As TFrmMain sets up ADOQuery1.
        TADOQuery listing;
        listing.setConnection(dm.ADOConn);
        listing.setCursorType(ctStatic);
        listing.setSQLText(RegisterStatements::registerListing());
        listing.Open();
        const TField* id = listing.FieldByName(QStringLiteral("id"));
        for (int i = 2; i < argc; ++i) {
            const QString wanted = QString::fromLatin1(argv[i]);
            int row = 0;
            while (row < listing.RecordCount() && id->AsStringAt(row) != wanted) ++row;
            if (row == listing.RecordCount()) {
                std::fprintf(stderr, "no entry %s\n", argv[i]);
                return 1;
            }
            listing.setRecNo(row + 1);
            // What TDBGrid::deleteCurrentRecord checks before it deletes.
            if (!listing.Active() || listing.IsEmpty() || !listing.CanModify()) return 1;
            listing.Delete();
            std::printf("deleted %s\n", argv[i]);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
