#include "qtcommon/GbkEncoder.h"

#include "jet/TextCoding.h"

namespace {
constexpr uint16_t kGbkCodePage = 936;
}

bool GbkEncoder::append(QStringView text, QByteArray& out)
{
    m_text.assign(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
    jet::Bytes bytes;
    if (!jet::TextCoding::forCodePage(kGbkCodePage)->encode(m_text, false, bytes)) return false;
    out.append(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    return true;
}
