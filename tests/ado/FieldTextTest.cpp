// How field values read as text and how text is turned back into values.
#include "MemoryDataSet.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* name; // of the test, e.g. FieldText.DisplayAndEditTextAgree/DateWithTime
    TFieldType type;
    jet::Value value;
    const char* display;
};

class FieldText : public ::testing::TestWithParam<TextCase> {};

TEST_P(FieldText, DisplayAndEditTextAgree)
{
    const TextCase& c = GetParam();
    MemoryADODataSet ds;
    ds.defs = {field("f", c.type, 50)};
    ds.rows = {{c.value}};
    ds.Open();
    TField* f = ds.Fields(0);
    EXPECT_EQ(f->DisplayText().toStdString(), c.display);
    EXPECT_EQ(f->Text(), f->DisplayText());
    EXPECT_EQ(f->AsString(), f->DisplayText());
    EXPECT_EQ(f->IsNull(), jet::isNull(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Types, FieldText,
    ::testing::Values(
        TextCase{"Integer", ftInteger, number(42), "42"},
        TextCase{"NegativeInteger", ftInteger, number(-7), "-7"},
        TextCase{"AutoNumber", ftAutoInc, number(1000000), "1000000"},
        TextCase{"NullInteger", ftInteger, jet::Value{}, ""},
        TextCase{"Date", ftDateTime, date(2024, 3, 5), "2024/3/5"},
        TextCase{"DateWithTime", ftDateTime, date(2024, 3, 5, 7, 5, 9), "2024/3/5 7:05:09"},
        TextCase{"LastSecondOfADay", ftDateTime, date(2024, 12, 25, 23, 59, 59), "2024/12/25 23:59:59"},
        TextCase{"FractionOfASecond", ftDateTime, date(2024, 3, 5, 0, 0, 0, 400), "2024/3/5"},  // fractions do not count
        TextCase{"FirstSecondAfterMidnight", ftDateTime, date(2024, 3, 5, 0, 0, 1), "2024/3/5 0:00:01"},
        TextCase{"NoonOfDayZero", ftDateTime, date(1899, 12, 30, 12), "1899/12/30 12:00:00"},
        TextCase{"ThreeDigitYear", ftDateTime, date(985, 1, 2), "0985/1/2"},
        TextCase{"Text", ftWideString, text(u"加密锁 A'1"), "加密锁 A'1"},
        TextCase{"EmptyText", ftWideString, text(u""), ""},
        TextCase{"Float", ftFloat, 2.5, "2.5"},
        TextCase{"InexactFloat", ftFloat, 0.1, "0.1"},
        TextCase{"LargeFloat", ftFloat, 1e20, "1e+20"},
        TextCase{"Currency", ftCurrency, jet::Currency{123450}, "12.345"},
        TextCase{"Decimal", ftBCD, jet::Decimal{false, 0, 16, 0, 9876543210123456}, "9876543210123456"},
        TextCase{"True", ftBoolean, true, "True"},
        TextCase{"False", ftBoolean, false, "False"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(FieldConversion, ReadersConvertAndRefuseWhatDoesNotFit)
{
    MemoryADODataSet ds;
    ds.defs = {field("n", ftInteger), field("s", ftWideString, 10),
               field("d", ftDateTime), field("big", ftFloat)};
    ds.rows = {{number(12), text(u" 34 "), date(2020, 2, 29, 13, 14, 15), 3e10},
               {jet::Value{}, text(u"abc"), jet::Value{}, jet::Value{}}};
    ds.Open();
    EXPECT_EQ(ds.Fields(0)->AsInteger(), 12);
    EXPECT_DOUBLE_EQ(ds.Fields(0)->AsFloat(), 12.0);
    EXPECT_EQ(ds.Fields(1)->AsInteger(), 34);
    EXPECT_EQ(ds.Fields(2)->AsDateTime(), QDateTime(QDate(2020, 2, 29), QTime(13, 14, 15)));
    EXPECT_THROW(ds.Fields(3)->AsInteger(), EDatabaseError);  // 3e10 is beyond int
    EXPECT_EQ(ds.Fields(3)->AsLargeInt(), 30000000000LL);
    ds.Next();
    EXPECT_EQ(ds.Fields(0)->AsInteger(), 0);  // null reads as 0
    EXPECT_FALSE(ds.Fields(2)->AsDateTime().isValid());
    EXPECT_THROW(ds.Fields(1)->AsInteger(), EDatabaseError);
}

TEST(FieldConversion, TextParsesByFieldType)
{
    MemoryADODataSet ds;
    ds.defs = {field("small", ftSmallint), field("d", ftDateTime),
               field("b", ftBoolean), field("c", ftCurrency),
               field("dec", ftBCD), field("s", ftWideString, 5)};
    ds.defs[4].precision = 16;
    ds.rows = {{number(0), date(2000, 1, 1), false, jet::Currency{0}, jet::Decimal{}, text(u"x")}};
    ds.Open();
    ds.Edit();
    TField* small = ds.Fields(0);
    small->setAsString("-32768");
    EXPECT_EQ(small->AsInteger(), -32768);
    EXPECT_THROW(small->setAsString("32768"), EDatabaseError);
    EXPECT_THROW(small->setAsFloat(1.5), EDatabaseError);
    small->setAsFloat(2.0);
    EXPECT_EQ(small->AsInteger(), 2);

    TField* d = ds.Fields(1);
    for (const char* in : {"2021/7/4 9:08:07", "2021-07-04 09:08:07", "2021-07-04T09:08:07"}) {
        d->setAsString(QString::fromUtf8(in));
        EXPECT_EQ(d->DisplayText(), "2021/7/4 9:08:07") << in;
    }
    d->setAsString("2021/7/4");
    EXPECT_EQ(d->DisplayText(), "2021/7/4");
    EXPECT_THROW(d->setAsString("yesterday"), EDatabaseError);
    d->setAsDateTime(QDateTime(QDate(1999, 12, 31), QTime(23, 0)));
    EXPECT_EQ(d->DisplayText(), "1999/12/31 23:00:00");

    ds.Fields(2)->setAsString("true");
    EXPECT_TRUE(ds.Fields(2)->AsBoolean());
    ds.Fields(3)->setAsString("-12.3456");
    EXPECT_EQ(ds.Fields(3)->Value(), jet::Value(jet::Currency{-123456}));
    EXPECT_THROW(ds.Fields(3)->setAsString("1.23456"), EDatabaseError);
    ds.Fields(4)->setAsString("1234567890123456");
    EXPECT_EQ(ds.Fields(4)->DisplayText(), "1234567890123456");
    EXPECT_THROW(ds.Fields(4)->setAsString("12345678901234567"), EDatabaseError);
    EXPECT_THROW(ds.Fields(4)->setAsString("1.5"), EDatabaseError);  // scale 0

    ds.Fields(5)->setAsInteger(12345);  // numbers become text in text fields
    EXPECT_EQ(ds.Fields(5)->AsString(), "12345");
    EXPECT_THROW(ds.Fields(5)->setAsInteger(123456), EDatabaseError);
    ds.Fields(5)->setAsString("");
    EXPECT_FALSE(ds.Fields(5)->IsNull());  // text fields keep an empty text
    ds.Fields(5)->Clear();
    EXPECT_TRUE(ds.Fields(5)->IsNull());
}

TEST(FieldConversion, AutoNumberIsReadOnly)
{
    MemoryADODataSet ds;
    ds.defs = {field("id", ftAutoInc)};
    ds.rows = {{number(1)}};
    ds.Open();
    ds.Edit();
    EXPECT_TRUE(ds.Fields(0)->ReadOnly());
    EXPECT_THROW(ds.Fields(0)->setAsInteger(5), EDatabaseError);
}

TEST(FieldConversion, DefaultDisplayWidths)
{
    MemoryADODataSet ds;
    ds.defs = {field("s", ftWideString, 40), field("i", ftInteger),
               field("d", ftDateTime)};
    ds.Open();
    EXPECT_EQ(ds.Fields(0)->DisplayWidth(), 40);
    EXPECT_EQ(ds.Fields(1)->DisplayWidth(), 11);
    EXPECT_GE(ds.Fields(2)->DisplayWidth(), int(QStringLiteral("2024/12/31 23:59:59").size()) - 1);
    EXPECT_EQ(ds.Fields(0)->DisplayLabel(), "s");
    ds.Fields(0)->setDisplayLabel("序列号");
    EXPECT_EQ(ds.Fields(0)->DisplayLabel(), "序列号");
}

} // namespace
