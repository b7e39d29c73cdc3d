// Register texts that are hostile to XML or to GBK, through the export
// dialog as the operator runs it (build, the text box, save): the file must
// be well-formed GBK XML for Qt's reader and for libxml2 (xmllint), keep one
// record per line, and give back every value. Characters that XML 1.0 cannot
// hold at all (control characters other than tab, CR and LF; U+FFFE, U+FFFF;
// half a surrogate pair) come back as U+FFFD. Covered in
// tests/app/ExportTest.cpp: & < > escaping of the record line, GBK bytes of
// characters outside GBK, markup and a non-GBK character in a saved file.
#include "AppTestSupport.h"
#include "HostileSupport.h"

#include "app/UnitDM.h"
#include "data/RegisterExport.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"
#include "jet/Database.h"
#include "jet/Table.h"

#include <QPushButton>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

namespace {

struct HostileValue {
    const char* name;
    QString stored;   // as the register holds it
    QString exported; // as an XML reader gets it back from the file
};

const QChar kReplacement(QChar::ReplacementCharacter);

QList<HostileValue> hostileValues()
{
    const QString nul(QChar(0));
    const QString r(kReplacement);
    return {
        {"XML specials", QStringLiteral("A&B<1>\"x'"), QStringLiteral("A&B<1>\"x'")},
        {"CDATA end", QStringLiteral("x]]>y"), QStringLiteral("x]]>y")},
        {"CDATA section", QStringLiteral("<![CDATA[z]]>"), QStringLiteral("<![CDATA[z]]>")},
        {"entity and reference texts", QStringLiteral("&amp;&#x41;&lt;&#"), QStringLiteral("&amp;&#x41;&lt;&#")},
        {"tab", QStringLiteral("a\tb"), QStringLiteral("a\tb")},
        {"line feed", QStringLiteral("a\nb"), QStringLiteral("a\nb")},
        {"carriage return", QStringLiteral("a\rb"), QStringLiteral("a\rb")},
        {"CR LF", QStringLiteral("a\r\nb\n"), QStringLiteral("a\r\nb\n")},
        {"line and paragraph separators", QStringLiteral("a\u2028b\u2029c"), QStringLiteral("a\u2028b\u2029c")},
        {"text frame marks", QStringLiteral("a\uFDD0b\uFDD1c"), QStringLiteral("a\uFDD0b\uFDD1c")},
        {"NEL and DEL", QStringLiteral("a\u0085b\u007F"), QStringLiteral("a\u0085b\u007F")},
        {"blanks around", QStringLiteral("  x\u00A0 "), QStringLiteral("  x\u00A0 ")},
        {"control characters", QStringLiteral("a\u0001b\u001Bc\u0008d\u000B\u000C"), "a" + r + "b" + r + "c" + r + "d" + r + r},
        {"NUL", "a" + nul + "b", "a" + r + "b"},
        {"U+FFFE and U+FFFF", QStringLiteral("a\uFFFE\uFFFF"), "a" + r + r},
        {"half a surrogate pair", "a" + QString(QChar(0xDC00)) + "b" + QString(QChar(0xD800)), "a" + r + "b" + r},
        {"outside GBK", QStringLiteral("😀한𠀀\u0301"), QStringLiteral("😀한𠀀\u0301")},
        {"Chinese among specials", QStringLiteral("王<&>五]]>"), QStringLiteral("王<&>五]]>")},
        {"private use and object mark", QStringLiteral("\uE000\uFFFC\uFFFD"), QStringLiteral("\uE000\uFFFC\uFFFD")},
    };
}

std::u16string utf16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
}

// Characters of the XML 1.0 Char production.
bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

struct Record {
    QString serial;
    QString userName;
};

// The records of an export file by id; an empty map and the reader's
// complaint when it is not well-formed.
QMap<int, Record> parseExport(QXmlStreamReader& xml, QString* error)
{
    QMap<int, Record> records;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"record") continue;
        QMap<QString, QString> fields;
        while (xml.readNextStartElement()) fields[xml.name().toString()] = xml.readElementText();
        records[fields.value(QStringLiteral("data_id")).toInt()] = {fields.value(QStringLiteral("data_usbkey_serial")),
                                                                    fields.value(QStringLiteral("data_username"))};
    }
    if (xml.hasError()) {
        *error = QStringLiteral("line %1, column %2: %3").arg(xml.lineNumber()).arg(xml.columnNumber()).arg(xml.errorString());
        return {};
    }
    return records;
}

