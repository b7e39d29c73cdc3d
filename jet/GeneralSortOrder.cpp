#include "jet/GeneralSortOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace jet {
namespace {

// What a character contributes to an encoded text value.
enum Kind : uint8_t {
    Sp,   // plain: primary weight only
    Ac,   // accented: primary weight and a diacritic weight
    Ct,   // ignorable (control, apostrophe, hyphen): recorded in the ignorable section
    Md,   // combining mark: modifies the previous diacritic weight
    Kn,   // kana: primary weight, optional diacritic weight (voicing), "normal" kana flag
    Ks,   // small kana: as Kn with the "small" flag
};

// A run of consecutive UTF-16 code units [first, last]. The weight of the code
// unit first + i is `weight` advanced by i * step (see advanceWeight). Weights
// are big-endian byte strings (one to eight bytes) held in the low bytes of
// the integer; no weight byte is ever 0x00, so the length is implied by the
// magnitude. For Ct and Md the weight is the one-byte ignorable code /
// modifier. Diacritic weights (one to three bytes) are held alike.
struct SortRange {
    char16_t first;
    char16_t last;
    Kind kind;
    uint8_t step;
    uint64_t weight;
    uint32_t diacritic;   // 0 = none
};

// The first version of the General sort order (Jet 4, "General - Legacy")
// and the second (Access 2010 and later): the same encoding, other weights.
constexpr SortRange kLegacyRanges[] = {
#include "jet/GeneralSortOrderTable.inc"
};
constexpr SortRange k2010Ranges[] = {
#include "jet/General2010SortOrderTable.inc"
};

// The byte strings of longer weights run with the last byte from 0x02 to
// 0xFF and then carry into the bytes before; one-byte weights simply count.
constexpr uint64_t advanceWeight(uint64_t weight, uint64_t n)
{
    if (n == 0 || weight <= 0xFF) return weight + n;
    uint64_t ordinal = (weight >> 8) * 254 + ((weight & 0xFF) - 2) + n;
    return (ordinal / 254) << 8 | (ordinal % 254 + 2);
}

struct CharWeight {
    bool weighted = false;   // false: the character is ignored
    Kind kind = Sp;
    uint64_t weight = 0;
    uint32_t diacritic = 0;
};

template <size_t N>
constexpr CharWeight searchRanges(const SortRange (&ranges)[N], char16_t c)
{
    // Surrogate halves are not in the tables: in both versions their weights
    // follow fixed offsets, and each carries the diacritic weight 0x3F.
    if (c >= 0xD800 && c <= 0xDBFF) return {true, Ac, uint64_t(c) - 10238u, 0x3F};
    if (c >= 0xDC00 && c <= 0xDFFF) {
        uint32_t pos = c - 0xDC00u;
        uint32_t offset = pos < 8 ? 9992 : pos < 262 ? 9990 : pos < 516 ? 9988 : pos < 770 ? 9986 : 9984;
        return {true, Ac, uint64_t(c) - offset, 0x3F};
    }
    auto it = std::upper_bound(std::begin(ranges), std::end(ranges), c,
                               [](char16_t ch, const SortRange& r) { return ch < r.first; });
    if (it == std::begin(ranges)) return {};
    const SortRange& r = *std::prev(it);
    if (c > r.last) return {};
    return {true, r.kind, advanceWeight(r.weight, uint64_t(c - r.first) * r.step), r.diacritic};
}

// Latin-1 (serial numbers, names in Latin letters) straight from tables;
// the rest through the ranges.
constexpr size_t kDirect = 0x100;

// One version's weights.
struct SortTable {
    std::array<CharWeight, kDirect> direct;
    // The one-byte primary weight of the plain characters among them
    // (letters, digits, most punctuation in the first version), 0 for the
    // others (weight bytes are never 0).
    std::array<uint8_t, kDirect> plain;
    CharWeight (*search)(char16_t);

