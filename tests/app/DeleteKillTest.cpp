// The main window's delete killed (SIGKILL) at seeded moments: the probe
// deletes a run of entries one by one as Ctrl+Delete does; after each kill
// the file must reopen clean, every entry must be either whole (the values
// it had, in every reader's reading) or gone from the table and its
// indexes, the gone ones must be the first entries of the run (each delete
// lands whole, in order), and every delete the probe saw return must have
// stayed. The readers are jetdb (our engine), mdbtools' mdb-export and
// mdb-count, and the npm package mdb-reader.
#include "AppTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Output {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Output runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

Output jetdb(const QStringList& args) { return runTool(QStringLiteral(JETDB_PATH), args); }

// Lines of a listing keyed by the id in front of them: `jetdb json` lines
// ({"id":N,...}) or `mdb-export` CSV lines (N,...; the header is dropped).
QMap<int, QByteArray> linesById(const QByteArray& text)
{
    QMap<int, QByteArray> lines;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty()) continue;
        QByteArray key = line.startsWith("{\"id\":") ? line.mid(6) : line;
        key.truncate(key.indexOf(','));
        bool ok = false;
        const int id = key.toInt(&ok);
        if (ok) lines.insert(id, line);
    }
    return lines;
}

// What the independent readers and our own say of the table.
struct Reading {
    QMap<int, QByteArray> engine;    // jetdb json
    QMap<int, QByteArray> mdb;       // mdb-export
    long long mdbCount = -1;         // mdb-count: the row count of the table definition
    QMap<int, QByteArray> mdbReader; // npm mdb-reader
    long long mdbReaderCount = -1;   // its rowCount (the table definition's)
};

QString nodeModules() { return QStringLiteral(USBKEY_NODE_MODULES); }

Reading readRegister(const QString& file)
{
    Reading r;
    r.engine = linesById(jetdb({QStringLiteral("json"), file, QStringLiteral("all_key")}).out);
    r.mdb = linesById(runTool(QStringLiteral("mdb-export"), {QStringLiteral("-D"), QStringLiteral("%Y-%m-%d %H:%M:%S"),
                                                               file, QStringLiteral("all_key")})
                          .out);
    bool ok = false;
    const long long count =
        runTool(QStringLiteral("mdb-count"), {file, QStringLiteral("all_key")}).out.trimmed().toLongLong(&ok);
    r.mdbCount = ok ? count : -1;

    QProcess node;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NODE_PATH"), nodeModules());
    node.setProcessEnvironment(env);
    node.start(QStringLiteral("node"),
               {nodeModules() + QStringLiteral("/../mdb-reader-json.js"), file, QStringLiteral("all_key")});
    node.waitForFinished(120000);
    r.mdbReader = linesById(node.readAllStandardOutput());
    const QByteArray err = node.readAllStandardError();
    const qsizetype at = err.indexOf("rowCount=");
    r.mdbReaderCount = at >= 0 ? err.mid(at + 9).trimmed().toLongLong() : -1;
    return r;
}

} // namespace

class DeleteKillTest : public QObject {
    Q_OBJECT

