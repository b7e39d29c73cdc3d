// The program started as a process (the start-up probe, which runs the same
// start-up as usbkey and reports each modal window) from a folder other
// than its own.
#include "AppTestSupport.h"

#include <QtTest>

class StartupTest : public QObject {
    Q_OBJECT

    const QString kConnectionFailed = QStringLiteral("USBKEY管理系统|数据库连接错误，系统退出。");

    // Copies the probe into the folder (beside db/, when there is one), runs
    // it from folder/elsewhere and
    // returns the windows it reported; exitCode receives its exit code.
    static QStringList runFrom(const RegisterFolder& folder, int& exitCode)
    {
        const QString program = folder.filePath(QStringLiteral("start_probe"));
        QFile::copy(QStringLiteral(START_PROBE_PATH), program);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString elsewhere = folder.filePath(QStringLiteral("elsewhere"));
        // The working folder has a db/vask.mdb of its own that cannot be
        // opened: a program that looked there would report a failure.
        QDir().mkpath(elsewhere + QStringLiteral("/db"));
        QFile decoy(elsewhere + QStringLiteral("/db/vask.mdb"));
        decoy.open(QIODevice::WriteOnly);
        decoy.write("not a database");
        decoy.close();

        QProcess probe;
        probe.setWorkingDirectory(elsewhere);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The user's application data, where the program keeps its log.
        environment.insert(QStringLiteral("XDG_DATA_HOME"), folder.filePath(QStringLiteral("userdata")));
        probe.setProcessEnvironment(environment);
        probe.start(program, {});
        probe.waitForFinished(30000);
        exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
        return QString::fromUtf8(probe.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    // The program's log after a run; empty when it wrote none.
    static QString logOf(const RegisterFolder& folder)
    {
        QFile log(folder.filePath(QStringLiteral("userdata/usbkey/usbkey.log")));
        if (!log.open(QIODevice::ReadOnly)) return QString();
        // Readable by its owner only: the lines name files, servers and users.
        if (log.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther))
            return QStringLiteral("(readable by others) ") + QString::fromUtf8(log.readAll());
        return QString::fromUtf8(log.readAll());
    }

private slots:
    void missingOrUnreadableDatabaseGivesOneMessageAndEnds_data()
    {
        QTest::addColumn<QByteArray>("database"); // null: no file at all
        QTest::addColumn<QString>("reason");      // what the log says of it
        QTest::newRow("missing") << QByteArray() << "Could not find file";
        QTest::newRow("unreadable") << QByteArray("Standard Jet DB, or so it says") << "Cannot open the database";
    }
    void missingOrUnreadableDatabaseGivesOneMessageAndEnds()
    {
        QFETCH(QByteArray, database);
        QFETCH(QString, reason);
        RegisterFolder folder;
        if (!database.isNull()) {
            QDir().mkpath(folder.filePath(QStringLiteral("db")));
            QFile file(folder.database());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(database);
        }
        int exitCode = 0;
        const QStringList windows = runFrom(folder, exitCode);
        // The connection message, and under it why.
        QCOMPARE(windows.size(), 1);
        QVERIFY2(windows[0].startsWith(kConnectionFailed + u'|'), qPrintable(windows[0]));
        QVERIFY2(windows[0].contains(database.isNull() ? QStringLiteral("Could not find file")
                                                       : QStringLiteral("Cannot open the database")),
                 qPrintable(windows[0]));
        QCOMPARE(exitCode, 1);
        // The operator sees one sentence; the administrator finds the reason.
        const QString log = logOf(folder);
        QVERIFY2(log.startsWith(QDate::currentDate().toString(Qt::ISODate)), qPrintable(log));
        QVERIFY2(log.contains(reason) && log.contains(QStringLiteral("vask.mdb")), qPrintable(log));
    }

    // A register whose commit another program is in the middle of (its
    // locks held, as by a program stopped inside its commit): start-up waits
    // for it as long as a read waits, then ends with the connection message
    // and the reason, never with the sign-in window and a late failure.
    void registerLockedByAnotherProgramAtStartUp()
    {
        RegisterFolder folder;
        QString error;
        QVERIFY2(folder.makeRegister(3, 1, &error), qPrintable(error));
        QProcess holder;
        holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        holder.start(QStringLiteral(LOCK_HOLDER_PATH), {folder.database()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("holding"));
        int exitCode = 0;
        const QStringList windows = runFrom(folder, exitCode);
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(windows.size(), 1);
        QVERIFY2(windows[0].startsWith(kConnectionFailed + u'|'), qPrintable(windows[0]));
        QVERIFY2(windows[0].contains(QStringLiteral("is being changed by another program")), qPrintable(windows[0]));
        QCOMPARE(exitCode, 1);

        // Once the other program is done, the program starts.
        QCOMPARE(runFrom(folder, exitCode), QStringList{QStringLiteral("window|登录")});
    }

    // db/connection.udl, when present, gives the whole connection string;
    // one that cannot be used ends the program with the connection message
    // and its reason in the log (never the password). A data link that
    // holds a password and that others may read is a warning in the log.
    void dataLinkFileDecidesTheConnection_data()
    {
        QTest::addColumn<QByteArray>("dataLink"); // null: none; else the file's bytes
        QTest::addColumn<int>("mode");            // the data link's permissions
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("logged");      // a piece of the log; empty: no log
        auto utf16 = [](const QString& text) {
            return QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        };
        const QString lines = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                                             "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=vask.mdb;"
                                             "Jet OLEDB:Database Password=%1\r\n");
        const QString failed = kConnectionFailed;
        const int ownerOnly = int(QFile::ReadOwner | QFile::WriteOwner);
        const int everyone = ownerOnly | int(QFile::ReadGroup | QFile::ReadOther);
        const QString readable = QStringLiteral("connection.udl' holds a password and other users of this computer may read it");
        QTest::newRow("the password in the data link") << utf16(lines.arg(QStringLiteral("Tresor"))) << ownerOnly
                                                       << "window|登录" << "";
        QTest::newRow("the password in a data link others read") << utf16(lines.arg(QStringLiteral("Tresor"))) << everyone
                                                                 << "window|登录" << readable;
        QTest::newRow("no data link") << QByteArray() << ownerOnly << failed << "is protected by a database password";
        QTest::newRow("a wrong password") << utf16(lines.arg(QStringLiteral("tresor"))) << ownerOnly << failed
                                          << "could not be opened: ";
        QTest::newRow("not UTF-16") << lines.arg(QStringLiteral("Tresor")).toUtf8() << ownerOnly << failed
                                    << "is not UTF-16 text";
    }
    void dataLinkFileDecidesTheConnection()
    {
        QFETCH(QByteArray, dataLink);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QFETCH(QString, logged);
        RegisterFolder folder;
        QString error;
        QVERIFY2(folder.makeRegister(3, 1, &error, QStringLiteral("Tresor"), true), qPrintable(error));
        if (!dataLink.isNull()) {
            QFile file(folder.filePath(QStringLiteral("db/connection.udl")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(dataLink);
            QVERIFY(file.setPermissions(QFile::Permissions(mode)));
        }
        int exitCode = -1;
        const QStringList windows = runFrom(folder, exitCode);
        QCOMPARE(windows.size(), 1);
        // A failure's reason follows the message (never the password).
        QCOMPARE(windows[0].section(u'|', 0, 1), expected);
        QVERIFY(!windows[0].contains(QStringLiteral("Tresor")));
        QCOMPARE(exitCode, expected.startsWith(QLatin1String("window|")) ? 0 : 1);
        const QString log = logOf(folder);
        if (logged.isEmpty()) QVERIFY2(log.isEmpty(), qPrintable(log));
        else QVERIFY2(log.contains(logged), qPrintable(log));
        QVERIFY2(!log.contains(QStringLiteral("resor")), qPrintable(log));
    }

    void databaseBesideTheProgramIsFoundFromAnotherFolder()
    {
        RegisterFolder folder;
        QString error;
        QVERIFY2(folder.makeRegister(3, 1, &error), qPrintable(error));
        int exitCode = -1;
        const QStringList windows = runFrom(folder, exitCode);
        // The sign-in dialog comes; closing it ends the program without another word.
        QCOMPARE(windows, QStringList{QStringLiteral("window|登录")});
        QCOMPARE(exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "StartupTest.moc"
