#include "data/RegisterExport.h"

#include "ado/TDataSet.h"
#include "ado/TField.h"

#include <algorithm>
#include <limits>

namespace {

// Characters written as a character reference: line breaks, which an XML
// reader would normalise (CR LF to LF) and which would split the record's
// line in the text box and the file, and the characters the text box
// itself takes for block breaks.
bool writtenAsReference(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// Characters that go into element text as they are: all but the markup
// characters, line breaks, characters outside XML and surrogates. Most
// serials, names, dates and ids consist of nothing else.
bool plain(char16_t c)
{
    if (c < 0x20) return c == u'\t';
    if (c < 0xD800) return c != u'&' && c != u'<' && c != u'>' && c != 0x2028 && c != 0x2029;
    return (c >= 0xE000 && c < 0xFDD0) || (c > 0xFDD1 && c < 0xFFFE);
}

void appendAscii(QString& out, const char* text, qsizetype length)
{
    out.append(QLatin1String(text, length));
}

// Decimal digits of a number, as QString::number writes it.
void appendNumber(QString& out, qint64 value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* at = end;
    quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    do {
        *--at = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--at = '-';
    appendAscii(out, at, end - at);
}

void appendTwoDigits(QString& out, int value)
{
    const char digits[2] = {char('0' + value / 10), char('0' + value % 10)};
    appendAscii(out, digits, 2);
}

// A field's text as TField::textOf gives it, escaped, written straight into
// the line: text, whole numbers and dates (the register's columns) without
// a string of their own; any other type through textOf.
void appendFieldText(QString& out, const TField& field, const jet::Value& value)
{
    if (const auto* text = std::get_if<std::u16string>(&value)) {
        RegisterExport::appendEscaped(out, QStringView(text->data(), qsizetype(text->size())));
    } else if (const auto* number = std::get_if<int64_t>(&value)) {
        appendNumber(out, *number);
    } else if (const auto* date = std::get_if<jet::DateTime>(&value)) {
        // "yyyy/M/d H:mm:ss", the time left out at midnight (TField::formatDateTime).
        const jet::CivilTime c = jet::toCivil(*date);
        if (c.year < 0 || c.year > 9999 || c.month < 1 || c.day < 1 || c.hour < 0 || c.minute < 0 || c.second < 0 ||
            c.minute > 59 || c.second > 59) {
            RegisterExport::appendEscaped(out, TField::formatDateTime(*date));
            return;
        }
        const char year[4] = {char('0' + c.year / 1000), char('0' + c.year / 100 % 10), char('0' + c.year / 10 % 10),
                              char('0' + c.year % 10)};
        appendAscii(out, year, 4);
        out += u'/';
        appendNumber(out, c.month);
        out += u'/';
        appendNumber(out, c.day);
        if (c.hour != 0 || c.minute != 0 || c.second != 0) {
            out += u' ';
            appendNumber(out, c.hour);
            out += u':';
            appendTwoDigits(out, c.minute);
            out += u':';
            appendTwoDigits(out, c.second);
        }
    } else if (!jet::isNull(value)) {
        RegisterExport::appendEscaped(out, field.textOf(value));
    }
}

} // namespace

void RegisterExport::appendEscaped(QString& out, QStringView value)
{
    const char16_t* const begin = value.utf16();
    const char16_t* const end = begin + value.size();
    const char16_t* run = begin; // start of the plain characters not yet copied
    for (const char16_t* at = begin; at != end; ++at) {
        const char16_t u = *at;
        if (plain(u)) continue;
        if (QChar::isHighSurrogate(u) && at + 1 != end && QChar::isLowSurrogate(at[1])) {
            ++at; // a whole pair stays
            continue;
        }
        out.append(QStringView(run, at));
        run = at + 1;
        if (u == u'&') out.append(u"&amp;");
        else if (u == u'<') out.append(u"&lt;");
        else if (u == u'>') out.append(u"&gt;");
        else if (writtenAsReference(u)) {
            out.append(u"&#x");
            out.append(QString::number(uint(u), 16).toUpper());
            out += u';';
        } else out += QChar(QChar::ReplacementCharacter); // outside XML, or half a pair
    }
    out.append(QStringView(run, end));
}

QString RegisterExport::escapeXml(const QString& value)
{
    if (std::all_of(value.begin(), value.end(), [](QChar c) { return plain(c.unicode()); })) return value;
    QString escaped;
    escaped.reserve(value.size() + 16);
    appendEscaped(escaped, value);
    return escaped;
}

QString RegisterExport::recordLine(const QString& id, const QString& serial, const QString& userName,
                                   const QString& addDate)
{
    QString line;
    line.reserve(160 + id.size() + serial.size() + userName.size() + addDate.size());
    line.append(u"<record><data_id>");
    appendEscaped(line, id);
    line.append(u"</data_id><data_usbkey_serial>");
    appendEscaped(line, serial);
    line.append(u"</data_usbkey_serial><data_username>");
    appendEscaped(line, userName);
    line.append(u"</data_username><data_add_date>");
    appendEscaped(line, addDate);
    line.append(u"</data_add_date></record>");
    return line;
}

std::optional<RegisterExport::Listing> RegisterExport::fromDataSet(const TDataSet& pending, const Progress& progress)
{
    Listing listing;
    const int count = pending.RecordCount();
    if (count == 0) {
        listing.text = noDataLine();
        return listing;
    }
    const TField* id = pending.FieldByName(QStringLiteral("id"));
    const TField* serial = pending.FieldByName(QStringLiteral("usbkey_serial"));
    const TField* userName = pending.FieldByName(QStringLiteral("username"));
    const TField* addDate = pending.FieldByName(QStringLiteral("add_date"));

    constexpr int kProgressStep = 500;
    // The lines go straight into the one text the text box shows, each
    // value read once and escaped in place.
    QString& text = listing.text;
    text = headerLine();
    IdRange range{std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()};
    for (int row = 0; row < count; ++row) {
        if (progress && row % kProgressStep == 0 && !progress(row, count))
            return std::nullopt;
        const qsizetype lineStart = text.size();
        text += u'\n';
        text.append(u"<record><data_id>");
        const jet::Value idValue = id->ValueAt(row);
        appendFieldText(text, *id, idValue);
        // A pending entry always has an id (the database assigns it); one
        // without would be written but could not be marked, so it is
        // listed and left out of the range.
        if (!jet::isNull(idValue)) {
            const auto* number = std::get_if<int64_t>(&idValue);
            const qint64 value = number ? *number : id->textOf(idValue).toLongLong();
            range.first = std::min(range.first, value);
            range.last = std::max(range.last, value);
        }
        text.append(u"</data_id><data_usbkey_serial>");
        appendFieldText(text, *serial, serial->ValueAt(row));
        text.append(u"</data_usbkey_serial><data_username>");
        appendFieldText(text, *userName, userName->ValueAt(row));
        text.append(u"</data_username><data_add_date>");
        appendFieldText(text, *addDate, addDate->ValueAt(row));
        text.append(u"</data_add_date></record>");
        // Room for the rest, judged by the first line, so the text is not
        // copied again and again as it grows.
        if (row == 0)
            text.reserve(text.size() + (text.size() - lineStart + 8) * qsizetype(count) + footerLine().size() + 1);
    }
    text += u'\n';
    text += footerLine();
    if (progress && !progress(count, count))
        return std::nullopt;
    if (range.first <= range.last)
        listing.listed = range;
    return listing;
}
