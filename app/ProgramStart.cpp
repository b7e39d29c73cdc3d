#include "app/ProgramStart.h"

#include "app/UMain.h"
#include "app/UnitDM.h"
#include "qtcommon/ProgramLog.h"

#include <QApplication>
#include <QMessageBox>

int ProgramStart::run(const QString& programFolder)
{
    ProgramLog::open();
    TDM dm(programFolder);
    DM = &dm;
    if (!dm.DataModuleCreate()) {
        QMessageBox box(QMessageBox::Information, connectionFailedCaption(), TDM::connectionFailedMessage(),
                        QMessageBox::Ok);
        // Why, in the words of the engine or the server (a file locked by
        // another program, a server that refused the user): the operator can
        // act on it, or tell whoever can.
        box.setInformativeText(dm.ConnectionError());
        box.exec();
        return 1;
    }
    TFrmMain mainWindow(&dm);
    if (!mainWindow.SignedIn()) return 0; // no question, no layout saved
    mainWindow.show();
    return QApplication::exec();
}
