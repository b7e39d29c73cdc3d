#include "TestRegistry.h"

#include "grid/ColumnInfoFile.h"
#include "grid/EIniFileException.h"
#include "qtcommon/GbkText.h"
#include "grid/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray gbk(const QString& text)
{
    return GbkText::encode(text).value_or(QByteArray());
}

#ifdef Q_OS_LINUX
// While it lives, `folder` refuses new files to this thread, as a program
// folder does to an operator: its write permission is taken away, and root,
// whom permissions do not stop, works with the file access of "nobody".
class FolderRefusingNewFiles {
public:
    explicit FolderRefusingNewFiles(QString folder) : m_folder(std::move(folder))
    {
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                            QFile::ReadOther | QFile::ExeOther);
        if (geteuid() == 0) {
            setfsgid(65534);
            setfsuid(65534);
        }
    }
    ~FolderRefusingNewFiles()
    {
        if (geteuid() == 0) {
            setfsuid(0);
            setfsgid(0);
        }
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    FolderRefusingNewFiles(const FolderRefusingNewFiles&) = delete;
    FolderRefusingNewFiles& operator=(const FolderRefusingNewFiles&) = delete;

    bool refuses() const
    {
        QFile probe(m_folder + QStringLiteral("/probe"));
        if (!probe.open(QIODevice::WriteOnly))
            return true;
        probe.remove();
        return false;
    }

private:
    QString m_folder;
};

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}
#endif

} // namespace

class IniFileTest : public QObject {
    Q_OBJECT

private slots:
    void gbkConversionUsesTheCodePageBytes()
    {
        QCOMPARE(gbk(QStringLiteral("↓")), QByteArray("\xA1\xFD"));
        QCOMPARE(gbk(QStringLiteral("↑")), QByteArray("\xA1\xFC"));
        QCOMPARE(gbk(QStringLiteral("名称")), QByteArray("\xC3\xFB\xB3\xC6"));
        QCOMPARE(GbkText::decode(QByteArray("\xC3\xFB\xB3\xC6id")), QStringLiteral("名称id"));
        QVERIFY(!GbkText::encode(QStringLiteral("a😀")).has_value());
    }

    // GBK is the engine's code page 936 table; it must give the bytes Qt's
    // ICU converter (Windows' code page 936, private use areas included)
    // gives, for every character and every byte pair, so that files written
    // before stay byte for byte the same.
    void gbkIsWindowsCodePage936ForEveryCharacterAndPair()
    {
        QStringEncoder icuEncoder("GBK", QStringConverter::Flag::Stateless);
        if (!icuEncoder.isValid()) QSKIP("this Qt has no ICU converter to compare with");
        int differences = 0;
        for (char32_t u = 1; u < 0x10000; ++u) {
            if (QChar::isSurrogate(u)) continue;
            const QChar c{char16_t(u)};
            QStringEncoder icu("GBK", QStringConverter::Flag::Stateless);
            const QByteArray expected = icu.encode(QStringView(&c, 1));
            const std::optional<QByteArray> ours = GbkText::encode(QString(c));
            if (icu.hasError() ? ours.has_value() : ours != expected) {
                if (++differences < 5) qWarning("U+%04X: ICU %s, ours %s", unsigned(u), expected.toHex().constData(), ours ? ours->toHex().constData() : "none");
            }
        }
        // Every pair after a lead byte, and the two single bytes above ASCII
        // (a lead byte alone at the end is U+FFFD here, where ICU drops it).
        for (int lead = 0x80; lead < 0x100; ++lead)
            for (int trail = 0; trail < 0x100; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                const bool single = lead == 0x80 || lead == 0xFF;
                if (single && trail > 0) break;
                const QByteArray bytes(pair, single ? 1 : 2);
                QStringDecoder icu("GBK");
                if (GbkText::decode(bytes) != icu.decode(bytes)) {
                    if (++differences < 10) qWarning("%s decodes differently", bytes.toHex().constData());
                }
            }
        QCOMPARE(differences, 0);
    }

