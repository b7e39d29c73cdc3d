#include "ado/postgres/PostgresNames.h"

#include <cstdint>
#include <cstdio>

namespace postgres {

namespace {

// FNV-1a over the name and the attempt: a stable suffix for a given name.
uint32_t hashOf(const std::string& name, unsigned attempt)
{
    uint32_t hash = 2166136261u;
    auto add = [&](unsigned char c) { hash = (hash ^ c) * 16777619u; };
    for (unsigned char c : name) add(c);
    for (unsigned i = 0; i < attempt; ++i) add(0xFF);
    return hash;
}

// The longest prefix of at most `bytes` bytes that ends between two UTF-8 characters.
std::string prefixOf(const std::string& text, std::size_t bytes)
{
    if (text.size() <= bytes) return text;
    std::size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

} // namespace

std::string NameScope::lowerAscii(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return name;
}

std::string NameScope::take(const std::string& name)
{
    const std::string lower = lowerAscii(name);
    std::string candidate = lower;
    for (unsigned attempt = 0; candidate.size() > kLongest || has(candidate); ++attempt) {
        char suffix[10];
        std::snprintf(suffix, sizeof suffix, "_%08x", unsigned(hashOf(lower, attempt)));
        candidate = prefixOf(lower, kLongest - 9) + suffix;
    }
    taken_.insert(candidate);
    return candidate;
}

} // namespace postgres