    static constexpr int kEntries = 4000;
    static constexpr int kRounds = 40;

private slots:
    void killedDeletesLeaveEachEntryWholeOrGone()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mdb-export")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("mdb-count")).isEmpty())
            QSKIP("mdbtools (mdb-export, mdb-count) is not installed");
        if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty() ||
            !QFileInfo::exists(nodeModules() + QStringLiteral("/mdb-reader")))
            QSKIP("node or the npm package mdb-reader (tests/node) is not installed");

        QTemporaryDir dir;
        const QString original = dir.filePath(QStringLiteral("original.mdb"));
        const Output made = jetdb({QStringLiteral("demo"), original, QStringLiteral("--entries"),
                                   QString::number(kEntries), QStringLiteral("--pending"), QStringLiteral("50")});
        QVERIFY2(made.exitCode == 0, made.err.constData());
        const Reading before = readRegister(original);
        QCOMPARE(before.engine.size(), kEntries);
        QCOMPARE(before.mdb.keys(), before.engine.keys());
        QCOMPARE(before.mdbCount, kEntries);
        QCOMPARE(before.mdbReader.keys(), before.engine.keys());
        QCOMPARE(before.mdbReaderCount, kEntries);

        // The run: the newest and the oldest entry (first and last in the
        // listing) and entries spread over the register, in a seeded order.
        QRandomGenerator rng(20250315);
        QList<int> targets{kEntries, 1};
        while (targets.size() < 24) {
            const int id = 2 + int(rng.bounded(kEntries - 2));
            if (!targets.contains(id)) targets << id;
        }
        QStringList targetArgs;
        for (int id : targets) targetArgs << QString::number(id);

        // A program folder per run, with db/vask.mdb as the program has it.
        auto prepare = [&](const QString& name) {
            const QString folder = dir.filePath(name);
            QDir().mkpath(folder + QStringLiteral("/db"));
            const QString db = folder + QStringLiteral("/db/vask.mdb");
            QFile::copy(original, db);
            return folder;
        };

        // One uninterrupted run, to place the kills: most of them amid the
        // deletes, some before the first and after the last.
        const QString whole = prepare(QStringLiteral("whole"));
        QElapsedTimer clock;
        QProcess full;
        full.start(QStringLiteral(DELETE_PROBE_PATH), QStringList{whole} + targetArgs);
        QVERIFY(full.waitForStarted());
        clock.start();
        qint64 firstMs = -1;
        QByteArray fullOut;
        while (full.state() != QProcess::NotRunning && clock.elapsed() < 120000) {
            full.waitForReadyRead(5);
            fullOut += full.readAllStandardOutput();
            if (firstMs < 0 && fullOut.contains("deleted ")) firstMs = clock.elapsed();
        }
        full.waitForFinished(-1);
        const qint64 endMs = clock.elapsed();
        fullOut += full.readAllStandardOutput();
        QVERIFY2(full.exitCode() == 0, full.readAllStandardError().constData());
        QCOMPARE(int(fullOut.count("deleted ")), targets.size());
        const Reading afterAll = readRegister(whole + QStringLiteral("/db/vask.mdb"));
        QCOMPARE(afterAll.engine.size(), kEntries - int(targets.size()));
        QCOMPARE(afterAll.mdbCount, kEntries - targets.size());
        const qint64 perDelete = std::max<qint64>(1, (endMs - firstMs) / targets.size());
        const qint64 earliest = std::max<qint64>(0, firstMs - 2 * perDelete);
        const qint64 latest = endMs + perDelete;
        qInfo("uninterrupted run: first delete done after %lld ms, all %d after %lld ms", firstMs,
              int(targets.size()), endMs);

        QMap<int, int> deletedCounts; // how many rounds ended with n entries deleted
        int journalsLeft = 0;         // rounds killed amid a commit
        int inside = 0;               // rounds killed between the first and the last delete
        // A busy machine can shift the kills: more rounds are run (up to three
        // times as many) until enough of them landed amid the deletes.
        auto enough = [&] { return inside >= kRounds / 3 && journalsLeft > 0; };
        for (int round = 0; round < kRounds || (!enough() && round < 3 * kRounds); ++round) {
            const QString folder = prepare(QStringLiteral("k%1").arg(round));
            const QString db = folder + QStringLiteral("/db/vask.mdb");
            const int killAfterMs = int(earliest + rng.bounded(int(latest - earliest) + 1));

            QProcess probe;
            probe.start(QStringLiteral(DELETE_PROBE_PATH), QStringList{folder} + targetArgs);
            QVERIFY(probe.waitForStarted());
            if (!probe.waitForFinished(killAfterMs)) {
                probe.kill(); // SIGKILL
                probe.waitForFinished(-1);
            }
            const int reported = int(probe.readAllStandardOutput().count("deleted "));
            if (QFile::exists(db + QStringLiteral("-journal"))) ++journalsLeft;
            const QString where = QStringLiteral("round %1 (killed after %2 ms, %3 deletes reported)")
                                      .arg(round)
                                      .arg(killAfterMs)
                                      .arg(reported);

            // Reopening rolls back an interrupted write; then the file is clean.
            const Output check = jetdb({QStringLiteral("check"), db});
            QVERIFY2(check.exitCode == 0 && check.out.trimmed().isEmpty(),
                     qPrintable(where + u'\n' + QString::fromUtf8(check.out + check.err)));
            QVERIFY2(!QFile::exists(db + QStringLiteral("-journal")), qPrintable(where));

            const Reading after = readRegister(db);
            int deleted = 0;
            while (deleted < targets.size() && !after.engine.contains(targets[deleted])) ++deleted;
            deletedCounts[deleted]++;
            if (deleted > 0 && deleted < targets.size()) ++inside;
            QVERIFY2(deleted >= reported, qPrintable(where + QStringLiteral(": a delete that returned was lost")));
            // At most the one delete under way when the kill came may have landed unreported.
            QVERIFY2(deleted <= reported + 1, qPrintable(where + QStringLiteral(": %1 deleted").arg(deleted)));
            // Every other entry is there with the values it had, in both readings.
            for (auto it = before.engine.begin(); it != before.engine.end(); ++it) {
                const bool gone = targets.indexOf(it.key()) >= 0 && targets.indexOf(it.key()) < deleted;
                QVERIFY2(after.engine.contains(it.key()) != gone,
                         qPrintable(where + QStringLiteral(": entry %1 out of order").arg(it.key())));
                if (gone) {
                    QVERIFY2(!after.mdb.contains(it.key()) && !after.mdbReader.contains(it.key()),
                             qPrintable(where + QStringLiteral(": mdbtools or mdb-reader still lists entry %1").arg(it.key())));
                    continue;
                }
                QVERIFY2(after.engine.value(it.key()) == it.value(),
                         qPrintable(where + QStringLiteral(": entry %1 changed").arg(it.key())));
                QVERIFY2(after.mdb.value(it.key()) == before.mdb.value(it.key()),
                         qPrintable(where + QStringLiteral(": mdb-export reads entry %1 as \"%2\"")
                                                .arg(it.key())
                                                .arg(QString::fromUtf8(after.mdb.value(it.key())))));
                QVERIFY2(after.mdbReader.value(it.key()) == before.mdbReader.value(it.key()),
                         qPrintable(where + QStringLiteral(": mdb-reader reads entry %1 as \"%2\"")
                                                .arg(it.key())
                                                .arg(QString::fromUtf8(after.mdbReader.value(it.key())))));
            }
            QCOMPARE(after.mdb.size(), kEntries - deleted);
            QCOMPARE(after.mdbCount, kEntries - deleted);
            QCOMPARE(after.mdbReader.size(), kEntries - deleted);
            QCOMPARE(after.mdbReaderCount, kEntries - deleted);
            QDir(folder).removeRecursively();
        }
        QString spread;
        for (auto it = deletedCounts.begin(); it != deletedCounts.end(); ++it)
            spread += QStringLiteral(" %1 deleted: %2 rounds;").arg(it.key()).arg(it.value());
        qInfo("%s %d rounds left a journal to roll back", qPrintable(spread), journalsLeft);
        // The kills must have landed between the first and the last delete
        // often enough to mean something.
        QVERIFY2(inside >= kRounds / 3, qPrintable(QStringLiteral("only %1 rounds were killed amid the deletes").arg(inside)));
        QVERIFY2(journalsLeft > 0, "no kill came amid a commit: the rollback was never needed");
    }
};

QTEST_GUILESS_MAIN(DeleteKillTest)
#include "DeleteKillTest.moc"
