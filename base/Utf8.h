#pragma once
#include <string>
#include <string_view>

namespace base {

// UTF-8 and UTF-16 text, the two forms the program keeps: the engine and the
// SQL layer name things in UTF-8, values are UTF-16 as Jet stores them.
// Malformed input becomes U+FFFD rather than an error: a damaged name still
// prints.
class Utf8 {
public:
    static std::string fromUtf16(std::u16string_view text);
    // The same appended to `out` (listings convert row after row into one buffer).
    static void appendFromUtf16(std::string& out, std::u16string_view text);
    static std::u16string toUtf16(std::string_view text);
};

} // namespace base
