// Opening, closing and reopening the database through TADOConnection.
#include "TestDatabase.h"
#include "TestSupport.h"

#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"

#include <gtest/gtest.h>

namespace {

QString jetString(const QString& path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path +
           QStringLiteral(";Persist Security Info=False");
}

std::string openError(TADOConnection& conn)
{
    try {
        conn.Open();
    } catch (const EDatabaseError& e) {
        return e.message().toStdString();
    }
    return "(opened)";
}

TEST(ConnectionString, RefusedWithAReason)
{
    TestDatabase files;
    QString db = files.makeRegister();
    const QString accdb = files.makeRegister(QStringLiteral("vask.accdb"), 5, 1);
    struct Case {
        QString connectionString;
        const char* messagePart;
    };
    const Case cases[] = {
        {QString(), "No connection string"},
        {QStringLiteral("Provider=SQLOLEDB;Data Source=") + db, "Provider 'SQLOLEDB' is not available"},
        {QStringLiteral("Provider=Microsoft.ACE.OLEDB.11.0;Data Source=") + db, "Microsoft.ACE.OLEDB.12.0 (.mdb, .accdb)"},
        // As on Windows, the Jet provider opens no Access 2007 file.
        {jetString(accdb), "which opens with Provider=Microsoft.ACE.OLEDB.12.0"},
        {QStringLiteral("Data Source=") + db, "names no Provider"},
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False"), "names no Data Source"},
        {jetString(files.folder() + QStringLiteral("/missing.mdb")), "Could not find file"},
        {jetString(files.folder()), "is not a database file"},
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"") + db, "no closing quote"},
        {QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;garbage;Data Source=") + db, "'garbage' has no value"},
    };
    for (const Case& c : cases) {
        TADOConnection conn;
        conn.setConnectionString(c.connectionString);
        std::string message = openError(conn);
        EXPECT_NE(message.find(c.messagePart), std::string::npos)
            << c.connectionString.toStdString() << " gave: " << message;
        EXPECT_FALSE(conn.Connected());
    }
}

// A register protected by a database password opens with the password the
// string gives; a missing or wrong one is refused saying so, never quoting a
// password. A file without a password ignores one given, as Jet does.
TEST(ConnectionString, DatabasePasswordOpensAProtectedFile)
{
    TestDatabase files;
    const QString secured = files.makeRegister(QStringLiteral("secured.mdb"), 5, 1, QStringLiteral("Geheim;42"));
    const QString plain = files.makeRegister(QStringLiteral("plain.mdb"), 5, 1);
    const QString key = QStringLiteral(";Jet OLEDB:Database Password=");
    struct Case {
        QString connectionString;
        const char* messagePart; // nullptr: opens
    } cases[] = {
        {jetString(secured) + key + QStringLiteral("\"Geheim;42\""), nullptr},
        {jetString(secured) + QStringLiteral(";jet oledb:database password = 'Geheim;42' ;"), nullptr},
        {jetString(plain) + key + QStringLiteral("anything"), nullptr},
        {jetString(secured), "is protected by a database password"},
        {jetString(secured) + key, "is protected by a database password"},
        {jetString(secured) + key + QStringLiteral("\"geheim;42\""), "is wrong"},
        {jetString(secured) + key + QStringLiteral("Geheim;42"), "follows the value of 'jet oledb:database password'"},
        {jetString(secured) + key + QStringLiteral("\"Geheim;42"), "no closing quote"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString.toStdString());
        TADOConnection conn;
        conn.setConnectionString(c.connectionString);
        const std::string message = openError(conn);
        if (!c.messagePart) {
            EXPECT_EQ(message, "(opened)");
            continue;
        }
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        for (const char* part : {"Geheim", "geheim", ";42", "anything"})
            EXPECT_EQ(message.find(part), std::string::npos) << message;
        EXPECT_FALSE(conn.Connected());
    }
    // Every reopening (KeepConnection false) takes the password again.
    TADOConnection conn;
    conn.setConnectionString(jetString(secured) + key + QStringLiteral("\"Geheim;42\""));
    conn.setKeepConnection(false);
    for (int round = 0; round < 2; ++round) {
        TADOQuery listing;
        listing.setConnection(&conn);
        listing.setSQLText(QStringLiteral("select * from all_key order by id desc"));
        listing.Open();
        EXPECT_EQ(listing.RecordCount(), 5);
        listing.Close();
        EXPECT_FALSE(conn.Connected());
    }
}

