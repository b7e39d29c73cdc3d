#pragma once

#include <QFile>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

// The ids of an export file, after checking that it is one: the declaration
// line, record lines, "</root>", CR LF after each, and an XML reader's yes.
// *problem says what is wrong when it is not (and the ids are then empty).
inline QList<int> idsOfExportFile(const QString& path, QString* problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *problem = path + QStringLiteral(": cannot be read");
        return {};
    }
    const QByteArray text = f.readAll();
    if (!text.startsWith("<?xml version=\"1.0\" encoding=\"GBK\"?><root>\r\n") || !text.endsWith("</root>\r\n") ||
        !text.contains("<record>")) {
        *problem = path + QStringLiteral(": not a whole export file (%1 bytes)").arg(text.size());
        return {};
    }
    if (QProcess::execute(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path}) != 0) {
        *problem = path + QStringLiteral(": xmllint refuses it");
        return {};
    }
    QList<int> ids;
    static const QRegularExpression id(QStringLiteral("<data_id>(\\d+)</data_id>"));
    for (auto m = id.globalMatch(QString::fromLatin1(text)); m.hasNext();) ids << m.next().captured(1).toInt();
    return ids;
}
