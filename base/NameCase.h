#pragma once
#include <string>
#include <string_view>

namespace base {

// How the program compares the names of tables, columns, indexes, properties
// and fields, and the words of its statements and schema files: ignoring
// letter case as Jet does, by Unicode's simple case folding of each UTF-16
// unit ("Ä" = "ä", "ΣΟΦΊΑ" = "σοφία"; "ß" stays "ß"), except where Jet's
// General sort order keeps a character apart from its folding (the Kelvin
// sign is not "k", "µ" is not "μ"), so that two names that differ for Jet
// differ here too. The rule is fixed: it never follows the C or Qt locale,
// where a Turkish one would make "ID" and "id" different names. Surrogates
// and characters outside the Basic Multilingual Plane compare as they are.
class NameCase {
public:
    static char16_t fold(char16_t c);
    static std::u16string fold(std::u16string_view name);
    // UTF-8 in and out, for keys of name lookups.
    static std::string foldUtf8(std::string_view name);

    static bool equal(std::u16string_view a, std::u16string_view b);
    static bool equalUtf8(std::string_view a, std::string_view b);
};

} // namespace base