    CharWeight lookup(char16_t c) const { return c < kDirect ? direct[c] : search(c); }
};

template <size_t N>
constexpr SortTable makeTable(const SortRange (&ranges)[N], CharWeight (*search)(char16_t))
{
    SortTable t{};
    for (size_t c = 0; c < kDirect; ++c) {
        t.direct[c] = searchRanges(ranges, char16_t(c));
        const CharWeight& w = t.direct[c];
        if (w.weighted && w.kind == Sp && w.weight <= 0xFF) t.plain[c] = uint8_t(w.weight);
    }
    t.search = search;
    return t;
}

constexpr SortTable kLegacy = makeTable(kLegacyRanges, [](char16_t c) { return searchRanges(kLegacyRanges, c); });
constexpr SortTable k2010 = makeTable(k2010Ranges, [](char16_t c) { return searchRanges(k2010Ranges, c); });

// Writes a weight's bytes (one to eight) at `at`; returns the end.
uint8_t* putWeight(uint8_t* at, uint64_t w)
{
    int shift = 0;
    while (shift < 56 && (w >> (shift + 8)) != 0) shift += 8;
    for (; shift >= 0; shift -= 8) *at++ = uint8_t(w >> shift);
    return at;
}

void appendWeight(Bytes& out, uint64_t w)
{
    uint8_t bytes[8];
    out.insert(out.end(), bytes, putWeight(bytes, w));
}

constexpr uint8_t kEndPrimary = 0x01;
constexpr uint8_t kEndValue = 0x00;
constexpr uint8_t kNoDiacritic = 0x02;
constexpr uint8_t kSmallKana = 0x02;
constexpr uint8_t kNormalKana = 0x03;
constexpr uint8_t kKanaEnd[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};

// The sections after the primary weights, built while the text is scanned.
class TrailingSections {
public:
    // Ready for the next value; the buffers keep their room.
    void clear()
    {
        diacritics_.clear();
        diacriticsStarted_ = false;
        diacriticChars_ = 0;
        leadingModifiers_ = 0;
        ignorables_.clear();
        kanaFlags_.clear();
    }

    // A diacritic weight for the character with primary position `pos`.
    void diacritic(size_t pos, uint32_t weight)
    {
        fillTo(pos);
        appendWeight(diacritics_, weight);
        ++diacriticChars_;
    }

    // A combining mark after the character at primary position `pos` - 1.
    void modifier(size_t pos, uint8_t code)
    {
        fillTo(pos);
        if (!diacritics_.empty()) {
            diacritics_.back() = uint8_t(diacritics_.back() + code);
        } else {
            // Nothing to modify: the code stands alone and does not count as
            // a position for the ignorable section.
            diacritics_.push_back(code);
            leadingModifiers_ = 1;
        }
    }

    // An ignorable character met when `pos` weighted characters precede it.
    void ignorable(size_t pos, uint8_t code)
    {
        // The recorded position counts the bytes the diacritic section has at
        // this point (with the 0x02 fill still to come), not characters.
        size_t where = pos;
        if (diacriticsStarted_) where = diacritics_.size() + (pos - diacriticChars_) - leadingModifiers_;
        uint32_t v = 0x8000u | uint32_t(7 + 4 * where);
        ignorables_.push_back(uint8_t(v >> 8));
        ignorables_.push_back(uint8_t(v));
        ignorables_.push_back(0x06);
        ignorables_.push_back(code);
    }

    void kana(bool small) { kanaFlags_.push_back(small ? kSmallKana : kNormalKana); }

    // At most the bytes writeTo writes.
    size_t room() const
    {
        return diacritics_.size() + kanaFlags_.size() + std::size(kKanaEnd) + ignorables_.size() + 4;
    }

