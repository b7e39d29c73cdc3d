// The export of pending register entries: the text, the GBK file and which
// entries a save marks, through the export dialog's own buttons.
#include "AppTestSupport.h"

#include "ado/TADOQuery.h"
#include "app/TApplication.h"
#include "app/UnitDM.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "data/GbkTextFile.h"
#include "data/RegisterExport.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QtTest>

#include <memory>
#include <optional>

using ExportStates = QMap<int, int>;

namespace {

const QByteArray kHeader = "<?xml version=\"1.0\" encoding=\"GBK\"?><root>\r\n";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class ExportTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RegisterFolder> m_folder;
    std::unique_ptr<TDM> m_dm;
    std::unique_ptr<TFrmImport> m_dialog;
    QString m_chosen; // what the save dialog answers; empty = cancel

    void openRegister(int entries, int pending, const QStringList& demoOptions = {})
    {
        m_folder = std::make_unique<RegisterFolder>();
        QString error;
        QVERIFY2(m_folder->makeRegister(entries, pending, &error, QString(), false, demoOptions), qPrintable(error));
        m_dm = std::make_unique<TDM>(m_folder->path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
        m_dialog = std::make_unique<TFrmImport>(m_dm->ADOConn, nullptr);
        m_dialog->SaveDialog1->setChooser([this](QWidget*, const QString&) { return m_chosen; });
        m_dialog->show();
    }

    // Another program (or the same connection) records an entry.
    void recordEntry(const QString& values)
    {
        TADOQuery insert;
        insert.setConnection(m_dm->ADOConn);
        insert.setSQLText(QStringLiteral("insert into all_key (USBKEY_SERIAL, username, add_date) values (") + values +
                          u')');
        QCOMPARE(insert.ExecSQL(), 1);
    }

    QStringList memoLines() const { return m_dialog->Memo1->toPlainText().split(u'\n'); }

    // Edits of the built text, made with the keyboard as an operator makes them.
    enum Edit { RecordLineDeleted, TextReplaced, IdChanged };
    void editMemo(Edit edit)
    {
        QPlainTextEdit* memo = m_dialog->Memo1;
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_Home, Qt::ControlModifier);
        switch (edit) {
        case RecordLineDeleted:  // the second record line, id 4
            QTest::keyClick(memo, Qt::Key_Down);
            QTest::keyClick(memo, Qt::Key_Down);
            QTest::keyClick(memo, Qt::Key_Down, Qt::ShiftModifier);
            QTest::keyClick(memo, Qt::Key_Delete);
            break;
        case TextReplaced:
            QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(memo, "nothing of the register");
            break;
        case IdChanged:  // <record><data_id>5 becomes 2, an entry exported before
            for (int i = 0; i < 3; ++i) QTest::keyClick(memo, Qt::Key_Down);
            for (int i = 0; i < int(qstrlen("<record><data_id>")); ++i) QTest::keyClick(memo, Qt::Key_Right);
            QTest::keyClick(memo, Qt::Key_Delete);
            QTest::keyClicks(memo, "2");
            break;
        }
    }

    // Clicks "保存至文件" to `path`; the success box (if any) is answered and returned.
    QList<SeenBox> save(const QString& path, bool expectBox = true)
    {
        m_chosen = path;
        ModalScript script;
        if (expectBox) script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(m_dialog->Button2, Qt::LeftButton);
        script.finish();
        if (!script.problems().isEmpty()) qWarning() << script.problems();
        return script.boxes();
    }

private slots:
    void initTestCase() { TApplication::setUpLocalisation(*qApp); }

    void cleanup()
    {
        m_dialog.reset();
        m_dm.reset();
        m_folder.reset();
    }

