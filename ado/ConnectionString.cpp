#include "ado/ConnectionString.h"

#include "ado/EDatabaseError.h"

#include <QRegularExpression>

QMap<QString, QString> ConnectionString::parse(const QString& text)
{
    QMap<QString, QString> parts;
    QString lastKey;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        int eq = int(text.indexOf(u'=', i));
        int semicolon = int(text.indexOf(u';', i));
        if (eq < 0 || (semicolon >= 0 && semicolon < eq)) {
            QString stray = text.mid(i, semicolon < 0 ? -1 : semicolon - i).trimmed();
            // An unquoted password holding ';' leaves its tail here: say where, not what.
            if (!stray.isEmpty() && isPasswordKey(lastKey))
                throw EDatabaseError(QStringLiteral("The connection string is not valid: text without a name follows "
                                                    "the value of '%1' (quote a value that holds ';')")
                                         .arg(lastKey));
            if (!stray.isEmpty())
                throw EDatabaseError(QStringLiteral("The connection string is not valid: '%1' has no value").arg(stray));
            if (semicolon < 0) break;
            i = semicolon + 1;
            continue;
        }
        QString key = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < n && text[i].isSpace()) ++i;
        QString value;
        if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
            QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                throw EDatabaseError(QStringLiteral("The connection string is not valid: the value of '%1' has no closing quote").arg(key));
            while (i < n && text[i] != u';') {
                if (!text[i].isSpace())
                    throw EDatabaseError(QStringLiteral("The connection string is not valid: text after the quoted value of '%1'").arg(key));
                ++i;
            }
        } else {
            int end = int(text.indexOf(u';', i));
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end < 0 ? n : end;
        }
        if (i < n && text[i] == u';') ++i;
        if (key.isEmpty()) throw EDatabaseError(QStringLiteral("The connection string is not valid: a value has no name"));
        parts.insert(key, value);
        lastKey = key;
    }
    return parts;
}

bool ConnectionString::holdsPassword(const QMap<QString, QString>& parts)
{
    for (auto part = parts.constBegin(); part != parts.constEnd(); ++part)
        if (isPasswordKey(part.key()) && !part.value().isEmpty()) return true;
    static const QRegularExpression odbcPassword(QStringLiteral("(?:^|;)\\s*pwd\\s*=\\s*[^;\\s]"),
                                                 QRegularExpression::CaseInsensitiveOption);
    return odbcPassword.match(parts.value(QStringLiteral("extended properties"))).hasMatch();
}
