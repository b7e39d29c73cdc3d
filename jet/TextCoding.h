#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/Value.h"

namespace jet {

// How a file stores its texts (column values, names of columns and
// indexes): Jet 4 in UTF-16 with the compressed form (TextCodec.h), Jet 3 in
// the file's code page, which the header names. Code pages 1252 (Western)
// and 936 (Simplified Chinese, GBK) are known; a file in another code page
// is refused when it is opened.
class TextCoding {
public:
    static const TextCoding& unicode();
    // The coding of a code page; nullptr for one this program does not know.
    static const TextCoding* forCodePage(uint16_t codePage);

    bool isUnicode() const { return codePage_ == 0; }
    uint16_t codePage() const { return codePage_; }

    // Decodes `n` stored bytes into `out`, which has room for `n` characters
    // (no text decodes to more characters than it has bytes); returns the
    // characters written.
    size_t decodeTo(const uint8_t* data, size_t n, char16_t* out) const;
    void decodeInto(const uint8_t* data, size_t n, std::u16string& out) const;
    std::u16string decode(const uint8_t* data, size_t n) const;

    // The stored bytes of a text; false when a character has no code in the
    // code page (`bytes` is then left incomplete). `allowCompression` is the
    // column's flag (Jet 4 only).
    bool encode(const std::u16string& text, bool allowCompression, Bytes& bytes) const;

private:
    explicit TextCoding(uint16_t codePage) : codePage_(codePage) {}
    uint16_t codePage_; // 0 for UTF-16
};

} // namespace jet
