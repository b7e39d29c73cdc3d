#include "qtcommon/GbkEncoder.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
constexpr UINT kGbkCodePage = 936;

bool appendWithCodePage(QStringView text, QByteArray& out)
{
    if (text.isEmpty())
        return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return false;
    const qsizetype at = out.size();
    out.resize(at + size);
    WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), out.data() + at, size, nullptr,
                        nullptr);
    return true;
}
#endif

} // namespace

GbkEncoder::GbkEncoder()
{
    renew();
}

bool GbkEncoder::isAvailable() const
{
#ifdef Q_OS_WIN
    return true;
#else
    return m_encoder->isValid();
#endif
}

bool GbkEncoder::append(QStringView text, QByteArray& out)
{
    if (!m_encoder->isValid()) {
#ifdef Q_OS_WIN
        return appendWithCodePage(text, out);
#else
        return false;
#endif
    }
    QByteArray bytes = m_encoder->encode(text);
    if (m_encoder->hasError()) {
        renew();
        return false;
    }
    out += bytes;
    return true;
}

// Made in place, and renewed after each refusal: the ICU converter behind it
// refers to the encoder's own state, so the encoder must not be moved or
// reset (that loses the error flag or the converter).
void GbkEncoder::renew()
{
    m_encoder.reset();
    m_encoder.emplace("GBK", QStringConverter::Flag::Stateless);
}
