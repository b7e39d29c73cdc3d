#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

// Jet 4 text: UTF-16LE, or the compressed form for columns that allow it:
//
//   FF FE, then runs of characters. The string starts in compressed mode,
//   where one byte is a character of U+0001..U+00FF; a 0x00 byte switches
//   between that and plain mode, where characters take two bytes (UTF-16LE).
//
// A string with a character whose low byte is 0x00 cannot be compressed,
// since in plain mode that byte would read as a switch.
std::u16string decodeText(const uint8_t* data, size_t n);
// The same into a string whose storage is reused (row scans decode millions).
void decodeTextInto(const uint8_t* data, size_t n, std::u16string& out);
// The same into `out`, which has room for `n` characters (no text decodes to
// more characters than it has bytes); returns the characters written.
size_t decodeTextTo(const uint8_t* data, size_t n, char16_t* out);
// Compresses when allowed and shorter, otherwise plain UTF-16LE.
std::vector<uint8_t> encodeText(const std::u16string& text, bool allowCompression);

} // namespace jet
