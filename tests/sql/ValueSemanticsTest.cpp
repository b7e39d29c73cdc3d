// Jet's value semantics as the SQL layer implements them: date literals,
// conversion of literals into column types and ordering.
#include "jet/TableDef.h"
#include "sql/DateLiteral.h"
#include "sql/SortKeys.h"
#include "sql/ValueConversion.h"
#include "sql/ValueOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace {

TEST(DateLiteral, ReadsTheFormsJetAcceptsInSql)
{
    struct Case {
        const char* text;
        const char* iso; // null: refused
    };
    const Case cases[] = {
        {"2024-01-31", "2024-01-31 00:00:00"},
        {"2024/1/31", "2024-01-31 00:00:00"},
        {"1/31/2024", "2024-01-31 00:00:00"},       // month first
        {" 1/31/2024 10:00:00 ", "2024-01-31 10:00:00"},
        {"2024-01-31 10:05", "2024-01-31 10:05:00"},
        {"1/31/2024 10:00 PM", "2024-01-31 22:00:00"},
        {"1/31/2024 12:30:15 am", "2024-01-31 00:30:15"},
        {"2/29/2024", "2024-02-29 00:00:00"},
        {"12/31/99", "1999-12-31 00:00:00"},         // two-digit years
        {"1/1/29", "2029-01-01 00:00:00"},
        {"13:45", "1899-12-30 13:45:00"},            // a time alone
        {"1/31/1800", "1800-01-31 00:00:00"},        // before the epoch
        {"2024-13-01", nullptr},
        {"2/29/2023", nullptr},
        {"31/1/2024", nullptr},
        {"2024-01-31 24:00", nullptr},
        {"2024-01-31 10:60", nullptr},
        {"1/31/2024 13:00 PM", nullptr},
        {"2024-01", nullptr},
        {"2024-01-31x", nullptr},
        {"yesterday", nullptr},
        {"", nullptr},
        {"1/31/10000", nullptr},
    };
    for (const Case& c : cases) {
        auto d = sql::DateLiteral::parse(c.text);
        if (c.iso) {
            ASSERT_TRUE(d) << c.text;
            EXPECT_EQ(jet::formatIsoDateTime(*d), c.iso) << c.text;
        } else {
            EXPECT_FALSE(d) << c.text << " read as " << jet::formatIsoDateTime(*d);
        }
    }
}

jet::ColumnDef column(jet::ColumnType type, uint16_t length = 0, bool nullable = true, uint8_t precision = 0,
                      uint8_t scale = 0)
{
    jet::ColumnDef c;
    c.type = type;
    c.length = length;
    c.flags = nullable ? jet::kColumnNullable : 0;
    c.precision = precision;
    c.scale = scale;
    c.utf8Name = "c";
    return c;
}

jet::Decimal decimal(const std::string& digits, int scale, bool negative = false)
{
    jet::Decimal d;
    EXPECT_TRUE(sql::ValueConversion::decimalFromDigits(digits, scale, negative, d));
    return d;
}

std::string shown(const jet::Value& v)
{
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
    if (auto* d = std::get_if<jet::Decimal>(&v)) return jet::decimalToString(*d);
    if (auto* c = std::get_if<jet::Currency>(&v)) return jet::currencyToString(*c);
    if (auto* d = std::get_if<double>(&v)) return std::to_string(*d);
    if (auto* s = std::get_if<std::u16string>(&v)) return jet::toUtf8(*s);
    if (jet::isNull(v)) return "null";
    return "?";
}

