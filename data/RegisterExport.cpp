#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"
#include "ado/EDatabaseError.h"
#include "ado/TADOQuery.h"

#include "ado/TDataSet.h"
#include "ado/TField.h"

#include <algorithm>
#include <iterator>
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

// Characters written through a raw pointer into a QString that grows on
// demand: the export appends hundreds of short pieces per entry, which
// QString::append would each check and copy on their own.
class TextSink {
public:
    explicit TextSink(QString& out) : m_out(out), m_at(begin() + out.size()), m_limit(m_at) {}
    ~TextSink() { m_out.truncate(m_at - begin()); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    // Room for n more characters.
    void room(qsizetype n)
    {
        if (m_limit - m_at >= n) return;
        const qsizetype used = m_at - begin();
        m_out.resize(std::max(used + n, 2 * used + 256));
        m_at = begin() + used;
        m_limit = begin() + m_out.size();
    }
    qsizetype size() const { return m_at - reinterpret_cast<const char16_t*>(m_out.constData()); }

    // The put... calls need room() for what they write.
    void put(char16_t c) { *m_at++ = c; }
    void put(const char16_t* text, qsizetype n) { m_at = std::copy_n(text, n, m_at); }
    void put(QStringView text) { put(text.utf16(), text.size()); }
    template <qsizetype N>
    void put(const char16_t (&literal)[N]) { put(literal, N - 1); }
    void putAscii(const char* text, qsizetype n) { m_at = std::copy(text, text + n, m_at); }

    // Decimal digits of a number, as QString::number writes it (21 at most).
    void putNumber(qint64 value)
    {
        char digits[24];
        char* const end = digits + sizeof digits;
        char* at = end;
        quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
        do {
            *--at = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) *--at = '-';
        putAscii(at, end - at);
    }
    void putTwoDigits(int value)
    {
        put(char16_t(u'0' + value / 10));
        put(char16_t(u'0' + value % 10));
    }

    // The value as escapeXml gives it.
    void putEscaped(QStringView value)
    {
        room(8 * value.size()); // "&#x2028;" is the longest a character gets
        const char16_t* const begin = value.utf16();
        const char16_t* const end = begin + value.size();
        for (const char16_t* at = begin; at != end; ++at) {
            const char16_t u = *at;
            if (plain(u)) put(u);
            else if (QChar::isHighSurrogate(u) && at + 1 != end && QChar::isLowSurrogate(at[1])) {
                put(at, 2); // a whole pair stays
                ++at;
            } else if (u == u'&') put(u"&amp;");
            else if (u == u'<') put(u"&lt;");
            else if (u == u'>') put(u"&gt;");
            else if (writtenAsReference(u)) {
                put(u"&#x");
                const QString hex = QString::number(uint(u), 16).toUpper();
                put(QStringView(hex));
                put(u';');
            } else put(QChar::ReplacementCharacter); // outside XML, or half a pair
        }
    }

private:
    char16_t* begin() { return reinterpret_cast<char16_t*>(m_out.data()); }

    QString& m_out;
    char16_t* m_at;
    char16_t* m_limit;
};

// A field's text as TField::textOf gives it, escaped, written straight into
// the line: text, whole numbers and dates (the register's columns) without
// a string of their own; any other type through textOf.
void putFieldText(TextSink& out, const TField& field, const jet::Value& value)
{
    if (const auto* text = std::get_if<std::u16string>(&value)) {
        out.putEscaped(QStringView(text->data(), qsizetype(text->size())));
    } else if (const auto* number = std::get_if<int64_t>(&value)) {
        out.room(24);
        out.putNumber(*number);
    } else if (const auto* date = std::get_if<jet::DateTime>(&value)) {
        // "yyyy/M/d H:mm:ss", the time left out at midnight (TField::formatDateTime).
        const jet::CivilTime c = jet::toCivil(*date);
        if (c.year < 0 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour < 0 ||
            c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59) {
            out.putEscaped(TField::formatDateTime(*date));
            return;
        }
        out.room(24);
        const char year[4] = {char('0' + c.year / 1000), char('0' + c.year / 100 % 10), char('0' + c.year / 10 % 10),
                              char('0' + c.year % 10)};
        out.putAscii(year, 4);
        out.put(u'/');
        out.putNumber(c.month);
        out.put(u'/');
        out.putNumber(c.day);
        if (c.hour != 0 || c.minute != 0 || c.second != 0) {
            out.put(u' ');
            out.putNumber(c.hour);
            out.put(u':');
            out.putTwoDigits(c.minute);
            out.put(u':');
            out.putTwoDigits(c.second);
        }
    } else if (!jet::isNull(value)) {
        out.putEscaped(field.textOf(value));
    }
}

} // namespace

