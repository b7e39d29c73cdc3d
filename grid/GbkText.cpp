#include "grid/GbkText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr const char* kGbkName = "GBK";

#ifdef Q_OS_WIN
constexpr UINT kGbkCodePage = 936;

std::optional<QByteArray> encodeWithCodePage(const QString& text)
{
    if (text.isEmpty())
        return QByteArray();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

QString decodeWithCodePage(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QString();
    const int size = MultiByteToWideChar(kGbkCodePage, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    QString text(size, Qt::Uninitialized);
    MultiByteToWideChar(kGbkCodePage, 0, bytes.constData(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data()), size);
    return text;
}
#endif

} // namespace

std::optional<QByteArray> GbkText::encode(const QString& text)
{
    QStringEncoder encoder(kGbkName);
    if (!encoder.isValid()) {
#ifdef Q_OS_WIN
        return encodeWithCodePage(text);
#else
        return std::nullopt;
#endif
    }
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

QString GbkText::decode(const QByteArray& bytes)
{
    QStringDecoder decoder(kGbkName);
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
