// Exports as operators run them beside each other and beside the program
// that issues keys, all as processes on one register: afterwards every entry
// that was pending is in exactly one saved file and marked exported, or still
// pending (or taken by the other program) and in no file. Also the save
// killed at each of its steps.
#include "AppTestSupport.h"
#include "ExportFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray jetdb(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(JETDB_PATH), args);
    p.waitForFinished(-1);
    return p.readAllStandardOutput();
}

// What the other program did: entries it took (marked 3) or deleted while
// they were pending; those must be in no file.
struct OtherWrites {
    QSet<int> takenWhilePending;
    int inserted = 0;
};

} // namespace

class ExportConcurrencyTest : public QObject {
    Q_OBJECT

private slots:
    void exportersBesideAnotherWriterDeliverEveryEntryOnce()
    {
        QRandomGenerator rng(5);
        int rounds = 0, files = 0, exported = 0;
        for (int round = 0; round < 4; ++round, ++rounds) {
            QTemporaryDir dir;
            const QString db = dir.filePath(QStringLiteral("register.mdb"));
            jetdb({QStringLiteral("demo"), db, QStringLiteral("--entries"), QStringLiteral("3000"),
                   QStringLiteral("--pending"), QStringLiteral("400")});
            const QMap<int, int> before = RegisterFolder::exportStates(db);
            QVERIFY(!before.isEmpty());

            // Three operators export, each twice, while the other program
            // inserts entries, takes pending ones and deletes pending ones.
            QList<QProcess*> exporters;
            QStringList targets;
            for (int e = 0; e < 3; ++e) {
                auto* p = new QProcess(this);
                const QString first = dir.filePath(QStringLiteral("op%1-a.xml").arg(e));
                const QString second = dir.filePath(QStringLiteral("op%1-b.xml").arg(e));
                targets << first << second;
                // One after the other: the second save of an operator exports
                // what came meanwhile. Each operator looks at the text a
                // moment before saving it, as operators do.
                p->start(QStringLiteral("sh"),
                         {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" \"$2\" $4; \"$0\" \"$1\" \"$3\" $4"),
                          QStringLiteral(EXPORT_PROBE_PATH), db, first, second,
                          QStringLiteral("wait:%1").arg(200 + 150 * e)});
                exporters << p;
            }
            OtherWrites other;
            QList<int> ids;
            for (auto it = before.begin(); it != before.end(); ++it)
                if (it.value() == 1) ids << it.key();
            for (int step = 0; step < 40; ++step) {
                const int pick = ids[int(rng.bounded(quint32(ids.size())))];
                QByteArray out;
                switch (step % 3) {
                case 0:
                    out = jetdb({QStringLiteral("sql"), db,
                                 QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values ('NEW-%1', 'issuer')")
                                     .arg(step)});
                    if (out.trimmed() == "1") ++other.inserted;
                    break;
                case 1:
                    out = jetdb({QStringLiteral("sql"), db,
                                 QStringLiteral("update all_key set is_del=3 where id=%1 and is_del=1").arg(pick)});
                    if (out.trimmed() == "1") other.takenWhilePending << pick;
                    break;
                default:
                    out = jetdb({QStringLiteral("sql"), db,
                                 QStringLiteral("delete from all_key where id=%1 and is_del=1").arg(pick)});
                    if (out.trimmed() == "1") other.takenWhilePending << pick;
                    break;
                }
            }
            for (QProcess* p : exporters) {
                QVERIFY(p->waitForFinished(120000));
                QCOMPARE(p->exitCode(), 0);
            }
            qDeleteAll(exporters);

            // Every file whole and valid; each id in at most one of them.
            QHash<int, int> inFiles;
            for (const QString& target : targets) {
                if (!QFile::exists(target)) continue;
                QString problem;
                const QList<int> fileIds = idsOfExportFile(target, &problem);
                QVERIFY2(problem.isEmpty(), qPrintable(problem));
                ++files;
                for (int id : fileIds) ++inFiles[id];
            }
            const QMap<int, int> after = RegisterFolder::exportStates(db);
            for (auto it = inFiles.begin(); it != inFiles.end(); ++it) {
                QVERIFY2(it.value() == 1, qPrintable(QStringLiteral("round %1: entry %2 is in %3 files").arg(round).arg(it.key()).arg(it.value())));
                QVERIFY2(!other.takenWhilePending.contains(it.key()),
                         qPrintable(QStringLiteral("round %1: entry %2, taken by the other program while pending, "
                                                   "is in a file").arg(round).arg(it.key())));
                QVERIFY2(!after.contains(it.key()) || after[it.key()] == 2,
                         qPrintable(QStringLiteral("round %1: entry %2 is in a file but not marked").arg(round).arg(it.key())));
            }
            // Every entry the exports marked is in a file: none lost.
            for (auto it = after.begin(); it != after.end(); ++it) {
                const bool markedHere = it.value() == 2 && before.value(it.key(), 1) != 2;
                QVERIFY2(!markedHere || inFiles.contains(it.key()),
                         qPrintable(QStringLiteral("round %1: entry %2 is marked but in no file").arg(round).arg(it.key())));
                if (markedHere) ++exported;
            }
            QVERIFY2(jetdb({QStringLiteral("check"), db}).isEmpty(), "the register is not clean");
        }
        qInfo("%d rounds, %d files, %d entries exported", rounds, files, exported);
        QVERIFY(exported > 0);
    }

    // The save killed at each step: before the commit nothing is marked and
    // no file has the target's name; after it, the entries are marked and a
    // whole file holds exactly them (under the temporary name when the kill
    // came before the rename).
    void saveKilledAtEachStepLeavesEveryEntryOnceOrPending()
    {
        const QStringList steps{QStringLiteral("claimed"), QStringLiteral("synced"), QStringLiteral("marked"),
                                QStringLiteral("committed"), QStringLiteral("published")};
        for (const QString& step : steps) {
            QTemporaryDir dir;
            const QString db = dir.filePath(QStringLiteral("register.mdb"));
            const QString target = dir.filePath(QStringLiteral("export.xml"));
            jetdb({QStringLiteral("demo"), db, QStringLiteral("--entries"), QStringLiteral("2000"),
                   QStringLiteral("--pending"), QStringLiteral("300")});
            QProcess probe;
            probe.start(QStringLiteral(EXPORT_PROBE_PATH), {db, target, step});
            QVERIFY(probe.waitForStarted());
            QByteArray said;
            for (QDeadlineTimer limit(60000); !said.contains("at ") && !limit.hasExpired();) {
                probe.waitForReadyRead(100);
                said += probe.readAllStandardOutput();
            }
            QVERIFY2(said.startsWith("at " + step.toLatin1()), qPrintable(step + QStringLiteral(": ") + QString::fromLatin1(said)));
            probe.kill();
            probe.waitForFinished(-1);

            QVERIFY2(jetdb({QStringLiteral("check"), db}).isEmpty(), qPrintable(step)); // rolls back what the kill left
            const QMap<int, int> states = RegisterFolder::exportStates(db);
            QList<int> pending, marked;
            for (auto it = states.begin(); it != states.end(); ++it) {
                if (it.value() == 1) pending << it.key();
                if (it.value() == 2 && it.key() > 1700) marked << it.key();
            }
            const QStringList partial = QDir(dir.path()).entryList({QStringLiteral("export.xml.partial-*")});
            if (steps.indexOf(step) < steps.indexOf(QStringLiteral("committed"))) {
                QCOMPARE(pending.size(), 300);
                QVERIFY(!QFile::exists(target));
                continue;
            }
            QCOMPARE(pending.size(), 0);
            const QString whole = step == QStringLiteral("published") ? target : dir.filePath(partial.value(0));
            QVERIFY2(QFile::exists(whole), qPrintable(step + QStringLiteral(": no file holds the marked entries")));
            QString problem;
            QCOMPARE(idsOfExportFile(whole, &problem), marked);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }
};

QTEST_GUILESS_MAIN(ExportConcurrencyTest)
#include "ExportConcurrencyTest.moc"
