#pragma once

#include <QMap>
#include <QString>

// An ADO connection string: "Key=Value;Key2=\"Value;2\"". Keys are matched
// without regard to letter case and spaces around them.
class ConnectionString {
public:
    // Keys (lower case, trimmed) and values. A value may be quoted with " or
    // ' to hold a semicolon; a doubled quote inside stands for one. Throws
    // EDatabaseError for text that is not in that shape, never quoting what
    // follows a password.
    static QMap<QString, QString> parse(const QString& text);
    // Keys whose values are passwords: messages never quote them.
    static bool isPasswordKey(const QString& key) { return key.contains(QStringLiteral("password")); }
    // Whether parsed parts hold a password: a password key with a value, or
    // an ODBC string's own PWD= in Extended Properties.
    static bool holdsPassword(const QMap<QString, QString>& parts);
};
