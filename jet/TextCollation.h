#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "jet/Value.h"

namespace jet {

// The one order of text values in the program: Jet's General sort order
// (GeneralSortOrder.h), in which text indexes are keyed, `order by` sorts and
// comparisons in where clauses hold, and by which the datasets re-sort their
// rows. It ignores letter case and trailing spaces ("ADMIN" = "admin "),
// weighs accents only between texts that are otherwise equal ("a" < "ä" <
// "ab"), and hyphens, apostrophes and control characters only after that
// ("ac" < "a-c"). Texts compare by their keys, bytewise as unsigned.
class TextCollation {
public:
    // Appends the key of `text`: all of it, not only the first 255
    // characters an index keeps (longer texts get one key per piece).
    static void appendKey(Bytes& out, std::u16string_view text);
    static Bytes key(std::u16string_view text);
    // <0, 0, >0.
    static int compare(std::u16string_view a, std::u16string_view b);

    // The first 16 bytes of a text's key, big-endian in two numbers (zero
    // after the key's end), and the key's length, for sorting many texts
    // without keeping their keys: where the first n bytes differ they order
    // the texts as the keys do, and where they are equal and both keys are
    // at most n bytes long the texts are equal.
    struct Prefix {
        uint64_t high = 0;
        uint64_t low = 0;
        std::size_t length = 0;
    };
    static Prefix prefix(std::u16string_view text);
};

} // namespace jet
