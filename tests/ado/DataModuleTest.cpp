// The data module finds its database beside the executable.
#include "TestDatabase.h"

#include "app/UnitDM.h"
#include "ado/TADOQuery.h"

#include <gtest/gtest.h>

namespace {

TEST(DataModule, ConnectionStringIsBuiltFromTheProgramFolder)
{
    QString sep = QDir::separator();
    QString folder = QDir::toNativeSeparators(QStringLiteral("/opt/usbkey"));
    QString expected = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + folder + sep + "db" + sep +
                       "vask.mdb;Persist Security Info=False";
    EXPECT_EQ(TDM::connectionStringFor(QStringLiteral("/opt/usbkey")), expected);
    EXPECT_EQ(TDM::connectionStringFor(QStringLiteral("/opt/usbkey/")), expected);
}

TEST(DataModule, OpensDbVaskBesideTheProgram)
{
    TestDatabase files;
    files.makeRegister(QStringLiteral("db/vask.mdb"));
    TDM dm(files.folder());
    EXPECT_FALSE(dm.ADOConn->LoginPrompt());
    EXPECT_FALSE(dm.ADOConn->KeepConnection());
    ASSERT_TRUE(dm.DataModuleCreate()) << dm.ConnectionError().toStdString();
    EXPECT_TRUE(dm.ADOConn->Connected());

    // The queries of every form share it and close it again when done.
    TADOQuery listing;
    listing.setConnection(dm.ADOConn);
    listing.setSQLText("select * from all_key order by id desc");
    listing.Open();
    EXPECT_EQ(listing.RecordCount(), 200);
    listing.Close();
    EXPECT_FALSE(dm.ADOConn->Connected());
}

TEST(DataModule, FolderWithSemicolonStillWorks)
{
    TestDatabase files;
    files.makeRegister(QStringLiteral("a;b/db/vask.mdb"));
    TDM dm(files.folder() + QStringLiteral("/a;b"));
    EXPECT_TRUE(dm.DataModuleCreate()) << dm.ConnectionError().toStdString();
}

// db/connection.udl beside the database holds the whole connection string,
// as Windows writes a data-link file; a relative Data Source is taken from
// the db folder, whatever the working folder.
TEST(DataModule, DataLinkFileGivesTheConnectionString)
{
    TestDatabase files;
    files.makeRegister(QStringLiteral("db/vask.mdb"), 7, 2, QStringLiteral("s3cr3t"));
    files.makeRegister(QStringLiteral("db/other.mdb"), 3, 0);
    const QString link = TDM::dataLinkPathFor(files.folder());
    EXPECT_EQ(link, files.folder() + QStringLiteral("/db/connection.udl"));
    struct Case {
        QString connectionString;
        int entries;
    } cases[] = {
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=vask.mdb;Jet OLEDB:Database Password=s3cr3t;"
                        "Persist Security Info=False"),
         7},
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + files.folder() +
             QStringLiteral("/db/vask.mdb;Jet OLEDB:Database Password=s3cr3t"),
         7},
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=other.mdb"), 3},
    };
    const QString elsewhere = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString.toStdString());
        TestDatabase::writeDataLink(link, c.connectionString);
        TDM dm(files.folder());
        ASSERT_TRUE(dm.DataModuleCreate()) << dm.ConnectionError().toStdString();
        EXPECT_EQ(dm.ADOConn->ConnectionString(), c.connectionString);
        TADOQuery listing;
        listing.setConnection(dm.ADOConn);
        listing.setSQLText("select * from all_key order by id desc");
        listing.Open();
        EXPECT_EQ(listing.RecordCount(), c.entries);
    }
    QDir::setCurrent(elsewhere);

    // Without the file, the string is built as always, and the protected
    // register is refused for want of its password.
    QFile::remove(link);
    TDM dm(files.folder());
    EXPECT_FALSE(dm.DataModuleCreate());
    EXPECT_TRUE(dm.ConnectionError().contains(QStringLiteral("database password"))) << dm.ConnectionError().toStdString();
    EXPECT_EQ(dm.ADOConn->ConnectionString(), TDM::connectionStringFor(files.folder()));
}

// A data-link file that cannot be read or is not in the shape Windows writes
// fails the connection (the program then shows its connection message),
// even though the database beside it would open; no message quotes the file's text.
TEST(DataModule, UnreadableOrMalformedDataLinkFailsTheConnection)
{
    TestDatabase files;
    files.makeRegister(QStringLiteral("db/vask.mdb"), 3, 0);
    const QString link = TDM::dataLinkPathFor(files.folder());
    auto utf16 = [](const QString& text) {
        return QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    };
    const QString good = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=vask.mdb;Password=pw-7");
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* messagePart;
    } cases[] = {
        {"UTF-8, no byte-order mark", ("[oledb]\r\n; comment\r\n" + good).toUtf8(), "UTF-16"},
        {"empty", QByteArray(), "UTF-16"},
        {"only the mark", utf16(QString()), "is empty"},
        {"odd length", utf16(QStringLiteral("[oledb]\r\n") + good) + QByteArray("x"), "UTF-16"},
        {"lone surrogate", utf16(QStringLiteral("[oledb]\r\n") + QChar(0xD800) + good), "not valid UTF-16"},
        {"no [oledb] line", utf16(QStringLiteral("; comment\r\n") + good), "[oledb]"},
        {"no connection string", utf16(QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n")),
         "no connection string"},
        {"two connection strings", utf16(QStringLiteral("[oledb]\r\n") + good + QStringLiteral("\r\n") + good),
         "second connection string"},
        {"a string that is not one", utf16(QStringLiteral("[oledb]\r\nProvider=Microsoft.Jet.OLEDB.4.0;vask.mdb;pw-7")),
         "has no value"},
        {"far too large", utf16(QStringLiteral("[oledb]\r\n") + QString(70000, u';')), "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile file(link);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        TDM dm(files.folder());
        EXPECT_FALSE(dm.DataModuleCreate());
        EXPECT_FALSE(dm.ADOConn->Connected());
        EXPECT_TRUE(dm.ConnectionError().contains(QLatin1String(c.messagePart))) << dm.ConnectionError().toStdString();
        EXPECT_FALSE(dm.ConnectionError().contains(QStringLiteral("pw-7"))) << dm.ConnectionError().toStdString();
    }
    // The same lines as Windows writes them, with LF line ends, are taken.
    QFile file(link);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(utf16(QStringLiteral("[OLEDB]\n; Everything after this line is an OLE DB initstring\n") + good + "\n"));
    file.close();
    EXPECT_EQ(TDM::readDataLink(link), good);

    // Present but not readable: a folder of that name.
    QFile::remove(link);
    QDir().mkpath(link);
    TDM dm(files.folder());
    EXPECT_FALSE(dm.DataModuleCreate());
    EXPECT_TRUE(dm.ConnectionError().contains(QStringLiteral("connection.udl"))) << dm.ConnectionError().toStdString();
}

TEST(DataModule, MissingDatabaseIsReportedNotThrown)
{
    TestDatabase files;
    TDM dm(files.folder());
    EXPECT_FALSE(dm.DataModuleCreate());
    EXPECT_FALSE(dm.ADOConn->Connected());
    EXPECT_TRUE(dm.ConnectionError().contains("vask.mdb")) << dm.ConnectionError().toStdString();
    EXPECT_EQ(TDM::connectionFailedMessage(), QStringLiteral("数据库连接错误，系统退出。"));
}

} // namespace