    void readsGbkWithNamesInAnyCaseAndTrimmedValues()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        writeBytes(path, "[FrmMainDBGridEx1C]\r\nUSBKEY_SERIAL=  " + gbk(QStringLiteral("序列号↑")) +
                             "  \r\nid=\t\r\n[Empty]\r\n");
        const IniFile file(path);
        QCOMPARE(file.ReadString(QStringLiteral("frmmaindbgridex1c"), QStringLiteral("usbkey_serial"), QString()),
                 QStringLiteral("序列号↑"));
        QCOMPARE(file.ReadString(QStringLiteral("FrmMainDBGridEx1C"), QStringLiteral("ID"), QStringLiteral("x")),
                 QString());
        QCOMPARE(file.ReadString(QStringLiteral("FrmMainDBGridEx1C"), QStringLiteral("none"), QStringLiteral("dflt")),
                 QStringLiteral("dflt"));
        QVERIFY(file.SectionExists(QStringLiteral("FRMMAINDBGRIDEX1C")));
        QVERIFY(!file.SectionExists(QStringLiteral("Empty")));  // a header without entries
        QVERIFY(!file.SectionExists(QStringLiteral("Missing")));
    }

    void writesGbkAndRoundTripsThroughAnotherInstance()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        IniFile writer(path);
        writer.WriteString(QStringLiteral("GridC"), QStringLiteral("username"), QStringLiteral("用户名"));
        writer.WriteInteger(QStringLiteral("GridW"), QStringLiteral("username"), 120);
        // A second write to a key in other case replaces the entry.
        writer.WriteString(QStringLiteral("gridc"), QStringLiteral("USERNAME"), QStringLiteral("操作员"));

        const QByteArray bytes = readBytes(path);
        QVERIFY(bytes.contains(gbk(QStringLiteral("操作员"))));
        QVERIFY(!bytes.contains(QStringLiteral("操作员").toUtf8()));
        QVERIFY(!bytes.contains(gbk(QStringLiteral("用户名"))));

        const IniFile reader(path);
        QCOMPARE(reader.ReadString(QStringLiteral("GridC"), QStringLiteral("username"), QString()),
                 QStringLiteral("操作员"));
        QCOMPARE(reader.ReadInteger(QStringLiteral("GridW"), QStringLiteral("username"), 60), 120);
    }

    void nothingIsCachedBetweenCalls()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("layout.ini"));
        IniFile file(path);
        file.WriteString(QStringLiteral("S"), QStringLiteral("a"), QStringLiteral("1"));
        writeBytes(path, "[S]\na=2\nb=3\n");  // changed behind its back
        QCOMPARE(file.ReadString(QStringLiteral("S"), QStringLiteral("a"), QString()), QStringLiteral("2"));
        file.WriteString(QStringLiteral("S"), QStringLiteral("c"), QStringLiteral("4"));
        const IniFile other(path);
        QCOMPARE(other.ReadString(QStringLiteral("S"), QStringLiteral("b"), QString()), QStringLiteral("3"));
        QCOMPARE(other.ReadString(QStringLiteral("S"), QStringLiteral("c"), QString()), QStringLiteral("4"));
    }

    void deletingTheLastKeyRemovesTheSection()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("layout.ini"));
        IniFile file(path);
        file.WriteString(QStringLiteral("Keep"), QStringLiteral("k"), QStringLiteral("v"));
        file.WriteString(QStringLiteral("Grid"), QStringLiteral("id"), QStringLiteral("id"));
        file.WriteString(QStringLiteral("Grid"), QStringLiteral("name"), QStringLiteral("name"));
        file.DeleteKey(QStringLiteral("GRID"), QStringLiteral("ID"));
        QVERIFY(file.SectionExists(QStringLiteral("Grid")));
        file.DeleteKey(QStringLiteral("Grid"), QStringLiteral("name"));
        file.DeleteKey(QStringLiteral("Grid"), QStringLiteral("never there"));
        QVERIFY(!file.SectionExists(QStringLiteral("Grid")));
        QVERIFY(!readBytes(path).contains("[Grid]"));
        QVERIFY(file.SectionExists(QStringLiteral("Keep")));
    }

    void readsIntegers_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << "42" << 42;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("minus") << "-3" << -3;
        QTest::newRow("padded") << "  15 " << 15;
        QTest::newRow("0x") << "0x1F" << 31;
        QTest::newRow("0X") << "0X1f" << 31;
        QTest::newRow("dollar") << "$10" << 16;
        QTest::newRow("x") << "x0A" << 10;
        QTest::newRow("X") << "XfF" << 255;
        QTest::newRow("negative hex") << "-$10" << -16;
        QTest::newRow("letters") << "abc" << 60;
        QTest::newRow("trailing letter") << "12a" << 60;
        QTest::newRow("inner blank") << "1 2" << 60;
        QTest::newRow("prefix only") << "0x" << 60;
        QTest::newRow("sign only") << "-" << 60;
        QTest::newRow("empty") << "" << 60;
        QTest::newRow("too large") << "99999999999" << 60;
        QTest::newRow("fraction") << "1.5" << 60;
    }

    void readsIntegers()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("layout.ini"));
        writeBytes(path, "[W]\nid=" + stored.toLatin1() + "\n");
        QCOMPARE(IniFile(path).ReadInteger(QStringLiteral("W"), QStringLiteral("id"), 60), expected);
    }

    void refusedWriteNamesTheFullPathAndLeavesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        const QByteArray before = "[Grid]\nid=id\n";
        writeBytes(path, before);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        IniFile file(path);
        try {
            file.WriteString(QStringLiteral("Grid"), QStringLiteral("name"), QStringLiteral("name"));
            QFAIL("a write to a read-only file was accepted");
        } catch (const EIniFileException& error) {
            QCOMPARE(error.message(), QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path));
        }
        file.DeleteKey(QStringLiteral("Grid"), QStringLiteral("id"));  // never reports
        QCOMPARE(readBytes(path), before);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // A layout file under a program folder: the folder takes no new file, the
    // file itself may be written (made so for everyone, as an installer does).
    void fileInAFolderThatRefusesNewFilesIsWrittenInPlace()
    {
#ifdef Q_OS_LINUX
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                              QFile::ExeOther);
        const QString path = folder + QStringLiteral("/ColumnINFO.ini");
        writeBytes(path, "[Grid]\r\nid=id\r\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
        const ino_t inode = inodeOf(path);
        {
            FolderRefusingNewFiles guard(folder);
            if (!guard.refuses())
                QSKIP("this system cannot make a folder refuse new files");
            IniFile file(path);
            file.WriteString(QStringLiteral("GridC"), QStringLiteral("id"), QStringLiteral("编号"));
            file.DeleteKey(QStringLiteral("Grid"), QStringLiteral("id"));
            QCOMPARE(file.ReadString(QStringLiteral("GridC"), QStringLiteral("id"), QString()), QStringLiteral("编号"));
            QVERIFY(!file.SectionExists(QStringLiteral("Grid")));
            // A file that is not there cannot be made in such a folder.
            try {
                IniFile(folder + QStringLiteral("/Other.ini")).WriteInteger(QStringLiteral("W"), QStringLiteral("id"), 1);
                QFAIL("a new file was made in a folder that refuses new files");
            } catch (const EIniFileException& error) {
                QCOMPARE(error.message(),
                         QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(folder + "/Other.ini"));
            }
        }
        const QByteArray after = readBytes(path);
        QVERIFY(after.contains("[GridC]") && after.contains("id=" + gbk(QStringLiteral("编号"))));
        QVERIFY(!after.contains("[Grid]"));
        QCOMPARE(inodeOf(path), inode);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ColumnINFO.ini")});
#else
        QSKIP("folder permissions are tested on Linux");
#endif
    }

    // A file saved by another editor: a change would rewrite bytes the
    // operator never typed, so it is refused and says why.
    void fileThatIsNotGbkIsKeptAndSaysSo_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("UTF-8") << QStringLiteral("操作员").toUtf8();
        QTest::newRow("a byte GBK lacks") << QByteArray("\xFF\xFE");
        QTest::newRow("a lead byte without its second") << QByteArray("\xC3");
    }

    void fileThatIsNotGbkIsKeptAndSaysSo()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        const QByteArray before = "[GridC]\r\nname=" + text + "\r\n[GridW]\r\nid=10\r\n";
        writeBytes(path, before);
        IniFile file(path);
        try {
            file.WriteInteger(QStringLiteral("GridW"), QStringLiteral("id"), 20);
            QFAIL("a file that is not GBK was rewritten");
        } catch (const EIniFileException& error) {
            QCOMPARE(error.message(), QStringLiteral("Unable to write to %1: the file holds text that is not GBK and "
                                                     "is kept as it is")
                                          .arg(QDir::toNativeSeparators(path)));
        }
        file.DeleteKey(QStringLiteral("GridW"), QStringLiteral("id"));
        QCOMPARE(readBytes(path), before);
        QCOMPARE(file.ReadInteger(QStringLiteral("GridW"), QStringLiteral("id"), 60), 10);
    }

    void writeIntoAMissingFolderIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gone/ColumnINFO.ini"));
        IniFile file(path);
        QVERIFY_THROWS_EXCEPTION(EIniFileException, file.WriteInteger(QStringLiteral("W"), QStringLiteral("id"), 1));
    }

    void unencodableTextIsRefusedWithoutTouchingTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("layout.ini"));
        IniFile file(path);
        file.WriteString(QStringLiteral("C"), QStringLiteral("id"), QStringLiteral("编号"));
        const QByteArray before = readBytes(path);
        QVERIFY_THROWS_EXCEPTION(EIniFileException,
                                 file.WriteString(QStringLiteral("C"), QStringLiteral("name"), QStringLiteral("😀")));
        QCOMPARE(readBytes(path), before);
        // Later writes are not blocked by the refused one.
        file.WriteString(QStringLiteral("C"), QStringLiteral("name"), QStringLiteral("名称"));
        QCOMPARE(file.ReadString(QStringLiteral("C"), QStringLiteral("name"), QString()), QStringLiteral("名称"));
    }

    void safeWriteKeepsPermissionsAndLeavesNoTemporaryFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        writeBytes(path, "[W]\nid=10\n");
        const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(path, permissions));
        IniFile(path).WriteInteger(QStringLiteral("W"), QStringLiteral("name"), 20);
        QCOMPARE(QFile::permissions(path) & ~QFile::Permissions(0x0700), permissions);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ColumnINFO.ini")});
    }

    // A change rewrites the whole file; it goes ahead when the rewrite keeps
    // every line, and otherwise leaves the file as it is (writes refused,
    // deletions ignored). Files in other shapes: tests/hostile.
    void changesGoAheadOnlyWhenTheRewriteKeepsEveryLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("changed");
        QTest::newRow("blanks, comments, empty values")
            << QByteArray("; by hand\r\n\r\n[ Grid ]\r\n; the id\r\n  id = 7 \r\nname=\r\n[Empty]\r\n") << true;
        QTest::newRow("line feeds only") << QByteArray("[Grid]\nid=7\nname=x=y\n") << true;
        QTest::newRow("a section given twice") << QByteArray("[Grid]\r\nid=7\r\n[grid]\r\nname=x\r\n") << false;
        QTest::newRow("a comment at the end") << QByteArray("[Grid]\r\nid=7\r\nname=x\r\n; last\r\n") << false;
    }

    void changesGoAheadOnlyWhenTheRewriteKeepsEveryLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, changed);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ColumnINFO.ini"));
        writeBytes(path, content);
        IniFile file(path);
        file.DeleteKey(QStringLiteral("Grid"), QStringLiteral("name"));
        if (changed) {
            file.WriteInteger(QStringLiteral("GridW"), QStringLiteral("id"), 80);
            const QByteArray after = readBytes(path);
            QCOMPARE(file.ReadString(QStringLiteral("Grid"), QStringLiteral("id"), QString()), QStringLiteral("7"));
            QCOMPARE(file.ReadString(QStringLiteral("Grid"), QStringLiteral("name"), QStringLiteral("gone")),
                     QStringLiteral("gone"));
            QCOMPARE(file.ReadInteger(QStringLiteral("GridW"), QStringLiteral("id"), 0), 80);
            for (const QByteArray& comment : {QByteArray("; by hand"), QByteArray("; the id")})
                QCOMPARE(after.contains(comment), content.contains(comment));
        } else {
            QVERIFY_THROWS_EXCEPTION(EIniFileException,
                                     file.WriteInteger(QStringLiteral("GridW"), QStringLiteral("id"), 80));
            QCOMPARE(readBytes(path), content);
        }
    }

    void layoutFileIsFoundWhateverTheCaseOfItsName_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no file, start-up spelling") << "" << "ColumnINFO.ini" << "ColumnINFO.ini";
        QTest::newRow("no file, closing spelling") << "" << "ColumnInfo.ini" << "ColumnINFO.ini";
        QTest::newRow("lower-case file") << "columninfo.ini" << "ColumnInfo.ini" << "columninfo.ini";
        QTest::newRow("canonical file") << "ColumnINFO.ini" << "columnINFO.INI" << "ColumnINFO.ini";
        QTest::newRow("other name kept") << "" << "Other.ini" << "Other.ini";
        QTest::newRow("other name found") << "OTHER.INI" << "Other.ini" << "OTHER.INI";
    }

    void layoutFileIsFoundWhateverTheCaseOfItsName()
    {
        QFETCH(QString, existing);
        QFETCH(QString, asked);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        if (!existing.isEmpty())
            writeBytes(dir.filePath(existing), "[S]\nk=v\n");
        QCOMPARE(ColumnInfoFile::pathOf(dir.path(), asked), QDir(dir.path()).absoluteFilePath(expected));
    }

    void bothSpellingsReachOneFile()
    {
        QTemporaryDir dir;
        IniFile(ColumnInfoFile::pathOf(dir.path(), QStringLiteral("ColumnInfo.ini")))
            .WriteString(QStringLiteral("Grid"), QStringLiteral("id"), QStringLiteral("id"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("ColumnINFO.ini")});
        const IniFile startUp(ColumnInfoFile::pathOf(dir.path(), QStringLiteral("ColumnINFO.ini")));
        QCOMPARE(startUp.ReadString(QStringLiteral("grid"), QStringLiteral("ID"), QString()), QStringLiteral("id"));
    }
};

REGISTER_GRID_TEST(IniFileTest);

#include "IniFileTest.moc"
