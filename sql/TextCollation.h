#pragma once
#include <string>
#include <string_view>

#include "jet/Value.h"

namespace sql {

// Jet's text comparison: the database's General sort order, which ignores
// letter case and trailing spaces ("ADMIN" = "admin "), and sorts accented
// letters next to their base letters. Keys compare bytewise (as unsigned).
class TextCollation {
public:
    // Appends the sort key of `text` (all of it, not only the first 255
    // characters an index keeps).
    static void appendKey(jet::Bytes& out, std::u16string_view text);
    static jet::Bytes key(std::u16string_view text);
    // <0, 0, >0.
    static int compare(std::u16string_view a, std::u16string_view b);
};

} // namespace sql
