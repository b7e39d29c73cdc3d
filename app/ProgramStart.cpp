#include "app/ProgramStart.h"

#include "app/UMain.h"
#include "app/UnitDM.h"
#include "qtcommon/ProgramLog.h"
#include "qtcommon/MessageBoxes.h"

#include <QApplication>

int ProgramStart::run(const QString& programFolder)
{
    ProgramLog::open();
    TDM dm(programFolder);
    DM = &dm;
    if (!dm.DataModuleCreate()) {
        // Under it why, in the words of the engine or the server (a file
        // locked by another program, a server that refused the user): the
        // operator can act on it, or tell whoever can.
        MessageBoxes::show(nullptr, {QMessageBox::Information, connectionFailedCaption(),
                                     TDM::connectionFailedMessage(), dm.ConnectionError(), QMessageBox::Ok});
        return 1;
    }
    TFrmMain mainWindow(&dm);
    if (!mainWindow.SignedIn()) return 0; // no question, no layout saved
    mainWindow.show();
    return QApplication::exec();
}