    // Writes the sections at `at` (room() bytes there); returns the end.
    uint8_t* writeTo(uint8_t* at)
    {
        while (!diacritics_.empty() && diacritics_.back() <= kNoDiacritic) diacritics_.pop_back();
        at = std::copy(diacritics_.begin(), diacritics_.end(), at);
        if (kanaFlags_.empty() && ignorables_.empty()) return at;
        *at++ = kEndPrimary;
        *at++ = kEndPrimary;
        if (!kanaFlags_.empty()) {
            // Trailing "normal" flags are implied; pack the rest three to a byte.
            while (!kanaFlags_.empty() && kanaFlags_.back() == kNormalKana) kanaFlags_.pop_back();
            for (size_t i = 0; i < kanaFlags_.size(); i += 3) {
                uint8_t b = 0x80;
                for (size_t k = 0; k < 3 && i + k < kanaFlags_.size(); ++k)
                    b |= uint8_t(kanaFlags_[i + k] << (2 * (2 - k)));
                *at++ = b;
            }
            at = std::copy(std::begin(kKanaEnd), std::end(kKanaEnd), at);
            if (!ignorables_.empty()) *at++ = 0xFF;
        }
        if (!ignorables_.empty()) {
            *at++ = kEndPrimary;
            at = std::copy(ignorables_.begin(), ignorables_.end(), at);
        }
        return at;
    }

private:
    void fillTo(size_t pos)
    {
        diacriticsStarted_ = true;
        if (diacriticChars_ < pos) {
            diacritics_.insert(diacritics_.end(), pos - diacriticChars_, kNoDiacritic);
            diacriticChars_ = pos;
        }
    }

    Bytes diacritics_;
    bool diacriticsStarted_ = false;
    size_t diacriticChars_ = 0;    // characters the diacritic section accounts for
    size_t leadingModifiers_ = 0;  // a modifier byte at its very start
    Bytes ignorables_;
    Bytes kanaFlags_;
};

void appendText(const SortTable& table, Bytes& out, std::u16string_view text)
{
    if (text.size() > kMaxIndexedTextUnits) text = text.substr(0, kMaxIndexedTextUnits);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);

    // The primary weights (eight bytes at most per character) go straight
    // into the room made for them. The sections after them are built aside,
    // in buffers of the thread that are taken only when a character needs
    // them, so that a million values are encoded without allocating.
    const size_t start = out.size();
    out.resize(start + 8 * text.size() + 2);
    uint8_t* at = out.data() + start;
    thread_local TrailingSections sections;
    TrailingSections* trailing = nullptr;
    size_t pos = 0;   // characters with a primary weight so far
    for (char16_t c : text) {
        if (c < kDirect && table.plain[c]) {
            *at++ = table.plain[c];
            ++pos;
            continue;
        }
        const CharWeight w = table.lookup(c);
        if (!w.weighted) continue;
        if (w.kind == Sp) {
            at = putWeight(at, w.weight);
            ++pos;
            continue;
        }
        if (!trailing) {
            trailing = &sections;
            trailing->clear();
        }
        switch (w.kind) {
        case Sp:
            break;
        case Ac:
            at = putWeight(at, w.weight);
            trailing->diacritic(pos, w.diacritic);
            ++pos;
            break;
        case Kn:
        case Ks:
            at = putWeight(at, w.weight);
            if (w.diacritic) trailing->diacritic(pos, w.diacritic);
            trailing->kana(w.kind == Ks);
            ++pos;
            break;
        case Md:
            trailing->modifier(pos, uint8_t(w.weight));
            break;
        case Ct:
            trailing->ignorable(pos, uint8_t(w.weight));
            break;
        }
    }
    *at++ = kEndPrimary;
    if (trailing) {
        const size_t used = size_t(at - out.data());
        out.resize(used + trailing->room() + 1);
        at = trailing->writeTo(out.data() + used);
    }
    *at++ = kEndValue;
    out.resize(size_t(at - out.data()));
}

} // namespace

void appendGeneralText(Bytes& out, std::u16string_view text) { appendText(kLegacy, out, text); }

void appendGeneral2010Text(Bytes& out, std::u16string_view text) { appendText(k2010, out, text); }

Bytes encodeGeneralText(const std::u16string& text)
{
    Bytes out;
    appendGeneralText(out, text);
    return out;
}

} // namespace jet
