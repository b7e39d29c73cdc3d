// Names that the program holds equal, Jet holds equal too: a table or column
// the program finds by name is the one Jet would find.
#include "base/NameCase.h"
#include "jet/GeneralSortOrder.h"

#include <gtest/gtest.h>

namespace {

TEST(NameCase, FoldsOnlyWhereJetsSortOrderSeesTheSameLetter)
{
    int folded = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        const char16_t unit = char16_t(c), fold = base::NameCase::fold(unit);
        if (fold == unit) continue;
        ++folded;
        // After another letter, so that a character without weight is not
        // compared as an empty key.
        ASSERT_EQ(jet::encodeGeneralText(std::u16string{u'a', unit}), jet::encodeGeneralText(std::u16string{u'a', fold}))
            << std::hex << uint32_t(c) << " folds to " << uint32_t(fold);
    }
    EXPECT_GT(folded, 1000); // Latin, Greek, Cyrillic, Armenian, fullwidth ...
}

} // namespace
