// Sign-in with hostile user names and passwords, against the demo accounts
// (admin/admin and operator/usbkey active, olduser disabled). Covered in
// tests/app/LoginTest.cpp: apostrophes in either field, "x' or '1'='1",
// "x' or username='admin", surrounding blanks and tabs, letter case.
#include "AppTestSupport.h"
#include "HostileSupport.h"

#include "ado/TADOQuery.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "data/RegisterStatements.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using hostile::repeated;
using hostile::sha256;

class SignInHostileTest : public QObject {
    Q_OBJECT

    RegisterFolder m_folder;
    std::unique_ptr<TDM> m_dm;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_folder.makeRegister(3, 1, &error), qPrintable(error));
        m_dm = std::make_unique<TDM>(m_folder.path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
    }

    void hostileAccountsNeverSignIn_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        const QString nul(QChar(0));
        const QString esc(QChar(0x1b));
        QTest::newRow("always-true in both fields") << "' or ''='" << "' or ''='" << false;
        QTest::newRow("comment after the user") << "admin'--" << "x" << false;
        QTest::newRow("comment after the password") << "admin" << "x' or 1=1 --" << false;
        QTest::newRow("second statement") << "admin'; delete from counted; --" << "admin" << false;
        QTest::newRow("double quotes") << "\"admin\"" << "\"admin\"" << false;
        QTest::newRow("brackets") << "[admin]" << "[admin]" << false;
        QTest::newRow("wildcards") << "adm*" << "%" << false;
        QTest::newRow("backslash before the quote") << "admin\\" << "\\' or ''='" << false;
        QTest::newRow("parameter marks") << ":username" << "?" << false;
        QTest::newRow("a mark after a quote") << "admin' and password = :password --" << "x" << false;
        QTest::newRow("100000 characters of user") << repeated(u'a', 100000) << "admin" << false;
        QTest::newRow("100000 apostrophes of password") << "admin" << repeated(u'\'', 100000) << false;
        QTest::newRow("right password then 100000 more") << "admin" << "admin" + repeated(u'x', 100000) << false;
        // Text compares by the General sort order, as an index seek on the
        // user name would: characters without a weight there (NUL, U+FFFD,
        // unassigned code points) count as absent, as letter case does not
        // count. The right password is still needed.
        QTest::newRow("NUL inside the right password") << "admin" << "ad" + nul + "min" << true;
        QTest::newRow("NUL inside a wrong password") << "admin" << "ad" + nul + "mix" << false;
        QTest::newRow("NUL, then always-true") << "admin" << "admin" + nul + "' or ''='" << false;
        QTest::newRow("NUL ends the password (trimmed as a control)") << "admin" << "admin" + nul << true;
        QTest::newRow("CR LF inside the user") << "ad\r\nmin" << "admin" << false;
        QTest::newRow("tab inside the password") << "admin" << "ad\tmin" << false;
        QTest::newRow("escape sequence") << esc + "[2Jadmin" << "admin" << false;
        QTest::newRow("outside GBK in the user") << "admin😀" << "admin" << false;
        QTest::newRow("outside GBK in the password") << "admin" << "😀" << false;
        QTest::newRow("half a surrogate pair") << "admin" << "admin" + QString(QChar(0xD800)) << false;
        QTest::newRow("disabled account, always-true") << "olduser" << "olduser' or is_del=1 or ''='" << false;
    }

    // Whatever is typed: a sign-in only for a real account, otherwise the one
    // message; the database file is not touched.
    void hostileAccountsNeverSignIn()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        const QByteArray before = sha256(m_folder.database());

        // The lookup itself, with the whole text (the fields hold less).
        TADOQuery lookup;
        lookup.setConnection(m_dm->ADOConn);
        RegisterStatements::accountLookup(lookup, TFrmLogin::trimControls(user), TFrmLogin::trimControls(password));
        try {
            lookup.Open();
        } catch (const std::exception& e) {
            QFAIL(qPrintable(QStringLiteral("the lookup failed: ") + QString::fromUtf8(e.what()).left(300)));
        }
        QCOMPARE(!lookup.IsEmpty(), accepted);
        lookup.Close();

        // The dialog, as the operator would meet it.
        TFrmLogin login(m_dm->ADOConn);
        login.show();
        QVERIFY(QTest::qWaitForWindowActive(&login));
        login.edt1->setText(user);
        login.edt2->setText(password);
        ModalScript script;
        if (!accepted) script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(login.btnOK, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        if (accepted) {
            QCOMPARE(login.result(), int(QDialog::Accepted));
        } else {
            QCOMPARE(script.boxes().size(), 1);
            QCOMPARE(script.boxes()[0].text, TFrmLogin::failedMessage());
            QVERIFY(login.isVisible());
        }

        QCOMPARE(sha256(m_folder.database()), before);
        QVERIFY(!QFile::exists(m_folder.database() + QStringLiteral("-journal")));
    }
};

REGISTER_HOSTILE_TEST(SignInHostileTest);

#include "SignInHostileTest.moc"
