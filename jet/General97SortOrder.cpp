#include "jet/General97SortOrder.h"

#include "jet/GeneralSortOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace jet {
namespace {

enum Kind : uint8_t {
    None,      // ignored
    Plain,     // weight only (digits, punctuation)
    Letter,    // weight; counts towards the position of the next accent, once
               // per weight byte ("ß" is the two letters "ss")
    Accented,  // weight and an accent code
};

struct Weight {
    Kind kind;
    uint8_t size;     // weight bytes, 0..2
    uint16_t bytes;   // big-endian
    uint8_t accent;
};

constexpr Weight kWeights[256] = {
#include "jet/General97SortOrderTable.inc"
};

struct Alias {
    char16_t from;
    uint8_t to;
};
constexpr Alias kAliases[] = {
#include "jet/General97SortOrderMap.inc"
};

constexpr Weight kIgnored{None, 0, 0, 0};

const Weight& weightOf(char16_t c)
{
    if (c < 0x100) return kWeights[c];
    auto it = std::lower_bound(std::begin(kAliases), std::end(kAliases), c,
                               [](const Alias& a, char16_t x) { return a.from < x; });
    if (it != std::end(kAliases) && it->from == c) return kWeights[it->to];
    return kIgnored;
}

// Four-bit codes, high nibble first.
class Nibbles {
public:
    void add(uint8_t code)
    {
        if (count_ % 2 == 0) bytes_.push_back(uint8_t(code << 4));
        else bytes_.back() = uint8_t(bytes_.back() | (code & 0x0F));
        ++count_;
    }
    bool empty() const { return count_ == 0; }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    size_t count_ = 0;
};

constexpr uint8_t kAccentBound = 0x0;
constexpr uint8_t kNoAccent = 0x2;

} // namespace

void appendGeneral97Text(Bytes& out, std::u16string_view text)
{
    text = text.substr(0, std::min(text.size(), kMaxIndexedTextUnits));
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    Nibbles accents;
    size_t lettersSinceAccent = 0;
    for (char16_t c : text) {
        const Weight& w = weightOf(c);
        if (w.size == 2) out.push_back(uint8_t(w.bytes >> 8));
        if (w.size >= 1) out.push_back(uint8_t(w.bytes));
        if (w.kind == Letter) {
            lettersSinceAccent += w.size;
        } else if (w.kind == Accented) {
            if (accents.empty()) accents.add(kAccentBound);
            for (; lettersSinceAccent > 0; --lettersSinceAccent) accents.add(kNoAccent);
            accents.add(w.accent);
        }
    }
    if (accents.empty()) {
        out.push_back(0x00);
        return;
    }
    accents.add(kAccentBound);
    out.insert(out.end(), accents.bytes().begin(), accents.bytes().end());
}

} // namespace jet
