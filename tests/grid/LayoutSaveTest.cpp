// How often the layout file is replaced by one save, and what a save killed
// half way leaves behind.
#include "GridTestSupport.h"
#include "LayoutSaveChild.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "ChildProcess.h"
#include "grid/DBGridEx.h"
#include "grid/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <memory>

namespace {

const QString kBase = QStringLiteral("FrmMainDBGridEx1");
constexpr int kChildColumns = 300;

// A window "FrmMain" holding grid "DBGridEx1" over an open dataset of the
// given fields, keeping its layout in folder.
struct LayoutWindow {
    std::unique_ptr<MemoryDataSet> data;
    std::unique_ptr<QWidget> window;
    TDBGridEx* grid = nullptr;

    LayoutWindow(const QString& folder, const QStringList& fieldNames)
    {
        std::vector<TFieldDef> fields;
        std::vector<jet::Value> row;
        for (const QString& name : fieldNames) {
            fields.push_back(textField(name, 10));
            row.push_back(text(QStringLiteral("x")));
        }
        data = std::make_unique<MemoryDataSet>(std::move(fields), std::vector<std::vector<jet::Value>>{row});
        window = std::make_unique<QWidget>();
        window->setObjectName(QStringLiteral("FrmMain"));
        grid = new TDBGridEx(window.get());
        grid->setName(QStringLiteral("DBGridEx1"));
        grid->setLayoutFolder(folder);
        auto* source = new TDataSource(window.get());
        source->setDataSet(data.get());
        grid->setDataSource(source);
        data->Open();
    }
};

QStringList childFieldNames()
{
    QStringList names;
    for (int i = 0; i < kChildColumns; ++i)
        names << QStringLiteral("F%1").arg(i);
    return names;
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#ifdef Q_OS_LINUX
// Counts the times a file of the folder is put in place under the given
// name, as a replacement does.
class ReplacementCounter {
public:
    explicit ReplacementCounter(const QString& folder, QString name) : m_name(std::move(name))
    {
        m_fd = inotify_init1(IN_NONBLOCK);
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_TO | IN_CREATE);
    }
    ~ReplacementCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool watching() const { return m_fd >= 0; }

    int count()
    {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t size = ::read(m_fd, buffer, sizeof buffer);
            if (size <= 0)
                return m_count;
            for (ssize_t at = 0; at < size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && QFile::decodeName(event->name) == m_name)
                    ++m_count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    QString m_name;
    int m_fd = -1;
    int m_count = 0;
};
#endif

} // namespace

int saveWidthsInChild(const QString& folder, int width)
{
    LayoutWindow layout(folder, childFieldNames());
    for (const auto& column : layout.grid->Columns())
        column->setWidth(width);
    layout.grid->SaveColumnWidths();
    return 0;
}

class LayoutSaveTest : public QObject {
    Q_OBJECT

private slots:
    void aSaveReplacesTheFileOnce()
    {
#ifndef Q_OS_LINUX
        QSKIP("counts replacements through inotify");
#else
        QTemporaryDir folder;
        LayoutWindow layout(folder.path(), {QStringLiteral("id"), QStringLiteral("USBKEY_SERIAL"),
                                            QStringLiteral("username"), QStringLiteral("备注")});
        ReplacementCounter replacements(folder.path(), QStringLiteral("ColumnINFO.ini"));
        QVERIFY(replacements.watching());

        layout.grid->Columns()[1]->setWidth(123);
        layout.grid->SaveColumnWidths();
        QCOMPARE(replacements.count(), 1);
        QCOMPARE(IniFile(layout.grid->LayoutFilePath()).ReadInteger(kBase + "W", QStringLiteral("USBKEY_SERIAL"), 0),
                 123);

        // Closing the window saves widths and visibility together.
        layout.grid->Columns()[2]->setVisible(false);
        layout.grid->Columns()[3]->setWidth(77);
        layout.grid->SaveColumnLayout(QStringLiteral("ColumnInfo.ini"));
        QCOMPARE(replacements.count(), 2);
        const IniFile file(layout.grid->LayoutFilePath());
        QCOMPARE(file.ReadInteger(kBase + "W", QStringLiteral("备注"), 0), 77);
        QCOMPARE(file.ReadString(kBase, QStringLiteral("username"), QStringLiteral("none")), QStringLiteral("none"));
        QCOMPARE(file.ReadString(kBase, QStringLiteral("id"), QString()), QStringLiteral("id"));
        QVERIFY(!layout.grid->Columns()[2]->Visible());
#endif
    }

    // The child saves 300 widths; it is killed as soon as the file first
    // changes. The file must then hold the old widths or the new ones.
    void aKilledSaveLeavesTheOldWidthsOrTheNew()
    {
        QTemporaryDir folder;
        const QString path = QDir(folder.path()).filePath(QStringLiteral("ColumnINFO.ini"));
        QByteArray old = "[" + kBase.toLatin1() + "W]\n";
        for (const QString& name : childFieldNames())
            old += name.toLatin1() + "=10\n";

        for (int round = 0; round < 3; ++round) {
            QFile::remove(path);
            {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(old);
            }
            testsupport::ChildProcess saving({QCoreApplication::applicationFilePath().toStdString(), kSaveWidthsChild,
                                              folder.path().toStdString(), "77"},
                                             QDir(folder.path()).filePath(QStringLiteral("child.log")).toStdString(),
                                             true);
            QVERIFY(saving.started());
            QElapsedTimer waited;
            waited.start();
            while (readBytes(path) == old && saving.running() && waited.elapsed() < 30000)
                QThread::usleep(200);
            saving.kill();
            saving.wait();
            QVERIFY2(readBytes(path) != old, "the save changed nothing");

            const IniFile file(path);
            int oldWidths = 0, newWidths = 0;
            for (const QString& name : childFieldNames()) {
                const int width = file.ReadInteger(kBase + "W", name, -1);
                oldWidths += width == 10;
                newWidths += width == 77;
            }
            QVERIFY2(oldWidths == kChildColumns || newWidths == kChildColumns,
                     qPrintable(QStringLiteral("%1 old and %2 new widths").arg(oldWidths).arg(newWidths)));
        }
    }
};

REGISTER_GRID_TEST(LayoutSaveTest);

#include "LayoutSaveTest.moc"
