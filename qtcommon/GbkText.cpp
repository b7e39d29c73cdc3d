#include "qtcommon/GbkText.h"

#include "qtcommon/GbkEncoder.h"

#include "jet/TextCoding.h"

std::optional<QByteArray> GbkText::encode(const QString& text)
{
    GbkEncoder encoder;
    QByteArray bytes;
    if (!encoder.append(text, bytes))
        return std::nullopt;
    return bytes;
}

QString GbkText::decode(const QByteArray& bytes)
{
    const std::u16string text =
        jet::TextCoding::forCodePage(936)->decode(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    return QString::fromStdU16String(text);
}

std::optional<QString> GbkText::decodeExactly(const QByteArray& bytes)
{
    // Decoding does not flag every byte sequence that GBK lacks (an unknown
    // pair becomes U+FFFD, which has no code), so the bytes are judged by the
    // round trip itself.
    QString text = decode(bytes);
    const std::optional<QByteArray> back = encode(text);
    if (!back || *back != bytes)
        return std::nullopt;
    return text;
}
