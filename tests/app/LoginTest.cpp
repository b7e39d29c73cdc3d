// The sign-in dialog against the demo accounts: admin/admin and
// operator/usbkey active, olduser disabled.
#include "AppTestSupport.h"

#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

class LoginTest : public QObject {
    Q_OBJECT

    RegisterFolder m_folder;
    std::unique_ptr<TDM> m_dm;
    // The same accounts in an Access 2010 (.accdb) register, for the rows that name it.
    RegisterFolder m_accdbFolder;
    std::unique_ptr<TDM> m_accdbDm;
    std::unique_ptr<TFrmLogin> m_login;

    void showLogin(TDM* dm = nullptr)
    {
        m_login = std::make_unique<TFrmLogin>((dm ? dm : m_dm.get())->ADOConn);
        m_login->show();
        QVERIFY(QTest::qWaitForWindowActive(m_login.get()));
    }

    // Types into the focused field as an operator would.
    static void type(QWidget* field, const QString& text)
    {
        for (QChar c : text) QTest::keyClick(field, c.toLatin1());
    }

private slots:
    void initTestCase()
    {
        TApplication::setUpLocalisation(*qApp);
        QString error;
        QVERIFY2(m_folder.makeRegister(3, 1, &error), qPrintable(error));
        m_dm = std::make_unique<TDM>(m_folder.path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
        QVERIFY2(m_accdbFolder.makeRegister(3, 1, &error, QString(), false, {QStringLiteral("--accdb")}), qPrintable(error));
        m_accdbDm = std::make_unique<TDM>(m_accdbFolder.path());
        QVERIFY2(m_accdbDm->DataModuleCreate(), qPrintable(m_accdbDm->ConnectionError()));
    }

    void cleanup() { m_login.reset(); }

    // Qt's own buttons and dialogs speak Chinese. The catalog is loaded by
    // the name a Windows install has too (windeployqt ships qt_zh_CN.qm only).
    void qtsOwnTextsAreChinese()
    {
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("是(&Y)"));
    }

    void opensWithPresetUserAndFocusOnPassword()
    {
        showLogin();
        QCOMPARE(m_login->windowTitle(), QStringLiteral("登录"));
        QCOMPARE(m_login->edt1->text(), QStringLiteral("admin"));
        QCOMPARE(m_login->edt2->echoMode(), QLineEdit::Password);
        QCOMPARE(QApplication::focusWidget(), m_login->edt2);
    }

