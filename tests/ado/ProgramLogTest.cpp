// The program's log: a connection that cannot be opened leaves its reason
// there (never the password), in a file only its owner reads, which moves
// aside once it has grown past 1 MiB.
#include "TestDatabase.h"

#include "ado/EDatabaseError.h"
#include "ado/TADOConnection.h"
#include "qtcommon/ProgramLog.h"

#include <gtest/gtest.h>

namespace {

class ProgramLogTest : public ::testing::Test {
protected:
    TestDatabase files;
    QString path;

    void SetUp() override
    {
        path = files.folder() + QStringLiteral("/logs/usbkey.log");
        ProgramLog::open(path);
    }
    void TearDown() override { ProgramLog::close(); }

    QString logText() const
    {
        QFile log(path);
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
};

TEST_F(ProgramLogTest, AFailedConnectionLeavesItsReasonButNotThePassword)
{
    const QString file = files.makeRegister(QStringLiteral("vask.mdb"), 3, 1, QStringLiteral("Richtig-1"));
    TADOConnection connection;
    connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;"
                                                  "Jet OLEDB:Database Password=Falsch-2")
                                       .arg(file));
    EXPECT_THROW(connection.Open(), EDatabaseError);
    const QString text = logText();
    EXPECT_TRUE(text.contains(QStringLiteral("could not be opened")) && text.contains(QStringLiteral("is wrong")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Falsch")) || text.contains(QStringLiteral("Richtig"))) << text.toStdString();
    EXPECT_EQ(text.count(u'\n'), 1) << text.toStdString();
    EXPECT_EQ(QFile(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
}

TEST_F(ProgramLogTest, ALogPastOneMebibyteMovesAside)
{
    const QString line = QString(1000, u'x') + QStringLiteral("\nsecond line\r\n\x1b[2J");
    for (int i = 0; i < 1100; ++i) ProgramLog::warning(line);
    ASSERT_TRUE(QFile::exists(path + QStringLiteral(".1")));
    EXPECT_GT(QFileInfo(path + QStringLiteral(".1")).size(), 1024 * 1024);
    EXPECT_LT(QFileInfo(path).size(), 200 * 1024);
    // One line per event, control characters made harmless.
    const QStringList lines = logText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("x / second line / ?[2J"))) << lines.last().toStdString();
}

} // namespace
