#include "ado/TField.h"

#include "ado/EDatabaseError.h"
#include "ado/TDataSet.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <cmath>
#include <limits>

namespace {

bool isTextField(TFieldType type)
{
    switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftWideMemo: return true;
    default: return false;
    }
}

bool isWholeNumberField(TFieldType type)
{
    switch (type) {
    case ftByte:
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint: return true;
    default: return false;
    }
}

void integerRange(TFieldType type, qint64& low, qint64& high)
{
    switch (type) {
    case ftByte: low = 0; high = 255; break;
    case ftSmallint: low = -32768; high = 32767; break;
    case ftWord: low = 0; high = 65535; break;
    case ftInteger:
    case ftAutoInc: low = std::numeric_limits<int32_t>::min(); high = std::numeric_limits<int32_t>::max(); break;
    default: low = std::numeric_limits<qint64>::min(); high = std::numeric_limits<qint64>::max(); break;
    }
}

QString fromU16(const std::u16string& s)
{
    return QString::fromUtf16(s.data(), qsizetype(s.size()));
}

std::u16string toU16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size()));
}

QString hexOf(const jet::Bytes& bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex());
}

QString formatDouble(double v)
{
    // Fifteen significant digits, the precision a double round-trips in text.
    return QString::number(v, 'g', 15);
}

// Parses "[-]digits[.digits]" into a decimal of the given scale; false when the
// text is not such a number or has more fraction digits or more digits than fit.
bool parseDecimal(QString text, int scale, int precision, jet::Decimal& out)
{
    text = text.trimmed();
    jet::Decimal d;
    d.scale = uint8_t(scale);
    d.precision = uint8_t(precision > 0 ? precision : 18);
    int i = 0;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) d.negative = text[i++] == u'-';
    QString whole, fraction;
    bool point = false;
    for (; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'.' && !point) point = true;
        else if (c.isDigit() && c.unicode() < 0x80) (point ? fraction : whole).append(c);
        else return false;
    }
    if (whole.isEmpty() && fraction.isEmpty()) return false;
    while (fraction.endsWith(u'0') && fraction.size() > scale) fraction.chop(1);
    if (fraction.size() > scale) return false;
    QString digits = whole + fraction.leftJustified(scale, u'0');
    while (digits.size() > 1 && digits.startsWith(u'0')) digits.remove(0, 1);
    if (digits.size() > 28) return false;
    // magnitude = magnitude * 10 + digit on a 128-bit number in two halves
    for (QChar c : digits) {
        uint64_t digit = uint64_t(c.unicode() - u'0');
        uint64_t loLow = (d.low & 0xFFFFFFFFu) * 10 + digit;
        uint64_t loHigh = (d.low >> 32) * 10 + (loLow >> 32);
        d.low = (loHigh << 32) | (loLow & 0xFFFFFFFFu);
        d.high = d.high * 10 + (loHigh >> 32);
    }
    if (precision > 0 && digits.size() > precision) return false;
    out = d;
    return true;
}

} // namespace

TField::TField(TDataSet* dataSet, int index, const TFieldDef& def)
    : m_dataSet(dataSet), m_index(index), m_def(def)
{
    m_readOnly = def.autoIncrement || def.type == ftAutoInc;
}

void TField::fail(const QString& message) const
{
    throw EDatabaseError(message);
}

// --- view settings -----------------------------------------------------------

void TField::setDisplayLabel(const QString& label)
{
    if (label == m_displayLabel) return;
    m_displayLabel = label;
    m_dataSet->notify(TDataSet::Change::Layout);
}

void TField::setVisible(bool visible)
{
    if (visible == m_visible) return;
    m_visible = visible;
    m_dataSet->notify(TDataSet::Change::Layout);
}

void TField::setDisplayWidth(int characters)
{
    if (characters == m_displayWidth) return;
    m_displayWidth = characters;
    m_dataSet->notify(TDataSet::Change::Layout);
}

int TField::DisplayWidth() const
{
    if (m_displayWidth >= 0) return m_displayWidth;
    switch (m_def.type) {
    case ftString:
    case ftFixedChar:
    case ftWideString: return m_def.size > 0 ? m_def.size : 20;
    case ftByte: return 4;
    case ftSmallint:
    case ftWord: return 6;
    case ftInteger:
    case ftAutoInc: return 11;
    case ftLargeint: return 15;
    case ftBoolean: return 5;
    case ftFloat:
    case ftCurrency: return 10;
    case ftBCD:
    case ftFMTBcd: return (m_def.precision > 0 ? m_def.precision : 18) + 2;
    case ftDate:
    case ftTime:
    case ftDateTime: return 18;
    case ftGuid: return 38;
    default: return 10;
    }
}

