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