TEST(ValueConversion, StoresLiteralsAsTheColumnsTypeOrSaysWhyNot)
{
    using T = jet::ColumnType;
    struct Case {
        jet::Value value;
        jet::ColumnDef target;
        const char* stored;  // null: refused
        const char* error;   // part of the message when refused
    };
    const Case cases[] = {
        {int64_t(255), column(T::Byte), "255", nullptr},
        {int64_t(256), column(T::Byte), nullptr, "Overflow"},
        {int64_t(-1), column(T::Byte), nullptr, "Overflow"},
        {int64_t(-32768), column(T::Integer), "-32768", nullptr},
        {int64_t(32768), column(T::Integer), nullptr, "Overflow"},
        {int64_t(2147483647), column(T::Long), "2147483647", nullptr},
        {int64_t(-2147483649LL), column(T::Long), nullptr, "Overflow"},
        // Fractions round half to even, whether written as decimals or doubles.
        {decimal("25", 1), column(T::Long), "2", nullptr},
        {decimal("35", 1), column(T::Long), "4", nullptr},
        {decimal("25", 1, true), column(T::Long), "-2", nullptr},
        {decimal("251", 2), column(T::Long), "3", nullptr},
        {decimal("24", 1), column(T::Integer), "2", nullptr},
        {2.5, column(T::Long), "2", nullptr},
        {3.5, column(T::Long), "4", nullptr},
        {decimal("123456", 5), column(T::Currency), "1.2346", nullptr},
        {decimal("123445", 5), column(T::Currency), "1.2344", nullptr},
        {decimal("99995", 1), column(T::Integer), "10000", nullptr},
        {int64_t(7), column(T::Currency), "7", nullptr},
        {decimal("123456", 3), column(T::Numeric, 17, true, 5, 2), "123.46", nullptr},
        {decimal("12345", 1), column(T::Numeric, 17, true, 5, 2), nullptr, "Overflow"},
        {int64_t(-42), column(T::Numeric, 17, true, 18, 0), "-42", nullptr},
        {decimal("9999999999999999", 0), column(T::Numeric, 17, true, 16, 0), "9999999999999999", nullptr},
        {int64_t(0), column(T::Boolean), "false", nullptr},
        {int64_t(-1), column(T::Boolean), "true", nullptr},
        {true, column(T::Long), "-1", nullptr},
        {std::u16string(u"abc"), column(T::Text, 6), "abc", nullptr},
        {std::u16string(u"abcd"), column(T::Text, 6), nullptr, "too small to accept"},
        {std::u16string(u"长文本也可以"), column(T::Memo), "长文本也可以", nullptr},
        {std::u16string(u"1"), column(T::Long), nullptr, "Data type mismatch: a text cannot be stored in the number field"},
        {int64_t(1), column(T::Text, 100), nullptr, "Data type mismatch"},
        {jet::DateTime{45000}, column(T::Long), nullptr, "Data type mismatch"},
        {std::monostate{}, column(T::Long), "null", nullptr},
        {std::monostate{}, column(T::Long, 4, false), nullptr, "cannot contain a Null value"},
        {std::monostate{}, column(T::Boolean), "false", nullptr},
    };
    for (const Case& c : cases) {
        sql::ValueConversion::Result r = sql::ValueConversion::toColumn(c.value, c.target, "t");
        std::string what = shown(c.value) + " into " + jet::columnTypeName(c.target.type);
        if (c.stored) {
            EXPECT_EQ(r.error, "") << what;
            EXPECT_EQ(shown(r.value), c.stored) << what;
        } else {
            EXPECT_NE(r.error.find(c.error), std::string::npos) << what << ": " << r.error;
            EXPECT_NE(r.error.find("'t.c'"), std::string::npos) << r.error;
        }
    }
}

TEST(ValueOrder, ComparesAcrossNumberRepresentationsAndKeysEqualValuesAlike)
{
    using sql::ValueClass;
    using sql::ValueOrder;
    const jet::Value one = int64_t(1), oneReal = 1.0, oneCurrency = jet::Currency{10000};
    const jet::Value oneDecimal = decimal("100", 2), yes = true, big = int64_t(9007199254740993LL);
    EXPECT_EQ(ValueOrder::compare(one, oneReal, ValueClass::Number), 0);
    EXPECT_EQ(ValueOrder::compare(one, oneCurrency, ValueClass::Number), 0);
    EXPECT_EQ(ValueOrder::compare(one, oneDecimal, ValueClass::Number), 0);
    EXPECT_LT(ValueOrder::compare(yes, one, ValueClass::Number), 0); // Yes is -1
    // Whole numbers beyond a double's precision still compare exactly.
    EXPECT_GT(ValueOrder::compare(big, jet::Value{int64_t(9007199254740992LL)}, ValueClass::Number), 0);
    // A decimal meets a double as its nearest double: 1385042.8862064766 once
    // compared unequal to the literal 1.3850428862064766e6 (dividing by ten
    // digit by digit ended one unit off in the last place).
    EXPECT_EQ(ValueOrder::compare(decimal("13850428862064766", 10), jet::Value{1.3850428862064766e6}, ValueClass::Number), 0);
    EXPECT_EQ(ValueOrder::equalityKey(one, ValueClass::Number), ValueOrder::equalityKey(oneReal, ValueClass::Number));
    EXPECT_EQ(ValueOrder::equalityKey(std::u16string(u"Abc"), ValueClass::Text),
              ValueOrder::equalityKey(std::u16string(u"aBC "), ValueClass::Text));
    // A date before 1899-12-30 counts its days backwards but its time forwards.
    jet::DateTime earlyMorning = jet::fromCivil({1899, 12, 29, 6, 0, 0});
    jet::DateTime evening = jet::fromCivil({1899, 12, 29, 18, 0, 0});
    EXPECT_LT(ValueOrder::compare(earlyMorning, evening, ValueClass::Date), 0);
    EXPECT_LT(ValueOrder::compare(evening, jet::DateTime{0}, ValueClass::Date), 0);
}

