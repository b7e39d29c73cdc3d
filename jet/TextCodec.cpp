#include "jet/TextCodec.h"

namespace jet {

size_t decodeTextTo(const uint8_t* data, size_t n, char16_t* o)
{
    if (n >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        size_t k = 0;
        bool compressed = true;
        size_t i = 2;
        while (i < n) {
            uint8_t b = data[i];
            if (b == 0x00) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                // The run of one-byte characters up to the next switch.
                do {
                    o[k++] = char16_t(data[i++]);
                } while (i < n && data[i] != 0x00);
            } else {
                if (i + 1 >= n) break; // a dangling half character
                o[k++] = char16_t(b | (data[i + 1] << 8));
                i += 2;
            }
        }
        return k;
    }
    for (size_t i = 0; i + 1 < n; i += 2) o[i / 2] = char16_t(data[i] | (data[i + 1] << 8));
    return n / 2;
}

void decodeTextInto(const uint8_t* data, size_t n, std::u16string& out)
{
    out.resize(n); // an upper bound: at most one character per byte
    out.resize(decodeTextTo(data, n, out.data()));
}

std::u16string decodeText(const uint8_t* data, size_t n)
{
    std::u16string out;
    decodeTextInto(data, n, out);
    return out;
}

std::vector<uint8_t> encodeText(const std::u16string& text, bool allowCompression)
{
    std::vector<uint8_t> plain(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        plain[2 * i] = uint8_t(text[i]);
        plain[2 * i + 1] = uint8_t(text[i] >> 8);
    }
    if (!allowCompression || text.empty()) return plain;
    for (char16_t c : text)
        if ((c & 0xFF) == 0) return plain;

    auto narrow = [](char16_t c) { return c < 0x100; };
    std::vector<uint8_t> packed{0xFF, 0xFE};
    bool compressed = true;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (compressed && !narrow(c)) {
            packed.push_back(0x00);
            compressed = false;
        } else if (!compressed && narrow(c)) {
            // Switch back only for a run of two or more narrow characters.
            size_t run = 0;
            while (i + run < text.size() && narrow(text[i + run]) && run < 2) ++run;
            if (run >= 2 || i + run == text.size()) {
                packed.push_back(0x00);
                compressed = true;
            }
        }
        if (compressed) {
            packed.push_back(uint8_t(c));
        } else {
            packed.push_back(uint8_t(c));
            packed.push_back(uint8_t(c >> 8));
        }
        if (packed.size() >= plain.size()) return plain;
    }
    return packed;
}

} // namespace jet