bool TField::CanModify() const
{
    return !m_readOnly && !m_def.baseColumn.isEmpty() && m_dataSet->CanModify();
}

// --- reading -----------------------------------------------------------------

jet::Value TField::Value() const { return m_dataSet->currentValue(m_index); }
bool TField::IsNull() const { return jet::isNull(Value()); }
QString TField::AsString() const { return textOf(Value()); }
QString TField::DisplayText() const { return textOf(Value()); }
QString TField::Text() const { return textOf(Value()); }

jet::Value TField::ValueAt(int index) const { return m_dataSet->peekValue(index, m_index); }
bool TField::IsNullAt(int index) const { return m_dataSet->peekIsNull(index, m_index); }
QString TField::AsStringAt(int index) const { return textOf(ValueAt(index)); }
QString TField::DisplayTextAt(int index) const { return textOf(ValueAt(index)); }
QString TField::TextAt(int index) const { return textOf(ValueAt(index)); }

qint64 TField::AsLargeInt() const
{
    jet::Value v = Value();
    if (jet::isNull(v)) return 0;
    if (auto p = std::get_if<int64_t>(&v)) return *p;
    if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;  // Access's True is -1
    if (auto p = std::get_if<double>(&v)) {
        if (!std::isfinite(*p) || std::fabs(*p) >= 9.2e18) fail(QStringLiteral("Field '%1': %2 is not a valid integer value").arg(FieldName(), formatDouble(*p)));
        return qint64(std::llround(*p));
    }
    if (auto p = std::get_if<jet::Currency>(&v)) return qint64(std::llround(double(p->units) / 10000.0));
    if (std::holds_alternative<jet::Decimal>(v)) return qint64(std::llround(AsFloat()));
    if (auto p = std::get_if<std::u16string>(&v)) {
        bool ok = false;
        qint64 n = fromU16(*p).trimmed().toLongLong(&ok);
        if (!ok) fail(QStringLiteral("'%1' is not a valid integer value (field '%2')").arg(fromU16(*p), FieldName()));
        return n;
    }
    fail(QStringLiteral("Field '%1' cannot be read as an integer").arg(FieldName()));
}

int TField::AsInteger() const
{
    qint64 n = AsLargeInt();
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        fail(QStringLiteral("Field '%1': %2 is too large for an integer").arg(FieldName()).arg(n));
    return int(n);
}

double TField::AsFloat() const
{
    jet::Value v = Value();
    if (jet::isNull(v)) return 0;
    if (auto p = std::get_if<double>(&v)) return *p;
    if (auto p = std::get_if<int64_t>(&v)) return double(*p);
    if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
    if (auto p = std::get_if<jet::Currency>(&v)) return double(p->units) / 10000.0;
    if (auto p = std::get_if<jet::Decimal>(&v)) return jet::nearestDouble(*p);
    if (auto p = std::get_if<jet::DateTime>(&v)) return p->days;
    if (auto p = std::get_if<std::u16string>(&v)) {
        bool ok = false;
        double d = fromU16(*p).trimmed().toDouble(&ok);
        if (!ok) fail(QStringLiteral("'%1' is not a valid floating point value (field '%2')").arg(fromU16(*p), FieldName()));
        return d;
    }
    fail(QStringLiteral("Field '%1' cannot be read as a number").arg(FieldName()));
}

bool TField::AsBoolean() const
{
    jet::Value v = Value();
    if (jet::isNull(v)) return false;
    if (auto p = std::get_if<bool>(&v)) return *p;
    if (auto p = std::get_if<std::u16string>(&v)) {
        QString t = fromU16(*p).trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) return true;
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || t.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0) return false;
        fail(QStringLiteral("'%1' is not a valid boolean value (field '%2')").arg(t, FieldName()));
    }
    return AsFloat() != 0;
}

QDateTime TField::AsDateTime() const
{
    jet::Value v = Value();
    if (jet::isNull(v)) return {};
    jet::DateTime dt;
    if (auto p = std::get_if<jet::DateTime>(&v)) dt = *p;
    else if (auto p = std::get_if<double>(&v)) dt = jet::DateTime{*p};
    else if (auto p = std::get_if<std::u16string>(&v)) {
        TFieldDef asDate = m_def;
        asDate.type = ftDateTime;
        jet::Value parsed = TField(m_dataSet, m_index, asDate).valueFromText(fromU16(*p));
        if (jet::isNull(parsed)) return {};
        dt = std::get<jet::DateTime>(parsed);
    } else fail(QStringLiteral("Field '%1' cannot be read as a date/time").arg(FieldName()));
    jet::CivilTime c = jet::toCivil(dt);
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second, c.millisecond));
}

// --- formatting --------------------------------------------------------------

