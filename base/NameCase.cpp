#include "base/NameCase.h"

#include "base/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace base {

namespace {

// Runs of characters that fold by the same distance: every `stride`-th code
// from `first` to `last` folds to itself + delta.
struct FoldRun {
    char16_t first;
    char16_t last;
    int32_t delta;
    uint16_t stride;
};

constexpr FoldRun kFoldRuns[] = {
#include "base/CaseFoldingTable.inc"
};

bool isAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiFold(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

char16_t NameCase::fold(char16_t c)
{
    if (c < 0x80) return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
    auto run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                [](char16_t code, const FoldRun& r) { return code < r.first; });
    if (run == std::begin(kFoldRuns)) return c;
    --run;
    if (c > run->last || (c - run->first) % run->stride != 0) return c;
    return char16_t(c + run->delta);
}

std::u16string NameCase::fold(std::u16string_view name)
{
    std::u16string out(name);
    for (char16_t& c : out) c = fold(c);
    return out;
}

std::string NameCase::foldUtf8(std::string_view name)
{
    if (isAscii(name)) {
        std::string out(name);
        for (char& c : out) c = asciiFold(c);
        return out;
    }
    return Utf8::fromUtf16(fold(Utf8::toUtf16(name)));
}

bool NameCase::equal(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool NameCase::equalUtf8(std::string_view a, std::string_view b)
{
    if (isAscii(a) && isAscii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (asciiFold(a[i]) != asciiFold(b[i])) return false;
        return true;
    }
    return equal(Utf8::toUtf16(a), Utf8::toUtf16(b));
}

} // namespace base
