#pragma once

#include <QByteArray>
#include <QStringView>

#include <string>

// Qt text to the GBK code page (Windows code page 936), piece by piece, for
// files written in parts. The code page is the engine's own table (the one
// the Access files in code page 936 use), the same on every system: no Qt
// build or Windows setting can make it missing or different.
class GbkEncoder {
public:
    // Appends the bytes of text; false (out unchanged) when a character has
    // no GBK code.
    bool append(QStringView text, QByteArray& out);

private:
    std::u16string m_text; // kept between pieces, so that a piece costs no allocation
};
