#include "ado/PostgresDialect.h"

#include "ado/EDatabaseError.h"
#include "ado/postgres/PostgresQuoting.h"
#include "base/AccessDate.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

QString quotedText(const QString& text)
{
    try {
        return QString::fromStdString(postgres::Quoting::text(text.toStdString()));
    } catch (const postgres::QuotingError& e) {
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
}

// An Access date literal's text (between the #s) as the server's timestamp,
// read as the file's own statements read it.
QString timestampOf(const QString& accessDate)
{
    const std::optional<base::AccessDate::Fields> f = base::AccessDate::parse(accessDate.toStdString());
    if (!f)
        throw EDatabaseError(QStringLiteral("#%1# is not a date the statement can give the database server").arg(accessDate));
    char text[48];
    std::snprintf(text, sizeof text, "timestamp '%04d-%02d-%02d %02d:%02d:%02d'", f->year, f->month, f->day, f->hour,
                  f->minute, f->second);
    return QString::fromLatin1(text);
}

} // namespace

QString PostgresDialect::identifier(const QString& name)
{
    try {
        return QString::fromStdString(postgres::Quoting::identifier(name.toStdString()));
    } catch (const postgres::QuotingError& e) {
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
}

QString PostgresDialect::translate(const QString& accessStatement)
{
    const QString& s = accessStatement;
    QString out;
    out.reserve(s.size() + 16);
    const qsizetype n = s.size();
    auto closing = [&](qsizetype from, QChar c, const char* what) {
        const qsizetype at = s.indexOf(c, from);
        if (at < 0)
            throw EDatabaseError(QStringLiteral("The statement has %1 without its closing %2").arg(QLatin1String(what), c));
        return at;
    };
    for (qsizetype i = 0; i < n;) {
        const QChar c = s[i];
        if ((c == u'E' || c == u'e') && i + 1 < n && s[i + 1] == u'\'' &&
            (i == 0 || !(s[i - 1].isLetterOrNumber() || s[i - 1] == u'_'))) {
            // A text in the server's own escape quoting passes whole.
            qsizetype j = i + 2;
            for (;; ++j) {
                if (j >= n) throw EDatabaseError(QStringLiteral("The statement has an E'text' without its closing '"));
                if (s[j] == u'\\') ++j;
                else if (s[j] == u'\'') {
                    if (j + 1 < n && s[j + 1] == u'\'') ++j;
                    else break;
                }
            }
            out += QStringView(s).sliced(i, j + 1 - i);
            i = j + 1;
        } else if (c == u'\'') {
            // A text literal (doubled quotes standing for one) is written
            // again in the server's quoting, which reads the same text
            // whatever the session's settings.
            qsizetype j = i + 1;
            QString text;
            for (;; ++j) {
                const qsizetype end = closing(j, u'\'', "a text");
                text += QStringView(s).sliced(j, end - j);
                j = end;
                if (j + 1 < n && s[j + 1] == u'\'') {
                    text += u'\'';
                    ++j;
                    continue;
                }
                break;
            }
            out += quotedText(text);
            i = j + 1;
        } else if (c == u'"') {
            // A name in the server's own quotes passes whole.
            const qsizetype end = closing(i + 1, u'"', "a \"name\"");
            out += QStringView(s).sliced(i, end + 1 - i);
            i = end + 1;
        } else if (c == u'[') {
            const qsizetype end = closing(i + 1, u']', "a [name]");
            out += identifier(s.sliced(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == u'#') {
            const qsizetype end = closing(i + 1, u'#', "a #date#");
            out += timestampOf(s.sliced(i + 1, end - i - 1));
            i = end + 1;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

QString PostgresDialect::literal(const jet::Value& value)
{
    struct Visitor {
        QString operator()(std::monostate) const { return QStringLiteral("NULL"); }
        QString operator()(bool b) const { return b ? QStringLiteral("true") : QStringLiteral("false"); }
        QString operator()(int64_t i) const { return QString::number(i); }
        QString operator()(double d) const
        {
            if (std::isnan(d)) return QStringLiteral("'NaN'::float8");
            if (std::isinf(d)) return d > 0 ? QStringLiteral("'Infinity'::float8") : QStringLiteral("'-Infinity'::float8");
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "%.17g", d);
            return QStringLiteral("'%1'::float8").arg(QLatin1String(buffer));
        }
        QString operator()(jet::Currency c) const { return QString::fromStdString(jet::currencyToString(c)); }
        QString operator()(jet::DateTime dt) const
        {
            const jet::CivilTime c = jet::toCivil(dt);
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "timestamp '%04d-%02d-%02d %02d:%02d:%02d.%03d'", c.year, c.month, c.day,
                          c.hour, c.minute, c.second, c.millisecond);
            return QString::fromLatin1(buffer);
        }
        QString operator()(const std::u16string& text) const
        {
            return quotedText(QString::fromUtf16(text.data(), qsizetype(text.size())));
        }
        QString operator()(const jet::Bytes& bytes) const
        {
            const QByteArray hex = QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex();
            return quotedText(QStringLiteral("\\x") + QString::fromLatin1(hex)) + QStringLiteral("::bytea");
        }
        QString operator()(const jet::Guid& g) const
        {
            return quotedText(QString::fromStdString(jet::guidToString(g))) + QStringLiteral("::uuid");
        }
        QString operator()(const jet::Decimal& d) const { return QString::fromStdString(jet::decimalToString(d)); }
    };
    return std::visit(Visitor{}, value);
}
