#include "jet/TextCodec.h"
#include "jet/Value.h"

#include <gtest/gtest.h>

using namespace jet;

TEST(TextCodec, RoundTripsWithAndWithoutCompression)
{
    const std::u16string cases[] = {u"", u"admin", u"ääkkösiä", u"Мир", u"密钥制作信息", u"a密b钥cd", u"x\u0100y"};
    for (const auto& text : cases) {
        for (bool allow : {false, true}) {
            std::vector<uint8_t> bytes = encodeText(text, allow);
            EXPECT_EQ(decodeText(bytes.data(), bytes.size()), text) << toUtf8(text) << " allow=" << allow;
            EXPECT_LE(bytes.size(), text.size() * 2);
        }
    }
}

TEST(TextCodec, CompressesOnlyWhenEveryLowByteIsNonZero)
{
    // U+0100 has a zero low byte, which would read as a mode switch.
    EXPECT_EQ(encodeText(u"ab\u0100", true).size(), 6u);
    auto packed = encodeText(u"abc", true);
    EXPECT_EQ(packed, (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
}