void RegisterExport::appendEscaped(QString& out, QStringView value)
{
    TextSink sink(out);
    sink.putEscaped(value);
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
    {
        TextSink sink(line);
        sink.room(160);
        sink.put(u"<record><data_id>");
        sink.putEscaped(id);
        sink.room(40);
        sink.put(u"</data_id><data_usbkey_serial>");
        sink.putEscaped(serial);
        sink.room(40);
        sink.put(u"</data_usbkey_serial><data_username>");
        sink.putEscaped(userName);
        sink.room(40);
        sink.put(u"</data_username><data_add_date>");
        sink.putEscaped(addDate);
        sink.room(40);
        sink.put(u"</data_add_date></record>");
    }
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
    listing.text = headerLine();
    listing.listed.reserve(std::size_t(count));
    {
        TextSink text(listing.text);
        for (int row = 0; row < count; ++row) {
            if (progress && row % kProgressStep == 0 && !progress(row, count))
                return std::nullopt;
            const qsizetype lineStart = text.size();
            text.room(40);
            text.put(u"\n<record><data_id>");
            const jet::Value idValue = id->ValueAt(row);
            putFieldText(text, *id, idValue);
            // A pending entry always has an id (the database assigns it); one
            // without would be written but could not be marked, so it is
            // listed and left out of the ids.
            if (!jet::isNull(idValue)) {
                const auto* number = std::get_if<int64_t>(&idValue);
                listing.listed.push_back(number ? *number : id->textOf(idValue).toLongLong());
            }
            text.room(40);
            text.put(u"</data_id><data_usbkey_serial>");
            putFieldText(text, *serial, serial->ValueAt(row));
            text.room(40);
            text.put(u"</data_usbkey_serial><data_username>");
            putFieldText(text, *userName, userName->ValueAt(row));
            text.room(40);
            text.put(u"</data_username><data_add_date>");
            putFieldText(text, *addDate, addDate->ValueAt(row));
            text.room(40);
            text.put(u"</data_add_date></record>");
            // Room for the rest, judged by the first line, so the text is
            // not copied again and again as it grows.
            if (row == 0) text.room((text.size() - lineStart + 8) * qsizetype(count) + 16);
        }
        const QString footer = footerLine();
        text.room(footer.size() + 1);
        text.put(u'\n');
        text.put(QStringView(footer));
    }
    if (progress && !progress(count, count))
        return std::nullopt;
    std::sort(listing.listed.begin(), listing.listed.end());
    listing.listed.erase(std::unique(listing.listed.begin(), listing.listed.end()), listing.listed.end());
    return listing;
}

std::optional<RegisterExport::Listing> RegisterExport::build(TADOQuery& pending, const Progress& progress)
{
    constexpr int kAttempts = 5;
    for (int attempt = 0;; ++attempt) {
        if (pending.Active()) pending.Close();
        pending.setSQLText(RegisterStatements::pendingEntries());
        pending.Open();
        pending.FetchAll();
        const uint64_t listing = pending.Generation();
        std::optional<Listing> built = fromDataSet(pending, progress);
        if (!built || pending.Generation() == listing) {
            pending.Close();
            return built;
        }
        if (attempt + 1 >= kAttempts)
            throw EDatabaseError(QStringLiteral("The register kept changing while the export was built; try again"));
    }
}

std::vector<qint64> RegisterExport::idsHeldBy(QStringView text, const std::vector<qint64>& listed)
{
    static constexpr QStringView open = u"<data_id>";
    static constexpr QStringView close = u"</data_id>";
    std::vector<qint64> named;
    for (qsizetype at = text.indexOf(open); at >= 0; at = text.indexOf(open, at)) {
        at += open.size();
        const qsizetype end = text.indexOf(close, at);
        if (end < 0)
            break;
        bool isNumber = false;
        const qint64 id = text.sliced(at, end - at).trimmed().toLongLong(&isNumber);
        if (isNumber)
            named.push_back(id);
        at = end + close.size();
    }
    std::sort(named.begin(), named.end());
    std::vector<qint64> held;
    std::set_intersection(listed.begin(), listed.end(), named.begin(), named.end(), std::back_inserter(held));
    held.erase(std::unique(held.begin(), held.end()), held.end());
    return held;
}

QString RegisterExport::withoutRecords(const QString& text, const std::vector<qint64>& ids)
{
    static constexpr QStringView openRecord = u"<record>";
    static constexpr QStringView closeRecord = u"</record>";
    static constexpr QStringView openId = u"<data_id>";
    static constexpr QStringView closeId = u"</data_id>";
    const QStringView all(text);
    // A text box gives its lines separated by U+2029; a file or a paste may
    // hold CR LF, LF, CR or U+2028.
    auto isBreak = [](QChar c) {
        return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    };
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    QString kept;
    kept.reserve(text.size());
    qsizetype copied = 0;
    for (qsizetype start = all.indexOf(openRecord); start >= 0;) {
        const qsizetype idAt = all.indexOf(openId, start);
        const qsizetype idEnd = idAt < 0 ? -1 : all.indexOf(closeId, idAt);
        qsizetype end = all.indexOf(closeRecord, start);
        if (end < 0) break;
        end += closeRecord.size();
        bool isNumber = false;
        qint64 id = 0;
        if (idAt >= 0 && idEnd >= 0 && idEnd < end)
            id = all.sliced(idAt + openId.size(), idEnd - idAt - openId.size()).trimmed().toLongLong(&isNumber);
        if (isNumber && std::binary_search(ids.begin(), ids.end(), id)) {
            // A record alone on its line goes with its line break.
            qsizetype from = start, to = end;
            while (from > copied && isBlank(all[from - 1])) --from;
            qsizetype after = to;
            while (after < all.size() && isBlank(all[after])) ++after;
            const bool ownLine = (from == 0 || isBreak(all[from - 1])) && (after == all.size() || isBreak(all[after]));
            if (ownLine) {
                to = after;
                if (to < all.size()) {
                    to += (all[to] == u'\r' && to + 1 < all.size() && all[to + 1] == u'\n') ? 2 : 1;
                } else if (from > copied) {
                    // The last line: the break before it goes instead.
                    --from;
                    if (all[from] == u'\n' && from > copied && all[from - 1] == u'\r') --from;
                }
            } else {
                from = start;
            }
            kept += all.sliced(copied, from - copied);
            copied = to;
        }
        start = all.indexOf(openRecord, end);
    }
    kept += all.sliced(copied);
    return kept;
}
