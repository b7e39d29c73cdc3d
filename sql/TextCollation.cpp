#include "sql/TextCollation.h"

#include "jet/GeneralSortOrder.h"

namespace sql {

void TextCollation::appendKey(jet::Bytes& out, std::u16string_view text)
{
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    // The engine's encoder keeps only the length an index key holds; longer
    // texts (memos) get one key per piece, so that no character is ignored.
    do {
        std::u16string_view part = text.substr(0, jet::kMaxIndexedTextUnits);
        text.remove_prefix(part.size());
        jet::appendGeneralText(out, part);
    } while (!text.empty());
}

jet::Bytes TextCollation::key(std::u16string_view text)
{
    jet::Bytes out;
    appendKey(out, text);
    return out;
}

int TextCollation::compare(std::u16string_view a, std::u16string_view b)
{
    if (a == b) return 0;
    jet::Bytes x = key(a), y = key(b);
    return (x > y) - (x < y);
}

} // namespace sql
