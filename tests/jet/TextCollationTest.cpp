// The order of texts (Jet's General sort order over whole texts), which the
// SQL layer and the datasets both take from jet::TextCollation.
#include "jet/TextCollation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using jet::TextCollation;

TEST(TextCollation, OrdersAsJetDoes)
{
    EXPECT_EQ(TextCollation::compare(u"ADMIN", u"admin"), 0);
    EXPECT_EQ(TextCollation::compare(u"admin  ", u"Admin"), 0);
    EXPECT_NE(TextCollation::compare(u" admin", u"admin"), 0);
    EXPECT_NE(TextCollation::compare(u"resume", u"résumé"), 0);
    // Letters first, accents next, ignorable characters (the hyphen) last:
    // ä, ab, ac, a-c, B = b, as `order by` in Access lists them.
    const std::vector<std::u16string> ascending = {u"a", u"ä", u"ab", u"ac", u"a-c", u"B", u"é", u"f"};
    for (size_t i = 0; i + 1 < ascending.size(); ++i)
        EXPECT_LT(TextCollation::compare(ascending[i], ascending[i + 1]), 0)
            << i << ": " << jet::toUtf8(ascending[i]) << " < " << jet::toUtf8(ascending[i + 1]);
    EXPECT_EQ(TextCollation::compare(u"b", u"B"), 0);
    EXPECT_LT(TextCollation::compare(u"ab", u"abc"), 0);
    // Memos: a difference after the first 255 characters still counts.
    std::u16string long1(300, u'x'), long2(300, u'x');
    long2[280] = u'y';
    EXPECT_LT(TextCollation::compare(long1, long2), 0);
}

// Sorting many texts by their prefixes gives the order of their keys: a
// prefix decides where it differs, and equal prefixes of keys that end
// within them mean equal texts.
TEST(TextCollation, PrefixesOrderAsTheKeys)
{
    const std::u16string longer(40, u'k');
    const std::vector<std::u16string> texts = {
        u"", u"a", u"A", u"ä", u"ab", u"a-c", u"usbk-00000001", u"USBK-00000002", u"usbk-000000010",
        longer, longer + u"a", longer + u"b", longer + u"-", u"锁", u"漢字仮名交じり文", std::u16string(300, u'x'),
        std::u16string(300, u'x') + u"y"};
    for (const auto& a : texts) {
        const TextCollation::Prefix pa = TextCollation::prefix(a);
        EXPECT_EQ(pa.length, TextCollation::key(a).size()) << jet::toUtf8(a);
        for (const auto& b : texts) {
            const TextCollation::Prefix pb = TextCollation::prefix(b);
            const int byKeys = TextCollation::compare(a, b);
            SCOPED_TRACE(jet::toUtf8(a) + " / " + jet::toUtf8(b));
            if (pa.high != pb.high || pa.low != pb.low) {
                const bool less = pa.high != pb.high ? pa.high < pb.high : pa.low < pb.low;
                EXPECT_EQ(less, byKeys < 0);
            } else if (pa.length <= 16 && pb.length <= 16) {
                EXPECT_EQ(byKeys, 0);
            }
        }
    }
}