// The compact sort keys order rows as a plain stable sort by ValueOrder does.
TEST(SortKeys, OrderLikeAStableSortOfTheValues)
{
    std::mt19937 random(11);
    const std::u16string words[] = {u"apple", u"Apple", u"APPLE  ", u"banana", u"ápple", u"b", u"", u"长", u"USBK-0001",
                                    u"USBK-0002", u"usbk0001"};
    auto randomValue = [&](int kind) -> jet::Value {
        if (random() % 7 == 0) return std::monostate{};
        switch (kind) {
        case 0: {
            int64_t i = int64_t(random() % 9) - 4;
            return random() % 2 ? jet::Value{i} : jet::Value{double(i) + (random() % 2 ? 0.5 : 0.0)};
        }
        case 1: return words[random() % std::size(words)];
        default: return jet::DateTime{double(int(random() % 5)) - 2 + (random() % 4) / 4.0};
        }
    };
    const sql::ValueClass classes[] = {sql::ValueClass::Number, sql::ValueClass::Text, sql::ValueClass::Date};

    for (int round = 0; round < 60; ++round) {
        size_t keyCount = 1 + random() % 3;
        std::vector<sql::SortKeys::Key> spec;
        std::vector<int> kinds;
        for (size_t k = 0; k < keyCount; ++k) {
            kinds.push_back(int(random() % 3));
            spec.push_back({classes[kinds.back()], random() % 2 == 0});
        }
        size_t rowCount = round < 3 ? 200 : random() % 300;
        std::vector<std::vector<jet::Value>> rows(rowCount);
        for (auto& row : rows)
            for (size_t k = 0; k < keyCount; ++k) row.push_back(randomValue(kinds[k]));
        if (round == 0) std::sort(rows.begin(), rows.end(), [](auto&, auto&) { return false; }); // as generated
        if (round == 1 || round == 2) {
            // Already in key order, or in exactly the reverse of it.
            std::vector<std::vector<jet::Value>> ints;
            for (size_t i = 0; i < rowCount; ++i) ints.push_back(std::vector<jet::Value>(keyCount, int64_t(i)));
            rows = ints;
            spec.assign(keyCount, {sql::ValueClass::Number, round == 2});
            kinds.assign(keyCount, 0);
        }

        sql::SortKeys keys(spec);
        for (const auto& row : rows) {
            std::vector<const jet::Value*> pointers;
            for (const auto& v : row) pointers.push_back(&v);
            keys.add(pointers);
        }
        std::vector<uint32_t> expected(rowCount);
        std::iota(expected.begin(), expected.end(), 0u);
        std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
            for (size_t k = 0; k < keyCount; ++k) {
                const jet::Value& x = rows[a][k];
                const jet::Value& y = rows[b][k];
                int r = jet::isNull(x) || jet::isNull(y) ? int(!jet::isNull(x)) - int(!jet::isNull(y))
                                                          : sql::ValueOrder::compare(x, y, spec[k].valueClass);
                if (r != 0) return spec[k].descending ? r > 0 : r < 0;
            }
            return false;
        });
        ASSERT_EQ(keys.order(), expected) << "round " << round;
    }
}

} // namespace
