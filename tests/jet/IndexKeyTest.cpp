// Index key encodings, each one a key that Access wrote into one of the
// Access-made test files: the encoder must give exactly those bytes, and the
// file's index must hold them (so that the table itself is right).
#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/IndexKey.h"
#include "jet/IndexTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

using namespace jet;

namespace {

struct KeyCase {
    const char* what;
    const char* file; // the Access-made file holding the key; nullptr: not one of ours
    const char* table;
    size_t index; // physical index number, as `jetdb index` counts
    std::vector<Value> values;
    std::vector<IndexKeyColumn> columns;
    const char* key; // hex, blanks between bytes
};

Bytes fromHex(const std::string& hex)
{
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const Bytes& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Value text(const char16_t* s) { return std::u16string(s); }
DateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return fromCivil(CivilTime{year, month, day, hour, minute, second, 0});
}

const IndexKeyColumn kText{ColumnType::Text, true};
const IndexKeyColumn kLong{ColumnType::Long, true};
const IndexKeyColumn kLongDescending{ColumnType::Long, false};
const IndexKeyColumn kDate{ColumnType::DateTime, true};

const char* const kUsers = "fixedTextTestV2003.mdb";
const char* const kUnicode = "testUnicodeCompV2003.mdb";

// Access 2010 and later: the second version of General, extended dates,
// complex columns' keys.
const IndexKeyColumn kText2010{ColumnType::Text, true, TextKeyOrder::General2010};
const IndexKeyColumn kExtended{ColumnType::ExtDateTime, true};
const IndexKeyColumn kExtendedDescending{ColumnType::ExtDateTime, false};
const IndexKeyColumn kComplex{ColumnType::Complex, true};
const char* const kUsers2010 = "fixedTextTestV2010.accdb";
// Keys Access 2019 stored for extended dates (the file is not ours to keep).
const char* const kExtendedDates = nullptr;

const std::vector<KeyCase>& cases()
{
    static const std::vector<KeyCase> table = {
        // Text in the General sort order: letters by primary weight, case
        // ignored, a blank between words, 01 then 00 at the end.
        {"lower case", kUsers, "users", 0, {text(u"admin")}, {kText}, "7f 4a 4f 60 59 62 01 00"},
        {"upper case, as lower", kUsers, "users", 0, {text(u"ADMIN")}, {kText}, "7f 4a 4f 60 59 62 01 00"},
        {"trailing blanks ignored", kUsers, "users", 0, {text(u"admin  ")}, {kText}, "7f 4a 4f 60 59 62 01 00"},
        {"capitals with a blank", kUsers, "users", 0, {text(u"CORE USER")}, {kText},
         "7f 4d 64 69 51 07 6f 6b 51 69 01 00"},
        {"mixed case, another index, same key", kUsers, "users", 2, {text(u"Core User")}, {kText},
         "7f 4d 64 69 51 07 6f 6b 51 69 01 00"},
        {"hyphen ignorable, in its own section", kUsers, "users", 1, {text(u"-1")}, {kText},
         "7f 38 01 01 01 01 80 07 06 82 00"},
        {"one letter", kUsers, "users", 3, {text(u"N")}, {kText}, "7f 62 01 00"},
        {"plain text", kUnicode, "Table", 1, {text(u"only ascii chars")}, {kText},
         "7f 64 62 5e 76 07 4a 6b 4d 59 59 07 4d 57 4a 69 6b 01 00"},
        // Accents: base letter weights, then one diacritic byte per letter.
        {"accents", kUnicode, "Table", 1, {text(u"ääkkösiä")}, {kText},
         "7f 4a 4a 5c 5c 64 6b 59 4a 01 13 13 02 02 13 02 02 13 00"},
        {"accent on the first letter only", kUnicode, "Table", 1, {text(u"ümlaut")}, {kText},
         "7f 6f 60 5e 4a 6f 6d 01 13 00"},
        {"Cyrillic, two-byte weights", kUnicode, "Table", 1, {text(u"Мир")}, {kText}, "7f 79 43 79 3b 79 48 01 00"},
        {"Greek with accents and an apostrophe", kUnicode, "Table", 1,
         {text(u"\u03F0\u03B1\u1F76 \u03C4\u1F79\u03C4' \u1F10\u03B3\u1F7C "
               u"\u039A\u1F7B\u03F0\u03BB\u03C9\u03C0\u03B1")},
         {kText},
         "7f 79 15 79 0c 07 79 1e 79 1e 07 79 0e 07 79 15 79 15 79 16 79 23 79 1b 79 0c "
         "01 03 02 02 02 02 02 02 02 02 03 01 01 01 80 1b 06 80 00"},
        {"CJK with kana (kana section)", kUnicode, "Table", 1, {text(u"漢字仮名交じり文")}, {kText},
         "7f c0 b6 ac ac a0 0d a5 47 9f be 7f 13 7f 43 b6 f6 01 02 02 02 02 02 03 01 01 ff 02 80 ff 80 00"},
        {"control characters ignorable", kUnicode, "Table", 1,
         {text(u"3L9\x1d" u"52\x02" u"_AB(¥\x05" u"!!V")}, {kText},
         "7f 3c 5e 48 40 3a 2b 03 4a 4c 14 34 a9 09 09 71 01 01 01 01 80 13 06 1a 80 1b 06 04 80 2f 06 07 00"},
        // Numbers: big-endian with the sign bit flipped; descending inverts.
        {"long 1", kUsers, "users", 5, {int64_t(1)}, {kLong}, "7f 80 00 00 01"},
        {"long 2", kUsers, "users", 5, {int64_t(2)}, {kLong}, "7f 80 00 00 02"},
        {"long descending", "compIndexTestV2003.mdb", "Table1", 0, {int64_t(4813)}, {kLongDescending},
         "80 7f ff ed 32"},
        {"long descending, next", "compIndexTestV2003.mdb", "Table1", 0, {int64_t(4812)}, {kLongDescending},
         "80 7f ff ed 33"},
        // Dates: the IEEE double of the day count, sign bit flipped.
        {"date and time", kUsers, "users", 4, {at(2009, 10, 22, 3, 57, 13)}, {kDate}, "7f c0 e3 95 85 45 7f cf 74"},
        {"later date", kUsers, "users", 4, {at(2009, 11, 5, 23, 41, 28)}, {kDate}, "7f c0 e3 97 5f 96 90 e0 85"},
        // The second version of General: the same layout, two-byte weights
        // for letters (case still ignored), surrogate pairs as in the first.
        {"2010: lower case", kUsers2010, "users", 0, {text(u"admin")}, {kText2010}, "7f 0e 02 0e 1a 0e 51 0e 32 0e 70 01 00"},
        {"2010: capitals with a blank", kUsers2010, "users", 0, {text(u"CORE USER")}, {kText2010},
         "7f 0e 0a 0e 7c 0e 8a 0e 21 07 02 0e 9f 0e 91 0e 21 0e 8a 01 00"},
        {"2010: hyphen ignorable", kUsers2010, "users", 1, {text(u"-1")}, {kText2010}, "7f 0d 19 01 01 01 01 80 07 06 82 00"},
        {"2010: a character beyond the BMP", "testEmoticonsV2010.accdb", "data", 0, {text(u"a\U0001F600a")}, {kText2010},
         "7f 0e 02 b0 3f b6 fc 0e 02 01 02 3f 3f 00"},
        // Extended dates: the stored digits in 8-byte segments after 09;
        // descending inverts all but the 09s.
        {"extended date", kExtendedDates, "Table1", 0, {text(u"0100-06-14 12:45:00.1234567")}, {kExtended},
         "7f 30 30 30 30 30 30 30 30 09 30 30 30 30 30 30 33 36 09 33 32 33 3a 30 30 30 30 09 30 30 30 34 35 39 30 30 09 "
         "31 32 33 34 35 36 37 3a 09 37 00 00 00 00 00 00 00 02"},
        {"extended date, descending", kExtendedDates, "Table1", 1, {text(u"2021-06-14 12:45:00.0000000")},
         {kExtendedDescending},
         "80 cf cf cf cf cf cf cf cf 09 cf cf cf cf cf c8 cc c8 09 c6 ca cb c5 cf cf cf cf 09 cf cf cf cb ca c6 cf cf 09 "
         "cf cf cf cf cf cf cf c5 09 c8 ff ff ff ff ff ff ff fd"},
        {"complex column's key", "complexDataTestV2007.accdb", "Table1", 0, {int64_t(2)}, {kComplex}, "7f 80 00 00 02"},
        // Two columns: each part with its own flag byte.
        {"long and text", kUsers, "MSysObjects", 0, {int64_t(0x0F000000), text(u"Forms")}, {kLong, kText},
         "7f 8f 00 00 00 7f 53 64 69 60 6b 01 00"},
    };
    return table;
}

} // namespace

TEST(IndexKey, EncodesAsAccessDid)
{
    for (const KeyCase& c : cases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(toHex(encodeIndexKey(c.values, c.columns)), toHex(fromHex(c.key)));
    }
}

TEST(IndexKey, TableHoldsKeysOfTheAccessMadeFiles)
{
    for (const KeyCase& c : cases()) {
        if (!c.file) continue;
        SCOPED_TRACE(c.what);
        auto db = Database::open(testsupport::testData(c.file));
        Table& table = db->table(c.table);
        ASSERT_LT(c.index, table.def().realIndexes.size());
        IndexTree tree(db->pager(), table.def(), table.def().realIndexes[c.index], table.location());
        const std::vector<IndexEntry> entries = tree.entries();
        const Bytes key = fromHex(c.key);
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const IndexEntry& e) { return e.key == key; }))
            << c.file << " " << c.table << " index " << c.index << " has no key " << c.key;
    }
}
