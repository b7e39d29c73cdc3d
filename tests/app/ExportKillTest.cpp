// The export's save killed (SIGKILL) at seeded moments: an entry is never
// marked exported unless a file listing it is complete on disk, and the
// database reopens clean.
#include "AppTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

class ExportKillTest : public QObject {
    Q_OBJECT

private:
    static QByteArray jetdb(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral(JETDB_PATH), args);
        p.waitForFinished(-1);
        return p.readAllStandardOutput();
    }

private slots:
    void killedSaveNeverMarksWhatIsNotOnDisk()
    {
        QTemporaryDir dir;
        const QString original = dir.filePath(QStringLiteral("original.mdb"));
        jetdb({QStringLiteral("demo"), original, QStringLiteral("--entries"), QStringLiteral("20000"),
               QStringLiteral("--pending"), QStringLiteral("20000")});
        QVERIFY(QFile::exists(original));

        // One uninterrupted save, to spread the kills over its length.
        const QString probeDb = dir.filePath(QStringLiteral("probe.mdb"));
        QFile::copy(original, probeDb);
        auto started = std::chrono::steady_clock::now();
        QCOMPARE(QProcess::execute(QStringLiteral(EXPORT_PROBE_PATH), {probeDb, dir.filePath(QStringLiteral("probe.xml"))}), 0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

        QRandomGenerator rng(11);
        for (int round = 0; round < 12; ++round) {
            const QString db = dir.filePath(QStringLiteral("k%1.mdb").arg(round));
            const QString xml = dir.filePath(QStringLiteral("k%1.xml").arg(round));
            QFile::copy(original, db);
            QProcess probe;
            probe.start(QStringLiteral(EXPORT_PROBE_PATH), {db, xml});
            QVERIFY(probe.waitForStarted());
            const int killAfterMs = int(seconds * 1000 * (0.1 + 1.5 * rng.generateDouble()));
            if (!probe.waitForFinished(killAfterMs)) {
                probe.kill(); // SIGKILL
                probe.waitForFinished(-1);
            }
            // Reopening (the check) rolls back an interrupted write; then the file is clean.
            QProcess check;
            check.start(QStringLiteral(JETDB_PATH), {QStringLiteral("check"), db});
            check.waitForFinished(-1);
            QCOMPARE(check.exitCode(), 0);
            const QByteArray marked = jetdb({QStringLiteral("sql"), db, QStringLiteral("select id from all_key where is_del=2")});
            const int markedCount = int(marked.count('\n'));
            qInfo("round %d: killed after %d ms, %d marked, file %s", round, killAfterMs, markedCount,
                  QFile::exists(xml) ? "written" : "absent");
            if (markedCount == 0) continue;
            // Something was marked: the file must exist and list every entry
            // (under its temporary name when the kill came between the commit
            // and the rename).
            QString whole = xml;
            if (!QFile::exists(whole)) {
                const QStringList partial = QDir(dir.path()).entryList({QFileInfo(xml).fileName() + QStringLiteral(".partial-*")});
                if (!partial.isEmpty()) whole = dir.filePath(partial.front());
            }
            QVERIFY2(QFile::exists(whole), qPrintable(QStringLiteral("round %1: marked without a file").arg(round)));
            QFile f(whole);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray text = f.readAll();
            QVERIFY(text.endsWith("</root>\r\n"));
            QCOMPARE(int(text.count("<record>")), markedCount);
        }
    }
};

QTEST_GUILESS_MAIN(ExportKillTest)
#include "ExportKillTest.moc"