QString TField::formatDateTime(jet::DateTime value)
{
    jet::CivilTime c = jet::toCivil(value);
    QString text = QStringLiteral("%1/%2/%3").arg(c.year, 4, 10, QLatin1Char('0')).arg(c.month).arg(c.day);
    if (c.hour != 0 || c.minute != 0 || c.second != 0)
        text += QStringLiteral(" %1:%2:%3").arg(c.hour).arg(c.minute, 2, 10, QLatin1Char('0')).arg(c.second, 2, 10, QLatin1Char('0'));
    return text;
}

QString TField::textOf(const jet::Value& value) const
{
    return std::visit(
        [this](const auto& v) -> QString {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) return QString();
            else if constexpr (std::is_same_v<T, bool>) return v ? QStringLiteral("True") : QStringLiteral("False");
            else if constexpr (std::is_same_v<T, int64_t>) return QString::number(v);
            else if constexpr (std::is_same_v<T, double>) {
                if (m_def.type == ftDateTime || m_def.type == ftDate || m_def.type == ftTime) return formatDateTime(jet::DateTime{v});
                return formatDouble(v);
            }
            else if constexpr (std::is_same_v<T, jet::Currency>) return QString::fromStdString(jet::currencyToString(v));
            else if constexpr (std::is_same_v<T, jet::DateTime>) return formatDateTime(v);
            else if constexpr (std::is_same_v<T, std::u16string>) return fromU16(v);
            else if constexpr (std::is_same_v<T, jet::Bytes>) {
                if (m_def.type == ftBlob) return QStringLiteral("(BLOB)");
                return hexOf(v);
            }
            else if constexpr (std::is_same_v<T, jet::Guid>) return QString::fromStdString(jet::guidToString(v));
            else if constexpr (std::is_same_v<T, jet::Decimal>) return QString::fromStdString(jet::decimalToString(v));
            else return QString();
        },
        value);
}

// --- parsing and conversion --------------------------------------------------

jet::Value TField::valueFromText(const QString& text) const
{
    if (isTextField(m_def.type)) {
        if (m_def.size > 0 && !(m_def.type == ftMemo || m_def.type == ftWideMemo) && text.size() > m_def.size)
            fail(QStringLiteral("The text for field '%1' is too long: %2 characters, at most %3 fit")
                     .arg(FieldName())
                     .arg(text.size())
                     .arg(m_def.size));
        return toU16(text);
    }
    QString t = text.trimmed();
    if (t.isEmpty()) return {};
    auto invalid = [&](const char* what) {
        fail(QStringLiteral("'%1' is not a valid %2 value for field '%3'").arg(text, QLatin1String(what), FieldName()));
    };
    if (isWholeNumberField(m_def.type)) {
        bool ok = false;
        qint64 n = t.toLongLong(&ok);
        if (!ok) invalid("integer");
        qint64 low, high;
        integerRange(m_def.type, low, high);
        if (n < low || n > high)
            fail(QStringLiteral("%1 is not in the range %2 to %3 of field '%4'").arg(t).arg(low).arg(high).arg(FieldName()));
        return int64_t(n);
    }
    switch (m_def.type) {
    case ftBoolean: {
        for (const char* yes : {"true", "yes", "1", "-1"})
            if (t.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0) return true;
        for (const char* no : {"false", "no", "0"})
            if (t.compare(QLatin1String(no), Qt::CaseInsensitive) == 0) return false;
        invalid("boolean");
        break;
    }
    case ftFloat: {
        bool ok = false;
        double d = t.toDouble(&ok);
        if (!ok || !std::isfinite(d)) invalid("floating point");
        return d;
    }
    case ftCurrency: {
        jet::Decimal d;
        if (!parseDecimal(t, 4, 19, d) || d.high != 0 || d.low > uint64_t(std::numeric_limits<int64_t>::max()))
            invalid("currency");
        int64_t units = int64_t(d.low);
        return jet::Currency{d.negative ? -units : units};
    }
    case ftBCD:
    case ftFMTBcd: {
        jet::Decimal d;
        if (!parseDecimal(t, m_def.scale, m_def.precision, d)) invalid("decimal");
        return d;
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
        static const char* const formats[] = {"yyyy/M/d H:mm:ss", "yyyy/M/d H:mm", "yyyy/M/d",
                                              "yyyy-M-d H:mm:ss", "yyyy-M-d H:mm", "yyyy-M-d",
                                              "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-ddTHH:mm:ss.zzz"};
        for (const char* format : formats) {
            QDateTime parsed = QDateTime::fromString(t, QLatin1String(format));
            if (!parsed.isValid()) {
                // A date alone parses as a QDate; a date in a zone's spring-forward gap fails
                // as QDateTime, so take date and time apart.
                QDate date = QDate::fromString(t, QLatin1String(format));
                if (!date.isValid()) continue;
                parsed = QDateTime(date, QTime(0, 0));
            }
            QDate d = parsed.date();
            QTime tm = parsed.time();
            return jet::fromCivil(jet::CivilTime{d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second(), tm.msec()});
        }
        invalid("date and time");
        break;
    }
    default: break;
    }
    fail(QStringLiteral("Field '%1' cannot be set from text").arg(FieldName()));
}

