#include "ado/LoginQuery.h"

QString LoginQuery::quoted(const QString& text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QString LoginQuery::accountLookup(const QString& userName, const QString& password)
{
    return QStringLiteral("select * from counted where is_del = 1 and username = ") + quoted(userName) +
           QStringLiteral(" and password =") + quoted(password);
}
