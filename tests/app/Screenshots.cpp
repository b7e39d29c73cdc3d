// Pictures of the program's windows for docs/, taken on the offscreen
// platform over a demo register: app_screenshots DATABASE_FOLDER OUTPUT_FOLDER
// (DATABASE_FOLDER holds db/vask.mdb). Run by scripts/screenshots.
#include "ado/TADOQuery.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"

#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QtTest>

#include <cstdio>

namespace {

bool save(QWidget* window, const QString& path)
{
    QTest::qWait(200); // let the window lay out and paint
    const bool saved = window->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: app_screenshots DATABASE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const QString dataFolder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    TDM dm(dataFolder);
    DM = &dm;
    if (!dm.DataModuleCreate()) {
        std::fprintf(stderr, "%s\n", qPrintable(dm.ConnectionError()));
        return 1;
    }
    bool ok = true;

    TFrmLogin login(dm.ADOConn);
    login.show();
    login.edt2->setText(QStringLiteral("admin"));
    ok &= save(&login, out + QStringLiteral("/sign-in.png"));
    login.hide();

    TFrmMain mainWindow(&dm, [](TDM*) { return true; });
    mainWindow.DBGridEx1->setLayoutFolder(dataFolder);
    mainWindow.DBGridEx2->setLayoutFolder(dataFolder);
    mainWindow.show();
    mainWindow.ADOQuery1->setRecNo(3);
    ok &= save(&mainWindow, out + QStringLiteral("/main-window.png"));

    TFrmImport exportDialog(dm.ADOConn, &mainWindow);
    exportDialog.show();
    exportDialog.Button1Click();
    ok &= save(&exportDialog, out + QStringLiteral("/export.png"));
    return ok ? 0 : 1;
}