jet::Value TField::toStoredForm(const jet::Value& value) const
{
    if (jet::isNull(value)) return value;
    if (auto s = std::get_if<std::u16string>(&value)) return valueFromText(fromU16(*s));
    if (isTextField(m_def.type)) return valueFromText(textOf(value));
    if (isWholeNumberField(m_def.type)) {
        int64_t n = 0;
        if (auto p = std::get_if<int64_t>(&value)) n = *p;
        else if (auto p = std::get_if<bool>(&value)) n = *p ? -1 : 0;
        else if (auto p = std::get_if<double>(&value)) {
            if (!std::isfinite(*p) || std::trunc(*p) != *p || std::fabs(*p) >= 9.2e18)
                fail(QStringLiteral("%1 is not a whole number for field '%2'").arg(formatDouble(*p), FieldName()));
            n = int64_t(*p);
        } else fail(QStringLiteral("Field '%1' takes whole numbers only").arg(FieldName()));
        qint64 low, high;
        integerRange(m_def.type, low, high);
        if (n < low || n > high)
            fail(QStringLiteral("%1 is not in the range %2 to %3 of field '%4'").arg(n).arg(low).arg(high).arg(FieldName()));
        return n;
    }
    switch (m_def.type) {
    case ftBoolean:
        if (auto p = std::get_if<bool>(&value)) return *p;
        if (auto p = std::get_if<int64_t>(&value)) return *p != 0;
        break;
    case ftFloat:
        if (auto p = std::get_if<double>(&value)) return *p;
        if (auto p = std::get_if<int64_t>(&value)) return double(*p);
        if (auto p = std::get_if<jet::Currency>(&value)) return double(p->units) / 10000.0;
        if (auto p = std::get_if<jet::Decimal>(&value)) return jet::nearestDouble(*p);
        break;
    case ftCurrency:
        if (auto p = std::get_if<jet::Currency>(&value)) return *p;
        if (auto p = std::get_if<int64_t>(&value)) return jet::Currency{*p * 10000};
        if (auto p = std::get_if<double>(&value)) return valueFromText(QString::number(*p, 'f', 4));
        break;
    case ftBCD:
    case ftFMTBcd:
        if (std::holds_alternative<jet::Decimal>(value)) return value;
        return valueFromText(textOf(value));
    case ftDate:
    case ftTime:
    case ftDateTime:
        if (std::holds_alternative<jet::DateTime>(value)) return value;
        if (auto p = std::get_if<double>(&value)) return jet::DateTime{*p};
        break;
    case ftGuid:
        if (std::holds_alternative<jet::Guid>(value)) return value;
        break;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
        if (std::holds_alternative<jet::Bytes>(value)) return value;
        break;
    default: break;
    }
    fail(QStringLiteral("The value does not fit field '%1'").arg(FieldName()));
}

// --- writing -----------------------------------------------------------------

void TField::setValue(const jet::Value& value)
{
    if (m_dataSet->State() != dsEdit)
        fail(QStringLiteral("Dataset not in edit mode: call Edit before changing field '%1'").arg(FieldName()));
    if (m_readOnly) fail(QStringLiteral("Field '%1' cannot be modified").arg(FieldName()));
    m_dataSet->setEditValue(m_index, toStoredForm(value));
}

void TField::setAsString(const QString& text)
{
    if (m_dataSet->State() != dsEdit)
        fail(QStringLiteral("Dataset not in edit mode: call Edit before changing field '%1'").arg(FieldName()));
    if (m_readOnly) fail(QStringLiteral("Field '%1' cannot be modified").arg(FieldName()));
    m_dataSet->setEditValue(m_index, valueFromText(text));
}

void TField::setAsInteger(int value) { setValue(int64_t(value)); }
void TField::setAsLargeInt(qint64 value) { setValue(int64_t(value)); }
void TField::setAsFloat(double value) { setValue(value); }
void TField::setAsBoolean(bool value) { setValue(value); }
void TField::Clear() { setValue(jet::Value{}); }

void TField::setAsDateTime(const QDateTime& value)
{
    if (!value.isValid()) {
        Clear();
        return;
    }
    QDate d = value.date();
    QTime t = value.time();
    setValue(jet::fromCivil(jet::CivilTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()}));
}
