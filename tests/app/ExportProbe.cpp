// The export's save as the export dialog runs it, as a process a test can
// kill: list the pending entries, write the GBK file, then mark the listed
// entries exported.   usage: app_export_probe DATABASE TARGET
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/GbkTextFile.h"
#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) return 2;
    try {
        TADOConnection connection;
        connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                       QString::fromLocal8Bit(argv[1]) + QStringLiteral(";Persist Security Info=False"));
        TADOQuery pending;
        pending.setConnection(&connection);
        pending.setSQLText(RegisterStatements::pendingEntries());
        pending.Open();
        auto listing = RegisterExport::fromDataSet(pending);
        pending.Close();
        if (!listing || listing->listed.empty()) return 0;
        GbkTextFile::write(QString::fromLocal8Bit(argv[2]), listing->text);
        TADOQuery mark;
        mark.setConnection(&connection);
        RegisterStatements::markExported(mark, listing->listed);
        mark.ExecSQL();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
