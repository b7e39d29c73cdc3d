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

// Characters that XML 1.0 cannot hold at all, not even as a reference.
bool outsideXml(char16_t c)
{
    return (c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') || c == 0xFFFE || c == 0xFFFF;
}

} // namespace

QString RegisterExport::escapeXml(const QString& value)
{
    const auto special = [](QChar c) {
        const char16_t u = c.unicode();
        return u == u'&' || u == u'<' || u == u'>' || writtenAsReference(u) || outsideXml(u) || c.isSurrogate();
    };
    if (std::none_of(value.begin(), value.end(), special))
        return value;
    QString escaped;
    escaped.reserve(value.size() + 16);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const char16_t u = c.unicode();
        if (u == u'&') escaped += QStringLiteral("&amp;");
        else if (u == u'<') escaped += QStringLiteral("&lt;");
        else if (u == u'>') escaped += QStringLiteral("&gt;");
        else if (writtenAsReference(u))
            escaped += QStringLiteral("&#x") + QString::number(uint(u), 16).toUpper() + u';';
        else if (outsideXml(u)) escaped += QChar(QChar::ReplacementCharacter);
        else if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
            escaped += c;
            escaped += value.at(++i);
        } else if (c.isSurrogate()) escaped += QChar(QChar::ReplacementCharacter); // half a pair
        else escaped += c;
    }
    return escaped;
}

QString RegisterExport::recordLine(const QString& id, const QString& serial, const QString& userName,
                                   const QString& addDate)
{
    return QStringLiteral("<record><data_id>") + escapeXml(id) + QStringLiteral("</data_id><data_usbkey_serial>") +
           escapeXml(serial) + QStringLiteral("</data_usbkey_serial><data_username>") + escapeXml(userName) +
           QStringLiteral("</data_username><data_add_date>") + escapeXml(addDate) +
           QStringLiteral("</data_add_date></record>");
}

std::optional<RegisterExport::Listing> RegisterExport::fromDataSet(const TDataSet& pending, const Progress& progress)
{
    Listing listing;
    const int count = pending.RecordCount();
    if (count == 0) {
        listing.lines << noDataLine();
        return listing;
    }
    const TField* id = pending.FieldByName(QStringLiteral("id"));
    const TField* serial = pending.FieldByName(QStringLiteral("usbkey_serial"));
    const TField* userName = pending.FieldByName(QStringLiteral("username"));
    const TField* addDate = pending.FieldByName(QStringLiteral("add_date"));

    constexpr int kProgressStep = 500;
    listing.lines.reserve(count + 2);
    listing.lines << headerLine();
    IdRange range{std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()};
    for (int row = 0; row < count; ++row) {
        if (progress && row % kProgressStep == 0 && !progress(row, count))
            return std::nullopt;
        // A pending entry always has an id (the database assigns it); one
        // without would be written but could not be marked, so it is
        // listed and left out of the range.
        if (!id->IsNullAt(row)) {
            const qint64 value = id->AsStringAt(row).toLongLong();
            range.first = std::min(range.first, value);
            range.last = std::max(range.last, value);
        }
        listing.lines << recordLine(id->AsStringAt(row), serial->AsStringAt(row), userName->AsStringAt(row),
                                    addDate->AsStringAt(row));
    }
    listing.lines << footerLine();
    if (progress && !progress(count, count))
        return std::nullopt;
    if (range.first <= range.last)
        listing.listed = range;
    return listing;
}