// The ACE provider opens Access files of every version, an .accdb register
// as an .mdb one; a password given for a file without one is ignored, and
// a file Access encrypted with its password is refused saying why.
TEST(ConnectionString, TheAceProviderOpensEveryAccessFile)
{
    TestDatabase files;
    const QString ace = QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=");
    const QString password = QStringLiteral(";Jet OLEDB:Database Password=password");
    struct Case {
        QString connectionString;
        const char* messagePart; // nullptr: opens, with 7 entries
    } cases[] = {
        {ace + files.makeRegister(QStringLiteral("vask.accdb"), 7, 1), nullptr},
        {ace + files.makeRegister(QStringLiteral("vask.mdb"), 7, 1), nullptr},
        {QStringLiteral("Provider=microsoft.ace.oledb.16.0;Data Source=") + files.folder() + QStringLiteral("/vask.accdb") +
             password,
         nullptr},
        {ace + QString::fromStdString(testsupport::officeEncryptedCopy(
                   testsupport::testData("testV2010.accdb"), "encrypted-connection", 4, 4)) +
             password,
         "is encrypted with a database password (Office's agile encryption, AES)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString.toStdString());
        TADOConnection conn;
        conn.setConnectionString(c.connectionString);
        const std::string message = openError(conn);
        if (c.messagePart) {
            EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
            EXPECT_FALSE(conn.Connected());
            continue;
        }
        ASSERT_EQ(message, "(opened)");
        TADOQuery listing;
        listing.setConnection(&conn);
        listing.setSQLText(QStringLiteral("select * from all_key order by id desc"));
        listing.Open();
        EXPECT_EQ(listing.RecordCount(), 7);
    }
}

TEST(ConnectionString, PartsAreParsedLikeAdo)
{
    TestDatabase files;
    QString db = files.makeRegister(QStringLiteral("odd;name's/vask.mdb"));
    TADOConnection conn;
    conn.setConnectionString(QStringLiteral(" provider = microsoft.jet.oledb.4.0 ; DATA SOURCE=\"") + db +
                             QStringLiteral("\" ; Persist Security Info=False;"));
    EXPECT_EQ(conn.DataSourcePath(), db);
    EXPECT_EQ(conn.Provider(), "microsoft.jet.oledb.4.0");
    conn.Open();
    EXPECT_TRUE(conn.Connected());
    conn.setConnectionString(jetString(db));  // a new string closes the connection
    EXPECT_FALSE(conn.Connected());
}

TEST(ConnectionString, AFileTheEngineRefusesIsReported)
{
    TestDatabase files;
    QString notJet = files.folder() + QStringLiteral("/notes.mdb");
    QFile f(notJet);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();
    TADOConnection conn;
    conn.setConnectionString(jetString(notJet));
    std::string message = openError(conn);
    EXPECT_NE(message.find("Cannot open the database"), std::string::npos) << message;
}

class KeepConnectionOff : public ::testing::Test {
protected:
    TestDatabase files;
    QString db;
    TADOConnection conn;
    int disconnects = 0;
    int connects = 0;

    void SetUp() override
    {
        db = files.makeRegister();
        conn.setConnectionString(jetString(db));
        conn.setLoginPrompt(false);
        conn.setKeepConnection(false);
        conn.AfterConnect = [this](TADOConnection*) { ++connects; };
        conn.AfterDisconnect = [this](TADOConnection*) { ++disconnects; };
    }
};

TEST_F(KeepConnectionOff, FileClosesWhenTheLastQueryCloses)
{
    conn.Open();
    EXPECT_TRUE(conn.Connected());

    TADOQuery listing, pending;
    listing.setConnection(&conn);
    pending.setConnection(&conn);
    listing.setSQLText("select * from all_key order by id desc");
    pending.setSQLText("select * from all_key where is_del = 1");
    listing.Open();
    pending.Open();
    EXPECT_EQ(connects, 1);  // the explicit open is reused
    pending.Close();
    EXPECT_TRUE(conn.Connected());  // the listing is still open
    listing.Close();
    EXPECT_FALSE(conn.Connected());
    EXPECT_EQ(disconnects, 1);

    // The next query opens it again; the rows stay readable while it is open.
    listing.Open();
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(listing.RecordCount(), 200);
    listing.Close();
    EXPECT_FALSE(conn.Connected());

    // A statement run on its own opens and closes the file around itself.
    TADOQuery mark;
    mark.setConnection(&conn);
    mark.setSQLText("update all_key set is_del=2 where is_del=1");
    EXPECT_EQ(mark.ExecSQL(), 20);
    EXPECT_EQ(mark.RowsAffected(), 20);
    EXPECT_FALSE(conn.Connected());
    EXPECT_EQ(connects, 3);
}

TEST_F(KeepConnectionOff, FileCanBeReplacedWhileNoQueryIsOpen)
{
    // Closing the file lets another program (or a restore) replace it.
    TADOQuery query;
    query.setConnection(&conn);
    query.setSQLText("select * from all_key");
    query.Open();
    query.Close();
    ASSERT_TRUE(QFile::rename(db, db + ".away"));
    EXPECT_THROW(query.Open(), EDatabaseError);
    EXPECT_FALSE(query.Active());
    EXPECT_FALSE(conn.Connected());
    QString other = files.makeRegister(QStringLiteral("other.mdb"), 5, 0);
    ASSERT_TRUE(QFile::rename(other, db));
    query.Open();
    EXPECT_EQ(query.RecordCount(), 5);
}

TEST_F(KeepConnectionOff, FailedStatementsLeaveTheFileClosedAndTheNextOneWorks)
{
    TADOQuery query;
    query.setConnection(&conn);
    const char* const bad[] = {
        "select * from no_such_table",
        "select nosuch from all_key",
        "select * from all_key where",
        "select * from all_key where id = 'x'",
        "selec * from all_key",
        "update all_key set nosuch = 1",
        "delete from",
        "select * from all_key where username = 'unterminated",
        "",
        "   ",
    };
    for (const char* statement : bad) {
        query.setSQLText(QString::fromUtf8(statement));
        EXPECT_THROW(query.Open(), EDatabaseError) << statement;
        EXPECT_FALSE(query.Active());
        EXPECT_FALSE(conn.Connected()) << statement;
        EXPECT_THROW(query.ExecSQL(), EDatabaseError) << statement;
        EXPECT_FALSE(conn.Connected()) << statement;
    }
    query.setSQLText("select * from all_key");
    query.Open();
    EXPECT_EQ(query.RecordCount(), 200);
}

TEST_F(KeepConnectionOff, DamagedFileIsReopenedEvenWhenKeptOpen)
{
    conn.setKeepConnection(true);
    conn.Open();
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray original = file.readAll();
    ASSERT_TRUE(file.resize(3 * 4096));  // the table definitions are gone
    file.close();

    TADOQuery query;
    query.setConnection(&conn);
    query.setSQLText("select * from all_key");
    EXPECT_THROW(query.Open(), EDatabaseError);
    EXPECT_FALSE(conn.Connected());

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(original);
    file.close();
    query.Open();
    EXPECT_EQ(query.RecordCount(), 200);

    // A statement the SQL layer refuses says nothing about the file: it stays open.
    TADOQuery bad;
    bad.setConnection(&conn);
    bad.setSQLText("select * from nowhere");
    query.Close();
    EXPECT_THROW(bad.Open(), EDatabaseError);
    EXPECT_TRUE(conn.Connected());
}

TEST_F(KeepConnectionOff, ClosingTheConnectionClosesItsQueries)
{
    conn.setKeepConnection(true);
    TADOQuery query;
    query.setConnection(&conn);
    query.setSQLText("select * from counted");
    query.Open();
    conn.Close();
    EXPECT_FALSE(query.Active());
    EXPECT_FALSE(conn.Connected());
    query.Open();  // reconnects on demand
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(query.RecordCount(), 3);
}

TEST(Connection, QueryWithoutConnectionOrAfterItIsGone)
{
    TADOQuery query;
    query.setSQLText("select * from all_key");
    EXPECT_THROW(query.Open(), EDatabaseError);
    {
        TADOConnection conn;
        query.setConnection(&conn);
    }
    EXPECT_EQ(query.Connection(), nullptr);
    EXPECT_THROW(query.Open(), EDatabaseError);
}

TEST(Connection, LoginPromptAsksTheHook)
{
    TestDatabase files;
    TADOConnection conn;
    conn.setConnectionString(jetString(files.makeRegister()) + QStringLiteral(";User ID=Admin"));
    QString seenUser = "-";
    conn.OnLogin = [&](TADOConnection*, QString& user, QString&) { seenUser = user; };
    conn.setLoginPrompt(false);
    conn.Open();
    EXPECT_EQ(seenUser, "-");
    conn.Close();
    conn.setLoginPrompt(true);
    conn.Open();
    EXPECT_EQ(seenUser, "Admin");
}

} // namespace
