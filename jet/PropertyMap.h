#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "jet/TextCoding.h"
#include "jet/Value.h"

namespace jet {

// The property blob of a catalog object (MSysObjects.LvProp): the table's
// properties and each column's (DefaultValue, Required, Format, ...).
//
//   offset  size  meaning
//   0       4     "MR2\0" (Jet 4, texts in UTF-16LE), "KKD\0" (Jet 3, texts in the file's code page)
//   4       ...   blocks, each:
//     +0    4     block length, these 4 bytes included
//     +4    2     kind: 0x80 property names, 0x00 the object's own properties,
//                 0x01 a column's properties
//   names block: per name, 2-byte byte length and its text
//   property block:
//     +6    4     length of the name part, these 4 bytes included
//     +10   2     byte length of the column name (0 for the object), the name
//     then per property:
//       +0  2     length of this property, these 2 bytes included
//       +2  1     DDL flag
//       +3  1     data type (column type code; 0x0A/0x0C text)
//       +4  2     index into the names block
//       +6  2     value length, then the value
struct Property {
    ColumnType type = ColumnType::Text;
    Bytes value;
    const TextCoding* coding = &TextCoding::unicode(); // how the blob stores texts
    std::u16string text() const; // the value of a text property
};

class PropertyMap {
public:
    explicit PropertyMap(const TextCoding& coding = TextCoding::unicode()) : coding_(&coding) {}
    // Throws JetError with `where` on a damaged blob; an empty blob gives an empty map.
    static PropertyMap parse(const Bytes& blob, const std::string& where,
                             const TextCoding& coding = TextCoding::unicode());
    Bytes encode() const;

    // Column "" holds the object's own properties. Names match case-insensitively.
    const Property* find(const std::string& column, const std::string& name) const;
    void set(const std::string& column, const std::string& name, const Property& property);
    void setText(const std::string& column, const std::string& name, const std::u16string& text);

private:
    // column (lower-case UTF-8) -> (display name, properties by name)
    struct Object {
        std::u16string name;
        std::vector<std::pair<std::u16string, Property>> properties;
    };
    std::vector<std::pair<std::string, Object>> objects_;
    const TextCoding* coding_;
};

} // namespace jet
