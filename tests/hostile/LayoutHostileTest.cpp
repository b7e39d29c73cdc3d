// The layout file ColumnINFO.ini in hostile shapes, met by the main window:
// it opens, the register grid shows and paints (also scrolled to its far
// corner), closing goes through, and the file is either kept byte for byte
// (when the program cannot rewrite it without losing what it holds; closing
// then reports the refused write) or rewritten with every entry the user had.
// Covered elsewhere: a read-only file (tests/grid/IniFileTest.cpp,
// DBGridExLayoutTest.cpp refusedWriteFromTheMenuIsReportedWithTheFullPath,
// tests/app/MainWindowTest.cpp refusedLayoutWriteStillAsks), non-numeric and
// out-of-range integers (IniFileTest readsIntegers), text outside GBK refused
// (IniFileTest unencodableTextIsRefusedWithoutTouchingTheFile), a missing
// folder (IniFileTest writeIntoAMissingFolderIsRefused); random bytes also
// go to fuzz/fuzz_layout_file.cpp.
#include "AppTestSupport.h"
#include "HostileSupport.h"

#include "app/UMain.h"
#include "app/UnitDM.h"
#include "grid/DBGridEx.h"
#include "qtcommon/GbkText.h"
#include "grid/IniFile.h"

#include <QHeaderView>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QtTest>

#include <memory>


namespace {

// What stands where the layout file should be.
enum class Place { File, Directory, FileInUnwritableFolder };

QByteArray gbk(const QString& text) { return GbkText::encode(text).value_or(QByteArray("<not GBK>")); }

const QByteArray kVisibility = "[FrmMainDBGridEx1]\r\nid=id\r\nUSBKEY_SERIAL=USBKEY_SERIAL\r\nusername=username\r\n"
                               "add_date=add_date\r\nis_del=is_del\r\n";
const QByteArray kCaption = "[FrmMainDBGridEx1C]\r\nusername=" + gbk(QStringLiteral("操作员")) + "\r\n";

QByteArray garbage()
{
    QRandomGenerator rng(4711);
    QByteArray bytes(4096, Qt::Uninitialized);
    for (char& b : bytes) b = char(rng.bounded(256));
    return bytes;
}

// Makes a folder refuse new files, also for root (the immutable attribute);
// false when this system cannot.
bool makeUnwritable(const QString& folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::ExeOther);
    QFile probe(folder + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly)) return true;
    probe.close();
    probe.remove();
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) != 0) return false;
    if (!probe.open(QIODevice::WriteOnly)) return true;
    probe.remove();
    return false;
}

void makeWritable(const QString& folder)
{
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
}

} // namespace

Q_DECLARE_METATYPE(Place)

class LayoutHostileTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RegisterFolder> m_folder;
    QString m_layoutFolder;