    void signIn_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("accdb"); // the Access 2010 (.accdb) register
        QTest::newRow("admin") << "admin" << "admin" << true << false;
        QTest::newRow("operator") << "operator" << "usbkey" << true << false;
        QTest::newRow("surrounding blanks") << " \tadmin  " << "  admin\t" << true << false;
        QTest::newRow("letter case ignored") << "ADMIN" << "Admin" << true << false;
        QTest::newRow("disabled account") << "olduser" << "olduser" << false << false;
        QTest::newRow("wrong password") << "admin" << "admin1" << false << false;
        QTest::newRow("unknown user") << "nobody" << "admin" << false << false;
        QTest::newRow("apostrophe in user") << "admin'" << "admin" << false << false;
        QTest::newRow("apostrophe in password") << "admin" << "x' or '1'='1" << false << false;
        QTest::newRow("quote trick in user") << "x' or username='admin" << "admin" << false << false;
        QTest::newRow("operator, .accdb register") << "operator" << "usbkey" << true << true;
        QTest::newRow("letter case ignored, .accdb register") << "OPERATOR" << "UsbKey" << true << true;
        QTest::newRow("disabled account, .accdb register") << "olduser" << "olduser" << false << true;
        QTest::newRow("wrong password, .accdb register") << "admin" << "admin1" << false << true;
    }
    void signIn()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        QFETCH(bool, accdb);
        showLogin(accdb ? m_accdbDm.get() : nullptr);
        m_login->edt1->setText(user);
        m_login->edt2->setText(password);

        ModalScript script;
        if (!accepted) script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(m_login->btnOK, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));

        if (accepted) {
            QCOMPARE(m_login->result(), int(QDialog::Accepted));
            QVERIFY(script.boxes().isEmpty());
            return;
        }
        // One message, no database error; the dialog stays with the fields as typed.
        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].text, QStringLiteral("此用户不存在或密码错误！"));
        QCOMPARE(script.boxes()[0].caption, QStringLiteral("系统提示"));
        QCOMPARE(script.boxes()[0].icon, QMessageBox::Critical);
        QVERIFY(m_login->isVisible());
        QCOMPARE(m_login->edt1->text(), user);
        QCOMPARE(m_login->edt2->text(), password);

        // Another attempt is allowed.
        m_login->edt1->setText(QStringLiteral("admin"));
        m_login->edt2->setText(QStringLiteral("admin"));
        QTest::mouseClick(m_login->btnOK, Qt::LeftButton);
        QCOMPARE(m_login->result(), int(QDialog::Accepted));
    }

    // Tab order: password, sign-in, cancel, user name; Enter moves like Tab
    // in the fields and presses a focused button.
    void focusWalk()
    {
        showLogin();
        QCOMPARE(QApplication::focusWidget(), m_login->edt2);
        QTest::keyClick(m_login->edt2, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_login->btnOK);
        QTest::keyClick(m_login->btnOK, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_login->btn3);
        QTest::keyClick(m_login->btn3, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_login->edt1);
        QTest::keyClick(m_login->edt1, Qt::Key_Return); // last in tab order: back to the password
        QCOMPARE(QApplication::focusWidget(), m_login->edt2);
        QCOMPARE(m_login->edt1->text(), QStringLiteral("admin"));

        // Password, Enter, Enter signs in.
        type(m_login->edt2, QStringLiteral("admin"));
        QTest::keyClick(m_login->edt2, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), m_login->btnOK);
        QVERIFY(m_login->isVisible());
        QTest::keyClick(m_login->btnOK, Qt::Key_Return);
        QCOMPARE(m_login->result(), int(QDialog::Accepted));
        QVERIFY(!m_login->isVisible());
    }

    // Every way out of the dialog ends the program before the main window:
    // no exit question, no layout saved.
    void leavingEndsWithoutQuestionOrLayout_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("cancel button") << "cancel";
        QTest::newRow("close box") << "close";
        QTest::newRow("Enter on the cancel button") << "enter-cancel";
    }
    void leavingEndsWithoutQuestionOrLayout()
    {
        QFETCH(QString, way);
        const QString layoutFile = QCoreApplication::applicationDirPath() + QStringLiteral("/ColumnINFO.ini");
        QFile::remove(layoutFile);

        ModalScript script;
        script.onDialog<TFrmLogin>([way](TFrmLogin* login) {
            if (way == QLatin1String("esc")) QTest::keyClick(login->edt2, Qt::Key_Escape);
            else if (way == QLatin1String("cancel")) QTest::mouseClick(login->btn3, Qt::LeftButton);
            else if (way == QLatin1String("close")) login->close();
            else {
                login->btn3->setFocus();
                QTest::keyClick(login->btn3, Qt::Key_Return);
            }
        });
        TFrmMain mainWindow(m_dm.get());
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(!mainWindow.SignedIn());
        QVERIFY(script.boxes().isEmpty());
        QVERIFY(!mainWindow.isVisible());
        QVERIFY(!QFile::exists(layoutFile));
    }

    void signingInLetsTheMainWindowGoOn()
    {
        ModalScript script;
        script.onDialog<TFrmLogin>([](TFrmLogin* login) {
            login->edt2->setText(QStringLiteral("admin"));
            QTest::mouseClick(login->btnOK, Qt::LeftButton);
        });
        TFrmMain mainWindow(m_dm.get());
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(mainWindow.SignedIn());
    }
};

QTEST_MAIN(LoginTest)
#include "LoginTest.moc"
