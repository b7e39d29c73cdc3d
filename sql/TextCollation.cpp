#include "sql/TextCollation.h"

#include "jet/GeneralSortOrder.h"

namespace sql {

void TextCollation::appendKey(std::string& out, std::u16string_view text)
{
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    // The engine's encoder keeps only the length an index key holds; longer
    // texts (memos) get one key per piece, so that no character is ignored.
    jet::Bytes piece;
    do {
        std::u16string_view part = text.substr(0, jet::kMaxIndexedTextUnits);
        text.remove_prefix(part.size());
        piece.clear();
        jet::appendGeneralText(piece, part);
        out.append(piece.begin(), piece.end());
    } while (!text.empty());
}

std::string TextCollation::key(std::u16string_view text)
{
    std::string out;
    appendKey(out, text);
    return out;
}

int TextCollation::compare(std::u16string_view a, std::u16string_view b)
{
    if (a == b) return 0;
    int c = key(a).compare(key(b));
    return (c > 0) - (c < 0);
}

} // namespace sql