private slots:
    void cleanup()
    {
        if (!m_layoutFolder.isEmpty()) makeWritable(m_layoutFolder);
        m_layoutFolder.clear();
        m_folder.reset();
    }

    void hostileLayoutFiles_data()
    {
        QTest::addColumn<Place>("place");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keptByteForByte");
        // When it may be rewritten: section/key=value entries that must read
        // the same afterwards, ";…" comment lines that must still be there.
        QTest::addColumn<QStringList>("entriesKept");

        const QStringList visibilityAndCaption{"FrmMainDBGridEx1/id=id", "FrmMainDBGridEx1/is_del=is_del",
                                               "FrmMainDBGridEx1C/username=操作员"};
        QTest::newRow("widths huge, negative, not numbers")
            << Place::File
            << kVisibility + kCaption +
                   "[FrmMainDBGridEx1W]\r\nid=1e12\r\nUSBKEY_SERIAL=1000000000000\r\nusername=-50\r\n"
                   "add_date=2147483647\r\nis_del=-2147483648\r\n"
            << false << visibilityAndCaption;
        QTest::newRow("every width the largest integer")
            << Place::File
            << kVisibility + kCaption +
                   "[FrmMainDBGridEx1W]\r\nid=2147483647\r\nUSBKEY_SERIAL=0x7FFFFFFF\r\nusername=2147483647\r\n"
                   "add_date=2147483647\r\nis_del=2147483647\r\n"
            << false << visibilityAndCaption;
        QTest::newRow("a caption of 100000 characters")
            << Place::File << kVisibility + "[FrmMainDBGridEx1C]\r\nusername=" + gbk(QString(100000, u'长')) + "\r\n"
            << false << QStringList{"FrmMainDBGridEx1/username=username"};
        QTest::newRow("only another program's section")
            << Place::File << QByteArray("; kept by hand\r\n[Other]\r\nkey=value\r\n") << false
            << QStringList{"Other/key=value", "; kept by hand", "FrmMainDBGridEx1/id=id"};
        QTest::newRow("empty file") << Place::File << QByteArray() << false << QStringList{"FrmMainDBGridEx1/id=id"};
        QTest::newRow("binary garbage") << Place::File << garbage() << true << QStringList();
        QTest::newRow("NUL byte before a section")
            << Place::File << kCaption + QByteArray("\0\r\n[Other]\r\nkey=value\r\n", 23) << true << QStringList();
        QTest::newRow("a line that is no entry")
            << Place::File << kCaption + "note without an equals sign\r\n[Other]\r\nkey=value\r\n" << true
            << QStringList();
        QTest::newRow("a section header without its bracket")
            << Place::File << kCaption + "[Other\r\nkey=value\r\n" << true << QStringList();
        QTest::newRow("a key given twice")
            << Place::File << kCaption + "[Other]\r\nkey=first\r\nkey=second\r\n" << true << QStringList();
        QTest::newRow("a comment at the end")
            << Place::File << kVisibility + kCaption + "; widths to be set\r\n" << true << QStringList();
        QTest::newRow("saved as UTF-8 with a byte order mark")
            << Place::File << "\xEF\xBB\xBF[FrmMainDBGridEx1C]\r\nusername=" + QStringLiteral("操作员").toUtf8() + "\r\n"
            << true << QStringList();
        QTest::newRow("a directory in its place") << Place::Directory << QByteArray() << true << QStringList();
        QTest::newRow("a file in a folder that refuses new files (rewritten in place)")
            << Place::FileInUnwritableFolder << kVisibility + kCaption << false << visibilityAndCaption;
    }

    void hostileLayoutFiles()
    {
        QFETCH(Place, place);
        QFETCH(QByteArray, content);
        QFETCH(bool, keptByteForByte);
        QFETCH(QStringList, entriesKept);

        m_folder = std::make_unique<RegisterFolder>();
        QString error;
        QVERIFY2(m_folder->makeRegister(30, 0, &error), qPrintable(error));
        const QString layoutFolder = m_folder->filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(layoutFolder));
        const QString layoutFile = layoutFolder + QStringLiteral("/ColumnINFO.ini");
        if (place == Place::Directory) QVERIFY(QDir().mkpath(layoutFile + QStringLiteral("/inside")));
        else hostile::writeBytes(layoutFile, content);
        if (place == Place::FileInUnwritableFolder) {
            m_layoutFolder = layoutFolder;
            if (!makeUnwritable(layoutFolder)) QSKIP("this system cannot make a folder refuse new files");
        }

        TDM dm(m_folder->path());
        QVERIFY2(dm.DataModuleCreate(), qPrintable(dm.ConnectionError()));
        auto main = std::make_unique<TFrmMain>(&dm, [](TDM*) { return true; });
        main->DBGridEx1->setLayoutFolder(layoutFolder);
        main->DBGridEx2->setLayoutFolder(layoutFolder);
        main->show();
        QVERIFY(QTest::qWaitForWindowActive(main.get()));

        // The register shows, and paints at both ends.
        TDBGridEx* grid = main->DBGridEx1;
        QVERIFY(grid->isVisible());
        QCOMPARE(grid->model()->rowCount(), 30);
        QCOMPARE(main->StatusPanelText(1), QStringLiteral("30"));
        QVERIFY(!grid->grab().isNull());
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
        QVERIFY(!grid->grab().isNull());
        grid->horizontalScrollBar()->setValue(0);
        QVERIFY(!grid->grab().isNull());

        // Closing: the refused write is reported, then the question.
        ModalScript script;
        if (keptByteForByte) script.answerBox(QMessageBox::Ok);
        script.answerBox(QMessageBox::Yes);
        main->close();
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(!main->isVisible());
        main.reset();
        if (keptByteForByte) {
            QCOMPARE(script.boxes().size(), 2);
            const QString refusal = QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(layoutFile);
            QVERIFY2(script.boxes()[0].text.startsWith(refusal), qPrintable(script.boxes()[0].text));
            QCOMPARE(script.boxes()[1].text, TFrmMain::exitQuestion());
        }

        if (place == Place::Directory) {
            QVERIFY(QFileInfo(layoutFile).isDir());
            QVERIFY(QFileInfo::exists(layoutFile + QStringLiteral("/inside")));
        } else if (keptByteForByte) {
            QVERIFY2(hostile::readBytes(layoutFile) == content, "the layout file was changed");
        }
        const IniFile layout(layoutFile);
        for (const QString& entry : entriesKept) {
            if (entry.startsWith(u';')) {
                QVERIFY2(hostile::readBytes(layoutFile).contains(entry.toLatin1()), qPrintable(entry));
                continue;
            }
            const QString section = entry.section(u'/', 0, 0);
            const QString key = entry.section(u'/', 1).section(u'=', 0, 0);
            const QString value = entry.section(u'=', 1);
            QCOMPARE(layout.ReadString(section, key, QStringLiteral("<missing>")), value);
        }
        // Nothing left beside it (no temporary file of a refused write).
        if (place != Place::Directory)
            QCOMPARE(QDir(layoutFolder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ColumnINFO.ini")});
    }
};

REGISTER_HOSTILE_TEST(LayoutHostileTest);

#include "LayoutHostileTest.moc"
