#include "jet/TextCoding.h"

#include "jet/TextCodec.h"

#include <array>
#include <memory>

namespace jet {

namespace {

constexpr uint16_t kWestern = 1252;
constexpr uint16_t kSimplifiedChinese = 936;
constexpr char16_t kReplacement = 0xFFFD;
// Windows gives the lone byte 0xFF of code page 936 this private character.
constexpr char16_t kCp936SingleFF = 0xF8F5;

// Code page 1252 differs from Latin-1 in 0x80..0x9F. The five bytes it
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as the control
// characters of the same number, as Windows reads them; Access 97 files hold
// them and index them by those characters.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 936: lead bytes 0x81..0xFE with trail bytes 0x40..0xFE (not 0x7F).
constexpr uint16_t kCp936Pairs[] = {
#include "jet/Cp936Table.inc"
};
constexpr size_t kTrailCount = 0xFF - 0x40;

char16_t cp1252ToUnicode(uint8_t b) { return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b); }

// Reverse maps, built on first use: a character to its bytes (one byte
// below 0x100, else lead << 8 | trail), 0 for none.
const std::array<uint16_t, 0x10000>& reverseMap(uint16_t codePage)
{
    auto build = [](uint16_t cp) {
        auto map = std::make_unique<std::array<uint16_t, 0x10000>>();
        map->fill(0);
        for (unsigned b = 1; b < 0x80; ++b) (*map)[b] = uint16_t(b);
        if (cp == kWestern) {
            for (unsigned b = 0x80; b < 0x100; ++b) (*map)[cp1252ToUnicode(uint8_t(b))] = uint16_t(b);
        } else {
            (*map)[0x20AC] = 0x80;
            (*map)[kCp936SingleFF] = 0xFF;
            for (size_t i = 0; i < std::size(kCp936Pairs); ++i)
                if (kCp936Pairs[i] && !(*map)[kCp936Pairs[i]])
                    (*map)[kCp936Pairs[i]] = uint16_t(((0x81 + i / kTrailCount) << 8) | (0x40 + i % kTrailCount));
        }
        return map;
    };
    static const std::unique_ptr<std::array<uint16_t, 0x10000>> western = build(kWestern);
    static const std::unique_ptr<std::array<uint16_t, 0x10000>> chinese = build(kSimplifiedChinese);
    return codePage == kWestern ? *western : *chinese;
}

} // namespace

const TextCoding& TextCoding::unicode()
{
    static const TextCoding coding(0);
    return coding;
}

const TextCoding* TextCoding::forCodePage(uint16_t codePage)
{
    static const TextCoding western(kWestern);
    static const TextCoding chinese(kSimplifiedChinese);
    if (codePage == kWestern || codePage == 0) return &western;
    if (codePage == kSimplifiedChinese) return &chinese;
    return nullptr;
}

size_t TextCoding::decodeTo(const uint8_t* data, size_t n, char16_t* out) const
{
    if (isUnicode()) return decodeTextTo(data, n, out);
    size_t k = 0;
    if (codePage_ == kWestern) {
        for (size_t i = 0; i < n; ++i) out[k++] = cp1252ToUnicode(data[i]);
        return k;
    }
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        if (b < 0x80) {
            out[k++] = char16_t(b);
        } else if (b == 0x80) {
            out[k++] = 0x20AC;
        } else if (b == 0xFF) {
            out[k++] = kCp936SingleFF;
        } else if (b < 0xFF && i + 1 < n && data[i + 1] >= 0x40 && data[i + 1] < 0xFF && data[i + 1] != 0x7F) {
            char16_t c = char16_t(kCp936Pairs[(b - 0x81) * kTrailCount + (data[i + 1] - 0x40)]);
            out[k++] = c ? c : kReplacement;
            ++i;
        } else {
            out[k++] = kReplacement;
        }
    }
    return k;
}

void TextCoding::decodeInto(const uint8_t* data, size_t n, std::u16string& out) const
{
    out.resize(n);
    out.resize(decodeTo(data, n, out.data()));
}

std::u16string TextCoding::decode(const uint8_t* data, size_t n) const
{
    std::u16string out;
    decodeInto(data, n, out);
    return out;
}

bool TextCoding::encode(const std::u16string& text, bool allowCompression, Bytes& bytes) const
{
    if (isUnicode()) {
        bytes = encodeText(text, allowCompression);
        return true;
    }
    const std::array<uint16_t, 0x10000>& map = reverseMap(codePage_);
    bytes.clear();
    bytes.reserve(text.size());
    for (char16_t c : text) {
        uint16_t code = c == 0 ? 0 : map[c];
        if (c != 0 && code == 0) return false;
        if (code > 0xFF) bytes.push_back(uint8_t(code >> 8));
        bytes.push_back(uint8_t(code));
    }
    return true;
}

} // namespace jet
