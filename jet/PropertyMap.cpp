#include "jet/PropertyMap.h"

#include "base/NameCase.h"
#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/TableDef.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {
constexpr char kUnicodeMagic[4] = {'M', 'R', '2', '\0'};
constexpr char kCodePageMagic[4] = {'K', 'K', 'D', '\0'};
constexpr uint16_t kNamesBlock = 0x80;
constexpr uint16_t kObjectBlock = 0x00;
constexpr uint16_t kColumnBlock = 0x01;

const char* magicOf(const TextCoding& coding) { return coding.isUnicode() ? kUnicodeMagic : kCodePageMagic; }

// Names and texts of a blob are plain UTF-16LE (never compressed) or code-page bytes.
Bytes textBytes(const TextCoding& coding, const std::u16string& s)
{
    Bytes out;
    if (coding.isUnicode()) {
        for (char16_t c : s) {
            out.push_back(uint8_t(c));
            out.push_back(uint8_t(c >> 8));
        }
    } else if (!coding.encode(s, false, out)) {
        throw JetError("a property holds characters that code page " + std::to_string(coding.codePage()) +
                       " of the file cannot hold");
    }
    return out;
}


void append16(Bytes& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void append32(Bytes& out, uint32_t v)
{
    append16(out, uint16_t(v));
    append16(out, uint16_t(v >> 16));
}
} // namespace

std::u16string Property::text() const
{
    if (coding->isUnicode()) {
        // Plain UTF-16LE: the compressed form's marker never appears here.
        std::u16string s(value.size() / 2, u'\0');
        for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(le16(value.data() + 2 * i));
        return s;
    }
    return coding->decode(value.data(), value.size());
}

PropertyMap PropertyMap::parse(const Bytes& blob, const std::string& where, const TextCoding& coding)
{
    PropertyMap map(coding);
    if (blob.empty()) return map;
    auto fail = [&](const std::string& what) { return JetError(where + ": its properties are damaged (" + what + ")"); };
    if (blob.size() < 4 || std::memcmp(blob.data(), magicOf(coding), 4) != 0) throw fail("unknown format");
    auto textAt = [&](const uint8_t* p, size_t n) {
        Property raw;
        raw.coding = &coding;
        raw.value.assign(p, p + n);
        return raw.text();
    };
    std::vector<std::u16string> names;
    size_t pos = 4;
    while (pos + 6 <= blob.size()) {
        uint32_t len = le32(&blob[pos]);
        uint16_t kind = le16(&blob[pos + 4]);
        if (len < 6 || pos + len > blob.size()) throw fail("a block runs past the end");
        const size_t end = pos + len;
        size_t p = pos + 6;
        if (kind == kNamesBlock) {
            while (p + 2 <= end) {
                size_t n = le16(&blob[p]);
                if (p + 2 + n > end) throw fail("a name runs past its block");
                names.push_back(textAt(&blob[p + 2], n));
                p += 2 + n;
            }
        } else if (kind == kObjectBlock || kind == kColumnBlock) {
            if (p + 6 > end) throw fail("a block is too short");
            uint32_t nameLen = le32(&blob[p]);
            size_t n = le16(&blob[p + 4]);
            if (nameLen < 4 || p + nameLen > end || 6 + n > nameLen + 2) throw fail("an object name is damaged");
            Object obj;
            obj.name = textAt(&blob[p + 6], n);
            p += nameLen;
            while (p + 8 <= end) {
                size_t plen = le16(&blob[p]);
                if (plen < 8 || p + plen > end) throw fail("a property runs past its block");
                uint8_t type = blob[p + 3];
                size_t nameIndex = le16(&blob[p + 4]);
                size_t vlen = le16(&blob[p + 6]);
                if (8 + vlen > plen) throw fail("a property value runs past the property");
                if (nameIndex >= names.size()) throw fail("a property names an unknown name");
                Property prop;
                prop.type = ColumnType(type);
                prop.coding = &coding;
                prop.value.assign(&blob[p + 8], &blob[p + 8] + vlen);
                obj.properties.emplace_back(names[nameIndex], std::move(prop));
                p += plen;
            }
            map.objects_.emplace_back(base::NameCase::foldUtf8(toUtf8(obj.name)), std::move(obj));
        }
        pos = end;
    }
    return map;
}

const Property* PropertyMap::find(const std::string& column, const std::string& name) const
{
    std::string key = base::NameCase::foldUtf8(column);
    for (const auto& [k, obj] : objects_) {
        if (k != key) continue;
        for (const auto& [n, prop] : obj.properties)
            if (base::NameCase::equalUtf8(toUtf8(n), name)) return &prop;
    }
    return nullptr;
}

void PropertyMap::set(const std::string& column, const std::string& name, const Property& property)
{
    std::string key = base::NameCase::foldUtf8(column);
    auto it = std::find_if(objects_.begin(), objects_.end(), [&](auto& o) { return o.first == key; });
    if (it == objects_.end()) {
        Object obj;
        obj.name = fromUtf8(column);
        objects_.emplace_back(key, std::move(obj));
        it = objects_.end() - 1;
    }
    for (auto& [n, prop] : it->second.properties)
        if (base::NameCase::equalUtf8(toUtf8(n), name)) {
            prop = property;
            return;
        }
    it->second.properties.emplace_back(fromUtf8(name), property);
}

void PropertyMap::setText(const std::string& column, const std::string& name, const std::u16string& text)
{
    Property p;
    p.type = ColumnType::Text;
    p.coding = coding_;
    p.value = textBytes(*coding_, text);
    set(column, name, p);
}

Bytes PropertyMap::encode() const
{
    std::vector<std::u16string> names;
    auto indexOf = [&](const std::u16string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n) return i;
        names.push_back(n);
        return names.size() - 1;
    };
    std::vector<Bytes> blocks;
    // The object's own block first, as Access writes it.
    std::vector<const Object*> ordered;
    for (const auto& [k, obj] : objects_)
        if (k.empty()) ordered.push_back(&obj);
    for (const auto& [k, obj] : objects_)
        if (!k.empty()) ordered.push_back(&obj);
    for (const Object* obj : ordered) {
        Bytes b;
        append32(b, 0); // length, filled below
        append16(b, obj->name.empty() ? kObjectBlock : kColumnBlock);
        Bytes objectName = textBytes(*coding_, obj->name);
        append32(b, uint32_t(6 + objectName.size()));
        append16(b, uint16_t(objectName.size()));
        b.insert(b.end(), objectName.begin(), objectName.end());
        for (const auto& [n, prop] : obj->properties) {
            append16(b, uint16_t(8 + prop.value.size()));
            b.push_back(0);
            b.push_back(uint8_t(prop.type));
            append16(b, uint16_t(indexOf(n)));
            append16(b, uint16_t(prop.value.size()));
            b.insert(b.end(), prop.value.begin(), prop.value.end());
        }
        put32(b.data(), uint32_t(b.size()));
        blocks.push_back(std::move(b));
    }
    Bytes out(magicOf(*coding_), magicOf(*coding_) + 4);
    Bytes nameBlock;
    append32(nameBlock, 0);
    append16(nameBlock, kNamesBlock);
    for (const std::u16string& n : names) {
        Bytes name = textBytes(*coding_, n);
        append16(nameBlock, uint16_t(name.size()));
        nameBlock.insert(nameBlock.end(), name.begin(), name.end());
    }
    put32(nameBlock.data(), uint32_t(nameBlock.size()));
    out.insert(out.end(), nameBlock.begin(), nameBlock.end());
    for (const Bytes& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

} // namespace jet