QString visible(const QString& text)
{
    QString out;
    for (QChar c : text)
        out += (c.unicode() < 0x20 || c.unicode() > 0x7E) ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                                                          : QString(c);
    return out;
}

} // namespace

class ExportHostileTest : public QObject {
    Q_OBJECT

private slots:
    void hostileTextsGiveWellFormedGbkXmlThatRoundTrips()
    {
        RegisterFolder folder;
        QString error;
        QVERIFY2(folder.makeRegister(1, 0, &error), qPrintable(error));
        const QList<HostileValue> values = hostileValues();
        {
            // Recorded by another program: straight into the table.
            auto db = jet::Database::open(folder.database().toStdString(), jet::Pager::Access::ReadWrite);
            jet::WriteTransaction tx(*db);
            jet::Table& keys = db->table("all_key");
            for (const HostileValue& v : values)
                keys.insertRow({std::nullopt, jet::Value{utf16(v.stored)}, jet::Value{utf16(v.stored)},
                                jet::Value{jet::fromCivil(jet::CivilTime{2025, 3, 15, 8, 30, 0})}, jet::Value{int64_t(1)}});
            tx.commit();
        }
        // Entry 1 is the demo's own, already exported; the hostile ones follow from 2.
        auto idOf = [](int index) { return index + 2; };

        TDM dm(folder.path());
        QVERIFY2(dm.DataModuleCreate(), qPrintable(dm.ConnectionError()));
        TFrmImport dialog(dm.ADOConn, nullptr);
        const QString target = folder.filePath(QStringLiteral("export.xml"));
        dialog.SaveDialog1->setChooser([&target](QWidget*, const QString&) { return target; });
        dialog.show();
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        ModalScript script;
        script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(dialog.Button2, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].text, TFrmImport::savedMessage(QDir::toNativeSeparators(target)));

        const QByteArray bytes = hostile::readBytes(target);
        QStringDecoder gbk("GBK");
        const QString text = gbk.decode(bytes);
        QVERIFY(!gbk.hasError());
        // Every character is one XML may hold; one record per line.
        for (qsizetype i = 0; i < text.size(); ++i) {
            char32_t c = text.at(i).unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
                ++i;
            }
            QVERIFY2(isXmlChar(c),
                     qPrintable(QStringLiteral("U+%1 at %2 of the file").arg(uint(c), 4, 16, QLatin1Char('0')).arg(i)));
        }
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), values.size() + 3); // header, the hostile entries, footer, ""
        QCOMPARE(lines.first(), RegisterExport::headerLine());
        QCOMPARE(lines.at(lines.size() - 2), RegisterExport::footerLine());

        // Read back from the decoded text and from the bytes (the reader
        // follows the declared encoding).
        QString parseError;
        QXmlStreamReader fromText(text);
        const QMap<int, Record> records = parseExport(fromText, &parseError);
        QVERIFY2(parseError.isEmpty(), qPrintable(parseError));
        QXmlStreamReader fromBytes(bytes);
        QCOMPARE(parseExport(fromBytes, &parseError).size(), records.size());
        QVERIFY2(parseError.isEmpty(), qPrintable(parseError));
        QCOMPARE(records.size(), values.size());
        for (int i = 0; i < values.size(); ++i) {
            const Record record = records.value(idOf(i));
            const QString& expected = values[i].exported;
            QVERIFY2(record.serial == expected && record.userName == expected,
                     qPrintable(QStringLiteral("%1: \"%2\" came back as \"%3\"")
                                    .arg(QString::fromLatin1(values[i].name), visible(expected), visible(record.serial))));
        }

        // libxml2 reads the file as well, when it is installed.
        const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
        if (!xmllint.isEmpty()) {
            QProcess lint;
            lint.start(xmllint, {QStringLiteral("--noout"), target});
            QVERIFY(lint.waitForFinished(30000));
            QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());
        }
    }
};

REGISTER_HOSTILE_TEST(ExportHostileTest);

#include "ExportHostileTest.moc"
