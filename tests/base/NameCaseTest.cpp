// Names compared ignoring case, by one rule in every layer.
#include "base/NameCase.h"

#include <gtest/gtest.h>

namespace {

using base::NameCase;

TEST(NameCase, EqualNamesUnderSimpleCaseFolding)
{
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"USBKEY_SERIAL", "usbkey_serial", true},
        {"id", "ID ", false},                      // spaces count
        {"ÄPFEL", "äpfel", true},                   // Latin-1
        {"ΣΟΦΊΑ", "σοφία", true},                   // Greek
        {"ΟΔΟΣ", "οδος", true},                     // final sigma folds like sigma
        {"МИР", "мир", true},                       // Cyrillic
        {"\u212A", "k", false},                     // Kelvin sign: Jet keeps it apart
        {"\u00B5", "\u03BC", false},                // micro sign and mu, likewise
        {"STRASSE", "straße", false},               // simple folding: ß is not "ss"
        {"\u0110", "\u0111", true},                 // Đ đ
        {"İ", "i", false},                          // dotted capital I has no simple folding
        {"I", "ı", false},                          // nor dotless i
        {"钥匙", "钥匙", true},
        {"钥匙", "钥", false},
        {"a\xFF", "A\xFF", true},                   // malformed bytes compare as U+FFFD
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameCase::equalUtf8(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(NameCase::equalUtf8(c.b, c.a), c.equal) << c.b << " / " << c.a;
        EXPECT_EQ(NameCase::foldUtf8(c.a) == NameCase::foldUtf8(c.b), c.equal) << c.a << " / " << c.b;
    }
}

TEST(NameCase, FoldsEveryUnitToAUnitThatFoldsToItself)
{
    for (char32_t c = 0; c < 0x10000; ++c) {
        const char16_t folded = NameCase::fold(char16_t(c));
        ASSERT_EQ(NameCase::fold(folded), folded) << std::hex << uint32_t(c);
        if (c >= 0xD800 && c <= 0xDFFF) {
            ASSERT_EQ(folded, c);
        }
    }
    EXPECT_EQ(NameCase::fold(std::u16string_view(u"Ab\U0001F600")), u"ab\U0001F600");
}

} // namespace
