#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Conversion between Qt text and the GBK code page (Windows code page 936)
// for whole texts, such as the layout file; GbkEncoder converts piece by
// piece.
class GbkText {
public:
    // Nothing when the text holds a character that GBK cannot represent.
    static std::optional<QByteArray> encode(const QString& text);
    // Undecodable bytes become U+FFFD.
    static QString decode(const QByteArray& bytes);
    // The text, or nothing when the bytes are not GBK text that encodes back
    // to the same bytes (a file saved in another encoding), so that writing
    // the text back would change what the file holds.
    static std::optional<QString> decodeExactly(const QByteArray& bytes);
};
