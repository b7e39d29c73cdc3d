#include "jet/TextCollation.h"

#include "jet/ByteOrder.h"
#include "jet/GeneralSortOrder.h"

namespace jet {

void TextCollation::appendKey(Bytes& out, std::u16string_view text)
{
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    // The encoder keeps only the length an index key holds; longer texts
    // (memos) get one key per piece, so that no character is ignored.
    do {
        std::u16string_view part = text.substr(0, kMaxIndexedTextUnits);
        text.remove_prefix(part.size());
        appendGeneralText(out, part);
    } while (!text.empty());
}

Bytes TextCollation::key(std::u16string_view text)
{
    Bytes out;
    appendKey(out, text);
    return out;
}

int TextCollation::compare(std::u16string_view a, std::u16string_view b)
{
    if (a == b) return 0;
    Bytes x = key(a), y = key(b);
    return (x > y) - (x < y);
}

TextCollation::Prefix TextCollation::prefix(std::u16string_view text)
{
    // One buffer per thread: a million texts are keyed without allocating.
    thread_local Bytes key;
    key.clear();
    appendKey(key, text);
    Prefix p;
    p.length = key.size();
    if (key.size() < 16) key.resize(16); // zeros after the end
    p.high = be64(key.data());
    p.low = be64(key.data() + 8);
    return p;
}

} // namespace jet
