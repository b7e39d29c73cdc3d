#include "ado/TParameter.h"

void TParameter::setAsString(const QString& text)
{
    m_value = std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
}

void TParameter::setAsDateTime(const QDateTime& value)
{
    if (!value.isValid()) {
        Clear();
        return;
    }
    const QDate d = value.date();
    const QTime t = value.time();
    m_value = jet::fromCivil(jet::CivilTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()});
}
