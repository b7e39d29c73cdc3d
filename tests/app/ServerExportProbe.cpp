// An export as the dialog runs it, against any connection string, in steps
// a test can line up with another process: list the pending entries, print
// "listed N", wait until the go file exists, then save to TARGET and print
// "marked N taken M".   usage: app_server_export_probe CONNECTION TARGET GOFILE
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/ExportSave.h"
#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) return 2;
    try {
        TADOConnection connection;
        connection.setLoginPrompt(false);
        connection.setKeepConnection(false);
        connection.setConnectionString(QString::fromLocal8Bit(argv[1]));
        TADOQuery pending;
        pending.setConnection(&connection);
        pending.setSQLText(RegisterStatements::pendingEntries());
        pending.Open();
        auto listing = RegisterExport::fromDataSet(pending);
        pending.Close();
        if (!listing) return 1;
        std::printf("listed %zu\n", listing->listed.size());
        std::fflush(stdout);
        const QString go = QString::fromLocal8Bit(argv[3]);
        for (QDeadlineTimer limit(60000); !QFile::exists(go); QThread::msleep(2))
            if (limit.hasExpired()) return 3;
        const ExportSave::Result saved =
            ExportSave::save(connection, QString::fromLocal8Bit(argv[2]), listing->text, listing->listed);
        std::printf("marked %zu taken %zu\n", saved.marked.size(), saved.takenElsewhere.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
