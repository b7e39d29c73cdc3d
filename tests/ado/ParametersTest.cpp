// A query's Parameters, as ADO programs use them: made from the statement's
// marks, given by name or position before Open or ExecSQL, on a register
// made by jetdb demo (200 entries, the last 20 pending).
#include "TestDatabase.h"

#include "ado/TADOConnection.h"
#include "ado/TADODataSet.h"
#include "ado/TADOQuery.h"

#include <gtest/gtest.h>

namespace {

class ParametersTest : public ::testing::Test {
protected:
    TestDatabase files;
    TADOConnection connection;
    TADOQuery query;

    void SetUp() override
    {
        connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                       files.makeRegister() + QStringLiteral(";Persist Security Info=False"));
        query.setConnection(&connection);
    }
};

TEST_F(ParametersTest, OneParameterPerMarkAndPerName)
{
    query.setSQLText(QStringLiteral("select * from all_key where id >= :low and username <> ? and id <= :LOW or id = ?"));
    TParameters& parameters = query.Parameters();
    ASSERT_EQ(parameters.Count(), 3);
    EXPECT_EQ(parameters.Items(0)->Name(), QStringLiteral("low"));
    EXPECT_EQ(parameters.Items(1)->Name(), QString());
    EXPECT_EQ(parameters.Items(2)->Name(), QString());
    EXPECT_EQ(parameters.ParamByName(QStringLiteral("LOW")), parameters.Items(0));
    EXPECT_THROW(parameters.ParamByName(QStringLiteral("high")), EDatabaseError);
    EXPECT_THROW(parameters.Items(3), EDatabaseError);

    // A changed statement keeps the values of the names it still has.
    parameters.ParamByName(QStringLiteral("low"))->setAsInteger(190);
    query.setSQLText(QStringLiteral("select id from all_key where id >= :low order by id desc"));
    ASSERT_EQ(query.Parameters().Count(), 1);
    EXPECT_EQ(query.Parameters().Items(0)->Value(), jet::Value(int64_t(190)));
    query.Open();
    EXPECT_EQ(query.RecordCount(), 11);
    EXPECT_EQ(query.FieldByName(QStringLiteral("id"))->AsInteger(), 200);
}

TEST_F(ParametersTest, ValuesGoWithOpenAndExecSQL)
{
    TADOQuery change;
    change.setConnection(&connection);
    change.SQL() << QStringLiteral("update all_key set username = :name") << QStringLiteral("where id = :id or id = ?");
    change.Parameters().ParamByName(QStringLiteral("name"))->setAsString(QStringLiteral("x'); delete from all_key; --"));
    change.Parameters().ParamByName(QStringLiteral("id"))->setAsInteger(5);
    change.Parameters().Items(2)->setAsLargeInt(6);
    EXPECT_EQ(change.ExecSQL(), 2);

    TADODataSet check;
    check.setConnection(&connection);
    check.setCommandText(QStringLiteral("select id from all_key where username = ? and add_date > ? order by id"));
    check.Parameters().Items(0)->setAsString(QStringLiteral("x'); delete from all_key; --"));
    check.Parameters().Items(1)->setAsDateTime(QDateTime(QDate(1990, 1, 1), QTime(0, 0)));
    check.Open();
    ASSERT_EQ(check.RecordCount(), 2);
    EXPECT_EQ(check.FieldByName(QStringLiteral("id"))->AsInteger(), 5);
    check.Close();
    check.Parameters().Items(1)->setAsDateTime(QDateTime(QDate(2200, 1, 1), QTime(0, 0)));
    check.Open();
    EXPECT_EQ(check.RecordCount(), 0);
}

TEST_F(ParametersTest, AParameterWithoutAValueIsNullAndOneWithoutAMarkIsNone)
{
    query.setSQLText(QStringLiteral("select * from all_key where username = :name"));
    query.Open();
    EXPECT_EQ(query.RecordCount(), 0); // null equals nothing
    query.Close();
    query.setSQLText(QStringLiteral("select * from all_key where username = :name :other"));
    EXPECT_THROW(query.Open(), EDatabaseError);
}

} // namespace