    void recordLine_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("line");
        QTest::newRow("ordinary") << QStringList{"7", "USBK-1", "admin", "2025/3/15 8:30:00"}
                                  << "<record><data_id>7</data_id><data_usbkey_serial>USBK-1</data_usbkey_serial>"
                                     "<data_username>admin</data_username><data_add_date>2025/3/15 8:30:00"
                                     "</data_add_date></record>";
        QTest::newRow("markup") << QStringList{"8", "A&B<1>", "<x>&amp;", ""}
                                << "<record><data_id>8</data_id><data_usbkey_serial>A&amp;B&lt;1&gt;</data_usbkey_serial>"
                                   "<data_username>&lt;x&gt;&amp;amp;</data_username><data_add_date></data_add_date>"
                                   "</record>";
        // Line breaks stay inside the line as references; characters XML
        // cannot hold become U+FFFD; a whole surrogate pair is kept.
        QTest::newRow("breaks") << QStringList{"9", "a\r\nb", QStringLiteral("\u2028\u2029\uFDD0\uFDD1x"), "\n"}
                                << "<record><data_id>9</data_id><data_usbkey_serial>a&#xD;&#xA;b</data_usbkey_serial>"
                                   "<data_username>&#x2028;&#x2029;&#xFDD0;&#xFDD1;x</data_username>"
                                   "<data_add_date>&#xA;</data_add_date></record>";
        QTest::newRow("outside XML")
            << QStringList{"10", QStringLiteral("\t\u0001\u001F\uFFFE\uFFFF") + QChar(0) + "z",
                           QStringLiteral("王😀") + QChar(0xDC00) + "q" + QChar(0xD800),
                           QStringLiteral("\u00A0\uE000\uFDCF\uFDD2\uFFFD")}
            << QStringLiteral("<record><data_id>10</data_id><data_usbkey_serial>\t\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"
                              "</data_usbkey_serial><data_username>王😀\uFFFDq\uFFFD</data_username>"
                              "<data_add_date>\u00A0\uE000\uFDCF\uFDD2\uFFFD</data_add_date></record>");
    }
    void recordLine()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, line);
        QCOMPARE(RegisterExport::recordLine(values[0], values[1], values[2], values[3]), line);
    }

    void gbkBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << "<root>" << QByteArray("<root>");
        QTest::newRow("chinese") << "没有数据" << QByteArray::fromHex("c3bbd3d0cafdbedd");
        QTest::newRow("arrows") << "↓↑" << QByteArray::fromHex("a1fda1fc");
        QTest::newRow("outside GBK") << "a😀b" << QByteArray("a&#x1F600;b");
        QTest::newRow("half a pair") << QString(QChar(0xD800)) + "x" << QByteArray("&#xFFFD;x");
        QTest::newRow("private use") << QStringLiteral("\uE000王") << QByteArray("&#xE000;\xcd\xf5");
        QTest::newRow("halves around a pair") << QString(QChar(0xDC00)) + QStringLiteral("😀") + QChar(0xD800)
                                              << QByteArray("&#xFFFD;&#x1F600;&#xFFFD;");
        QTest::newRow("mixed runs") << QStringLiteral("ab王\uE000\uE000王😀😀c\uF8FF\uF900")
                                    << QByteArray("ab\xcd\xf5&#xE000;&#xE000;\xcd\xf5&#x1F600;&#x1F600;c&#xF8FF;&#xF900;");
    }
    void gbkBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(GbkTextFile::encode(text), bytes);
    }

    // Every character of the BMP but surrogates, in one text: each one that GBK holds as
    // the converter gives it alone (and a text of them all as it gives the
    // whole text), the others as references.
    void gbkBytesOfEveryCharacter()
    {
        QString all;
        QString held;
        QByteArray expected;
        // Made in place: a converter that is moved loses its error state.
        std::optional<QStringEncoder> single;
        single.emplace("GBK", QStringConverter::Flag::Stateless);
        for (char32_t c = 1; c <= 0xFFFF; ++c) {
            if (QChar::isSurrogate(c)) continue; // pairs and halves: gbkBytes
            const QChar ch = QChar(char16_t(c));
            all += ch;
            QByteArray bytes = single->encode(QStringView(&ch, 1));
            if (single->hasError() || (c >= 0xE000 && c <= 0xF8FF)) {
                single.reset();
                single.emplace("GBK", QStringConverter::Flag::Stateless);
                expected += "&#x" + QByteArray::number(uint(c), 16).toUpper() + ';';
            } else {
                held += ch;
                expected += bytes;
            }
        }
        QStringEncoder whole("GBK", QStringConverter::Flag::Stateless);
        const QByteArray heldBytes = whole.encode(held);
        QVERIFY(!whole.hasError());
        QCOMPARE(GbkTextFile::encode(held), heldBytes);
        QCOMPARE(GbkTextFile::encode(all), expected);
    }

    // The text box's text as lines ended by CR LF: LF, U+2028 and U+2029
    // break lines (with a CR just before them), a final break starts no
    // line, a CR elsewhere stays.
    void fileLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("one line") << "a" << QByteArray("a\r\n");
        QTest::newRow("final break") << "a\n" << QByteArray("a\r\n");
        QTest::newRow("empty last line") << "a\n\n" << QByteArray("a\r\n\r\n");
        QTest::newRow("CR LF") << "\r\n" << QByteArray("\r\n");
        QTest::newRow("lone CRs") << "\r\r\nx\ry" << QByteArray("\r\r\nx\ry\r\n");
        QTest::newRow("separators") << QStringLiteral("a\u2029b\u2028c\r\u2029王") << QByteArray("a\r\nb\r\nc\r\n\xcd\xf5\r\n");
        QTest::newRow("breaks only") << QStringLiteral("\n\u2029\n") << QByteArray("\r\n\r\n\r\n");
    }
    void fileLines()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("lines.xml"));
        GbkTextFile::write(target, text);
        QCOMPARE(readFile(target), bytes);
    }

    void nothingPendingGivesNoDataAlone()
    {
        openRegister(3, 0);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(m_dialog->Memo1->toPlainText(), QStringLiteral("没有数据"));
    }

    // The whole round: build, save (file byte for byte), marked, build again.
    void twoPendingEntriesAreSavedAndMarked_data()
    {
        QTest::addColumn<QStringList>("demoOptions");
        QTest::newRow("Access 2000 register") << QStringList{};
        QTest::newRow("Access 97 register") << QStringList{QStringLiteral("--jet3")};
        QTest::newRow("Access 2010 register (.accdb)") << QStringList{QStringLiteral("--accdb")};
    }
    void twoPendingEntriesAreSavedAndMarked()
    {
        QFETCH(QStringList, demoOptions);
        openRegister(5, 2, demoOptions);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(memoLines().size(), 4);

        const QString target = m_folder->filePath(QStringLiteral("export.xml"));
        const QList<SeenBox> boxes = save(target);
        const QByteArray expected =
            kHeader +
            "<record><data_id>4</data_id><data_usbkey_serial>USBK-00023757</data_usbkey_serial><data_username>"
            "operator</data_username><data_add_date>2025/3/15 8:30:00</data_add_date></record>\r\n"
            "<record><data_id>5</data_id><data_usbkey_serial>USBK-00031676</data_usbkey_serial><data_username>"
            "admin</data_username><data_add_date>2025/8/8 8:30:00</data_add_date></record>\r\n"
            "</root>\r\n";
        QCOMPARE(readFile(target), expected);

        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, TFrmImport::savedMessage(QDir::toNativeSeparators(target)));
        QCOMPARE(boxes[0].text, QStringLiteral("文件保存成功,保存位置为:") + QDir::toNativeSeparators(target));
        QCOMPARE(boxes[0].caption, DefaultErrorDisplay::applicationTitle());
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        const QMap<int, int> states = RegisterFolder::exportStates(m_folder->database());
        QCOMPARE(states, (QMap<int, int>{{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}}));

        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(m_dialog->Memo1->toPlainText(), QStringLiteral("没有数据"));
    }

    // Values that are not plain text still give well-formed XML; a date at
    // midnight has no time.
    void specialValuesAreEscapedAndEncoded()
    {
        openRegister(1, 0);
        recordEntry(QStringLiteral("'A&B<1>', '王😀', #2025-01-02#"));
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        const QString target = m_folder->filePath(QStringLiteral("special.xml"));
        save(target);
        QCOMPARE(readFile(target),
                 kHeader + "<record><data_id>2</data_id><data_usbkey_serial>A&amp;B&lt;1&gt;</data_usbkey_serial>"
                           "<data_username>\xcd\xf5&#x1F600;</data_username><data_add_date>2025/1/2</data_add_date>"
                           "</record>\r\n</root>\r\n");
    }

    void cancellingTheSaveDialogWritesAndMarksNothing()
    {
        openRegister(5, 2);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(save(QString(), false).size(), 0);
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList());
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()).value(5), 1);
    }

    // A save marks only what the last build listed and is still pending.
    void saveMarksOnlyListedEntries_data()
    {
        QTest::addColumn<bool>("build");
        QTest::addColumn<int>("pendingAtStart"); // of 3 entries
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<ExportStates>("states"); // is_del by id after the save
        QTest::newRow("entry recorded between build and save")
            << true << 1
            << kHeader + "<record><data_id>3</data_id><data_usbkey_serial>USBK-00015838</data_usbkey_serial>"
                         "<data_username>admin</data_username><data_add_date>2025/5/3 0:30:00</data_add_date>"
                         "</record>\r\n</root>\r\n"
            << QMap<int, int>{{3, 2}, {4, 1}};
        // Nothing listed, nothing to save: no file, nothing marked.
        QTest::newRow("save without a build") << false << 1 << QByteArray("<missing>") << QMap<int, int>{{3, 1}, {4, 1}};
        QTest::newRow("save after no data")
            << true << 0 << QByteArray("<missing>") << QMap<int, int>{{3, 2}, {4, 1}};
    }
    void saveMarksOnlyListedEntries()
    {
        QFETCH(bool, build);
        QFETCH(int, pendingAtStart);
        QFETCH(QByteArray, file);
        QFETCH(ExportStates, states);
        openRegister(3, pendingAtStart);
        if (build) QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        recordEntry(QStringLiteral("'NEW-1', 'operator', #2025-06-01 10:00:00#"));

        const QString target = m_folder->filePath(QStringLiteral("out.xml"));
        const auto boxes = save(target);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, file == "<missing>" ? TFrmImport::nothingSavedMessage(0)
                                                    : TFrmImport::savedMessage(QDir::toNativeSeparators(target)));
        QCOMPARE(readFile(target), file);
        const QMap<int, int> after = RegisterFolder::exportStates(m_folder->database());
        for (auto it = states.begin(); it != states.end(); ++it)
            QCOMPARE(after.value(it.key()), it.value());
    }

    // The text box is editable: a save marks the listed entries whose record
    // the saved text still holds, and no other.
    void saveMarksOnlyTheRecordsTheSavedTextHolds_data()
    {
        QTest::addColumn<int>("edit");
        QTest::addColumn<ExportStates>("states"); // is_del by id after the save; 3, 4 and 5 were pending
        QTest::newRow("a record line deleted") << int(RecordLineDeleted) << ExportStates{{3, 2}, {4, 1}, {5, 2}};
        QTest::newRow("the whole text replaced") << int(TextReplaced) << ExportStates{{3, 1}, {4, 1}, {5, 1}};
        QTest::newRow("an id changed to an entry not listed")
            << int(IdChanged) << ExportStates{{2, 2}, {3, 2}, {4, 2}, {5, 1}};
    }
    void saveMarksOnlyTheRecordsTheSavedTextHolds()
    {
        QFETCH(int, edit);
        QFETCH(ExportStates, states);
        openRegister(5, 3);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(memoLines().size(), 5);
        editMemo(Edit(edit));

        const QString target = m_folder->filePath(QStringLiteral("edited.xml"));
        QCOMPARE(save(target).size(), 1);
        // A text that holds no listed record is not saved.
        QCOMPARE(QString::fromLatin1(readFile(target)),
                 edit == TextReplaced ? QStringLiteral("<missing>")
                                      : m_dialog->Memo1->toPlainText().replace(u'\n', "\r\n") + "\r\n");
        const ExportStates after = RegisterFolder::exportStates(m_folder->database());
        for (auto it = states.begin(); it != states.end(); ++it)
            QCOMPARE(after.value(it.key()), it.value());
    }

    // A line deleted by mistake and brought back: the next save marks it.
    void restoredRecordIsMarkedByTheNextSave()
    {
        openRegister(5, 3);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        editMemo(RecordLineDeleted);
        save(m_folder->filePath(QStringLiteral("first.xml")));
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()).value(4), 1);

        QTest::keyClick(m_dialog->Memo1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(memoLines().size(), 5);
        save(m_folder->filePath(QStringLiteral("second.xml")));
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()), (ExportStates{{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}}));
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        QCOMPARE(m_dialog->Memo1->toPlainText(), QStringLiteral("没有数据"));
    }

    void unwritableTargetShowsTheErrorAndMarksNothing()
    {
        openRegister(5, 2);
        QTest::mouseClick(m_dialog->Button1, Qt::LeftButton);
        const QString target = m_folder->filePath(QStringLiteral("no-such-folder/out.xml"));
        m_chosen = target;
        ModalScript script;
        script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(m_dialog->Button2, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 1);
        const SeenBox& box = script.boxes()[0];
        QVERIFY2(box.text.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(QDir::toNativeSeparators(target))),
                 qPrintable(box.text));
        QVERIFY(box.text.endsWith(u'.'));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.caption, DefaultErrorDisplay::applicationTitle());
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()).value(4), 1);
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()).value(5), 1);
    }
};

QTEST_MAIN(ExportTest)
#include "ExportTest.moc"
