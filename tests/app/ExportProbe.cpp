// The export as the export dialog runs it, as a process a test can run beside
// others or kill: build the export of the pending entries, then save it to
// TARGET, printing "marked N taken M file yes|no".
//   usage: app_export_probe DATABASE|CONNECTION TARGET [STEP|pause:STEP|wait:MS]
// DATABASE is an .mdb path; a CONNECTION string (holding "Provider=") may name
// a server. With STEP (claimed, synced, marked, committed, published) the
// save prints "at STEP" when it gets there and waits to be killed; with
// pause:STEP it prints the same and goes on when a line comes on standard
// input (the test has stopped and started the server meanwhile); with
// wait:MS it waits that long between the build and the save, as an operator
// looking at the text does. An error is printed on standard error.
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/ExportSave.h"
#include "data/RegisterExport.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 4) return 2;
    const QString source = QString::fromLocal8Bit(argv[1]);
    QString stopAt = argc == 4 ? QString::fromLatin1(argv[3]) : QString();
    const bool pause = stopAt.startsWith(QLatin1String("pause:"));
    if (pause) stopAt = stopAt.mid(6);
    try {
        TADOConnection connection;
        connection.setLoginPrompt(false);
        connection.setKeepConnection(false);
        connection.setConnectionString(source.contains(QStringLiteral("Provider="), Qt::CaseInsensitive)
                                           ? source
                                           : QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + source +
                                                 QStringLiteral(";Persist Security Info=False"));
        TADOQuery pending;
        pending.setConnection(&connection);
        auto listing = RegisterExport::build(pending);
        if (!listing) return 1;
        if (stopAt.startsWith(QLatin1String("wait:"))) QThread::msleep(stopAt.mid(5).toULong());
        const ExportSave::Result saved = ExportSave::save(
            connection, QString::fromLocal8Bit(argv[2]), listing->text, listing->listed, [&](ExportSave::Step step) {
                static const char* const names[] = {"claimed", "synced", "marked", "committed", "published"};
                if (stopAt != QLatin1String(names[int(step)])) return;
                std::printf("at %s\n", names[int(step)]);
                std::fflush(stdout);
                if (pause) {
                    char line[16];
                    if (std::fgets(line, sizeof line, stdin)) return;
                }
                for (;;) QThread::sleep(1);
            });
        std::printf("marked %zu taken %zu file %s\n", saved.marked.size(), saved.takenElsewhere.size(),
                    saved.fileWritten ? "yes" : "no");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
