// The program over an encoded and/or password-protected db/vask.mdb, the
// password coming from db/connection.udl (and over an .accdb register the
// data link names with the ACE provider): sign-in through the real dialog,
// the listing, a delete, the export and its marking; afterwards the file is
// still encoded and protected, and mdbtools reads what the program left.
#include "AppTestSupport.h"

#include "ado/TADOQuery.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"
#include "jet/Format.h"
#include "jet/HeaderPage.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

class ProtectedDatabaseTest : public QObject {
    Q_OBJECT

    static QList<int> listedIds(TFrmMain& main)
    {
        QList<int> ids;
        TField* id = main.ADOQuery1->FieldByName(QStringLiteral("id"));
        for (int row = 0; row < main.ADOQuery1->RecordCount(); ++row) ids << id->AsStringAt(row).toInt();
        return ids;
    }

    static uint32_t databaseKey(const QString& file)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) return 0;
        const QByteArray start = f.read(jet::HeaderPage::kKeyAreaSize);
        if (start.size() < qsizetype(jet::HeaderPage::kKeyAreaSize)) return 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(start.constData());
        const uint32_t version = bytes[jet::HeaderPage::kVersionOffset];
        const jet::Format* format = jet::Format::forVersion(version);
        return format ? jet::HeaderPage::storedDatabaseKey(*format, bytes) : 0;
    }

private slots:
    void initTestCase() { TApplication::setUpLocalisation(*qApp); }

    void signInListDeleteExportAndMark_data()
    {
        QTest::addColumn<QString>("password");     // the file's
        QTest::addColumn<bool>("encoded");
        QTest::addColumn<bool>("accdb");           // an Access 2010 register, opened by the ACE provider
        QTest::addColumn<QString>("linkPassword"); // what the data link gives
        QTest::newRow("encoded") << QString() << true << false << QString();
        QTest::newRow("password") << QStringLiteral("Vask;97 密码") << false << false << QStringLiteral("Vask;97 密码");
        QTest::newRow("encoded with a password") << QStringLiteral("k3y") << true << false << QStringLiteral("k3y");
        // A file without a password ignores one given, as Jet does.
        QTest::newRow(".accdb, a password it does not need") << QString() << false << true << QStringLiteral("k3y");
    }
    void signInListDeleteExportAndMark()
    {
        QFETCH(QString, password);
        QFETCH(bool, encoded);
        QFETCH(bool, accdb);
        QFETCH(QString, linkPassword);
        RegisterFolder folder;
        QString error;
        QVERIFY2(folder.makeRegister(12, 3, &error, password, encoded, accdb ? QStringList{QStringLiteral("--accdb")} : QStringList{}),
                 qPrintable(error));
        const QString provider = accdb ? QStringLiteral("Microsoft.ACE.OLEDB.12.0") : QStringLiteral("Microsoft.Jet.OLEDB.4.0");
        if (!linkPassword.isEmpty())
            folder.writeDataLink(QStringLiteral("Provider=") + provider + QStringLiteral(";Data Source=") +
                                 QFileInfo(folder.database()).fileName() + QStringLiteral(";Jet OLEDB:Database Password=\"") +
                                 linkPassword + QStringLiteral("\";Persist Security Info=False"));

        TDM dm(folder.path());
        QVERIFY2(dm.DataModuleCreate(), qPrintable(dm.ConnectionError()));

        // The real sign-in dialog, answered as an operator would.
        auto signIn = std::make_unique<ModalScript>();
        signIn->onDialog<TFrmLogin>([](TFrmLogin* login) {
            login->edt1->setText(QStringLiteral("operator"));
            login->edt2->setText(QStringLiteral("usbkey"));
            QTest::mouseClick(login->btnOK, Qt::LeftButton);
        });
        TFrmMain main(&dm);
        QVERIFY2(signIn->finish(), qPrintable(signIn->problems().join(u'\n')));
        signIn.reset(); // it would close the windows the next steps expect
        QVERIFY(main.SignedIn());
        main.DBGridEx1->setLayoutFolder(folder.path());
        main.DBGridEx2->setLayoutFolder(folder.path());
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QCOMPARE(main.StatusPanelText(1), QStringLiteral("12"));
        QCOMPARE(listedIds(main).first(), 12);

        // Delete the newest entry (one of the pending ones).
        main.DBGridEx1->setFocus();
        {
            ModalScript confirm;
            confirm.answerBox(QMessageBox::Ok);
            QTest::keyClick(main.DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
            QVERIFY2(confirm.finish(), qPrintable(confirm.problems().join(u'\n')));
        }
        QCOMPARE(main.StatusPanelText(1), QStringLiteral("11"));

        // Export the pending entries and mark them.
        const QString target = folder.filePath(QStringLiteral("keys.xml"));
        QString built;
        ModalScript exporting;
        exporting.onDialog<TFrmImport>([&](TFrmImport* dialog) {
            dialog->SaveDialog1->setChooser([&](QWidget*, const QString&) { return target; });
            QTest::mouseClick(dialog->Button1, Qt::LeftButton);
            built = dialog->Memo1->toPlainText();
            QTest::mouseClick(dialog->Button2, Qt::LeftButton); // its box is answered below
            dialog->close();
        });
        exporting.answerBox(QMessageBox::Ok);
        main.find_entp->trigger();
        QVERIFY2(exporting.finish(), qPrintable(exporting.problems().join(u'\n')));
        QVERIFY(built.contains(QStringLiteral("<data_id>11</data_id>")));
        QVERIFY(built.contains(QStringLiteral("<data_id>10</data_id>")));
        QVERIFY(!built.contains(QStringLiteral("<data_id>12</data_id>")));
        QVERIFY(QFile::exists(target));
        main.hide();
        dm.ADOConn->Close();

        // What the program left, read again from the file: still encoded and
        // protected as it was, the entry gone, every other one exported.
        QCOMPARE(databaseKey(folder.database()) != 0, encoded);
        if (!password.isEmpty()) QVERIFY(RegisterFolder::rows(folder.database(), QStringLiteral("all_key")).isEmpty());
        const QMap<int, int> states = RegisterFolder::exportStates(folder.database(), password);
        QCOMPARE(states.size(), 11);
        QVERIFY(!states.contains(12));
        for (int state : states) QCOMPARE(state, 2);
        const QString mdbJson = QStandardPaths::findExecutable(QStringLiteral("mdb-json"));
        if (mdbJson.isEmpty()) QSKIP("mdbtools is not installed");
        QProcess reader;
        reader.start(mdbJson, {folder.database(), QStringLiteral("all_key")});
        QVERIFY(reader.waitForFinished(60000));
        const QByteArray rows = reader.readAllStandardOutput();
        QCOMPARE(rows.count('\n'), 11);
        QCOMPARE(rows.count("\"is_del\":2"), 11);
    }
};

QTEST_MAIN(ProtectedDatabaseTest)
#include "ProtectedDatabaseTest.moc"
