#include "qtcommon/GbkText.h"

#include "qtcommon/GbkEncoder.h"

#include <QStringDecoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// Qt builds without ICU do not know GBK; Windows always has code page 936.
QString decodeWithCodePage(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QString();
    const int size = MultiByteToWideChar(936, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    QString text(size, Qt::Uninitialized);
    MultiByteToWideChar(936, 0, bytes.constData(), int(bytes.size()), reinterpret_cast<wchar_t*>(text.data()), size);
    return text;
}
#endif

} // namespace

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
    QStringDecoder decoder("GBK");
    if (!decoder.isValid()) {
#ifdef Q_OS_WIN
        return decodeWithCodePage(bytes);
#else
        return QString::fromLatin1(bytes);
#endif
    }
    return decoder.decode(bytes);
}

std::optional<QString> GbkText::decodeExactly(const QByteArray& bytes)
{
    // The converters do not flag every byte sequence that GBK lacks (some
    // become a character that encodes to other bytes, a lead byte at the end
    // is dropped), so the bytes are judged by the round trip itself.
    QString text = decode(bytes);
    const std::optional<QByteArray> back = encode(text);
    if (!back || *back != bytes)
        return std::nullopt;
    return text;
}
