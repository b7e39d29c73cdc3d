// The register listing on a large database through the data access layer,
// side by side with mdbtools' mdb-export reading the same table; and the
// main window's find beside a select of one serial.
//
// The database is made once per run by `jetdb demo` (USBKEY_BENCH_ENTRIES
// entries, 1,000,000 by default) unless USBKEY_BENCH_DB names an existing one.
// Counters: rows, the bytes the dataset holds (held_MB), the process's peak
// memory where the platform reports it (peak_MB) and the file size (file_MB).
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "ado/TField.h"
#include "ado/TParameters.h"
#include "app/RegisterFind.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

const char* const kListing = "select * from all_key order by id desc";

struct BenchDatabase {
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
    double fileMB = 0;
};

BenchDatabase& database()
{
    static BenchDatabase db = [] {
        BenchDatabase made;
        QString given = qEnvironmentVariable("USBKEY_BENCH_DB");
        if (!given.isEmpty()) {
            made.path = given;
        } else {
            made.dir = std::make_unique<QTemporaryDir>();
            made.path = made.dir->filePath(QStringLiteral("vask.mdb"));
            QString entries = qEnvironmentVariable("USBKEY_BENCH_ENTRIES", QStringLiteral("1000000"));
            QProcess jetdb;
            jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("demo"), made.path, QStringLiteral("--entries"),
                                                      entries, QStringLiteral("--pending"), QStringLiteral("1000")});
            jetdb.setStandardOutputFile(QProcess::nullDevice());
            if (!jetdb.waitForFinished(-1) || jetdb.exitCode() != 0) qFatal("jetdb demo failed");
        }
        made.fileMB = double(QFileInfo(made.path).size()) / 1e6;
        return made;
    }();
    return db;
}

QString connectionString()
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + database().path +
           QStringLiteral(";Persist Security Info=False");
}

// Peak resident memory in MB from /proc where there is one; 0 elsewhere.
double peakMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

void addCounters(benchmark::State& state, const TDataSet* held)
{
    state.counters["file_MB"] = database().fileMB;
    state.counters["peak_MB"] = peakMB();
    if (held) state.counters["held_MB"] = double(held->memoryUsage()) / 1e6;
}

// Opens the listing on a new connection (the file is opened afresh, as
// at start-up); `walk` runs on the open dataset inside the timing.
template <typename Walk>
void timeListing(benchmark::State& state, Walk walk)
{
    database();
    int rows = 0;
    bool measured = false;
    for (auto _ : state) {
        TADOConnection conn;
        conn.setConnectionString(connectionString());
        conn.setKeepConnection(false);
        auto query = std::make_unique<TADOQuery>();
        query->setConnection(&conn);
        query->setSQLText(kListing);
        query->Open();
        rows = query->RecordCount();
        benchmark::DoNotOptimize(rows);
        walk(*query, rows);
        state.PauseTiming();
        if (!measured) addCounters(state, query.get());
        measured = true;
        query.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}

void BM_Listing(benchmark::State& state)
{
    timeListing(state, [](TADOQuery&, int) {});
}

// The listing with every row read (as an export walks it): what opening
// the listing cost before rows were read on demand.
void BM_ListingReadAll(benchmark::State& state)
{
    timeListing(state, [](TADOQuery& query, int rows) {
        TField* serial = query.FieldByName(QStringLiteral("USBKEY_SERIAL"));
        int64_t total = 0;
        for (int i = 0; i < rows; ++i) total += int64_t(serial->ValueAt(i).index());
        benchmark::DoNotOptimize(total);
    });
}

// The file read whole in 1 MB blocks (from the page cache after the first
// run): the floor any listing of it stands on.
void BM_RawRead(benchmark::State& state)
{
    database();
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (auto _ : state) {
        QFile file(database().path);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot open the database");
            return;
        }
        qint64 total = 0, n = 0;
        while ((n = file.read(block.data(), block.size())) > 0) total += n;
        benchmark::DoNotOptimize(total);
    }
    addCounters(state, nullptr);
}

void BM_MdbExport(benchmark::State& state)
{
    database();
    QString program = QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
    if (program.isEmpty()) {
        state.SkipWithError("mdb-export is not installed");
        return;
    }
    for (auto _ : state) {
        QProcess exporter;
        exporter.setStandardOutputFile(QProcess::nullDevice());
        exporter.start(program, {database().path, QStringLiteral("all_key")});
        if (!exporter.waitForFinished(-1) || exporter.exitCode() != 0) {
            state.SkipWithError("mdb-export failed");
            return;
        }
    }
    addCounters(state, nullptr);
}

void BM_SortBySerial(benchmark::State& state)
{
    database();
    TADOConnection conn;
    conn.setConnectionString(connectionString());
    TADOQuery query;
    query.setConnection(&conn);
    query.setSQLText(kListing);
    query.Open();
    bool ascending = true;
    for (auto _ : state) {
        // Alternating directions makes every round a full re-sort.
        query.setSort(ascending ? QStringLiteral("USBKEY_SERIAL ASC ") : QStringLiteral("USBKEY_SERIAL DESC "));
        ascending = !ascending;
    }
    state.counters["rows"] = query.RecordCount();
    addCounters(state, &query);
}

void BM_MarkExported(benchmark::State& state)
{
    database();
    TADOConnection conn;
    conn.setConnectionString(connectionString());
    conn.setKeepConnection(false);
    TADOQuery mark, reset;
    mark.setConnection(&conn);
    reset.setConnection(&conn);
    mark.setSQLText(QStringLiteral("update all_key set is_del=2 where is_del=1"));
    int64_t marked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Put the newest 1,000 entries back to pending, as the demo database has them.
        TADOQuery top;
        top.setConnection(&conn);
        top.setSQLText(QStringLiteral("select * from all_key order by id desc"));
        top.Open();
        int newestId = top.FieldByName("id")->AsInteger();
        top.Close();
        reset.setSQLText(QStringLiteral("update all_key set is_del=1 where id > ") + QString::number(newestId - 1000));
        reset.ExecSQL();
        state.ResumeTiming();
        marked = mark.ExecSQL();
    }
    state.counters["rows"] = double(marked);
    addCounters(state, nullptr);
}

// The serial of the oldest entry, the last row of the newest-first listing:
// the farthest a find from the top must walk.
QString oldestSerial()
{
    static const QString serial = [] {
        TADOConnection conn;
        conn.setConnectionString(connectionString());
        TADOQuery query;
        query.setConnection(&conn);
        query.setSQLText(kListing);
        query.Open();
        const jet::Value value = query.FieldByName(QStringLiteral("USBKEY_SERIAL"))->ValueAt(query.RecordCount() - 1);
        return QString::fromStdU16String(std::get<std::u16string>(value));
    }();
    return serial;
}

// What the find bar is held to: one entry by its serial through the
// program's own layers, a new connection each time.
void BM_SelectBySerial(benchmark::State& state)
{
    const QString serial = oldestSerial();
    for (auto _ : state) {
        TADOConnection conn;
        conn.setConnectionString(connectionString());
        conn.setKeepConnection(false);
        TADOQuery query;
        query.setConnection(&conn);
        query.setSQLText(QStringLiteral("select * from all_key where USBKEY_SERIAL = :serial"));
        query.Parameters().ParamByName(QStringLiteral("serial"))->setAsString(serial);
        query.Open();
        if (query.RecordCount() != 1) {
            state.SkipWithError("the serial was not found");
            return;
        }
    }
}

// The find bar's first search in a window just opened (its rows not read
// yet): the oldest entry's serial found from the top of the listing. Opening
// the listing is not timed; the window has it open already.
void BM_FindSerialPrefix(benchmark::State& state)
{
    const QString serial = oldestSerial();
    for (auto _ : state) {
        state.PauseTiming();
        auto conn = std::make_unique<TADOConnection>();
        conn->setConnectionString(connectionString());
        auto query = std::make_unique<TADOQuery>();
        query->setConnection(conn.get());
        query->setSQLText(kListing);
        query->Open();
        state.ResumeTiming();
        const int found = RegisterFind(*query, serial).next(0, RegisterFind::Direction::Forward);
        if (found != query->RecordCount() - 1) {
            state.SkipWithError("the find did not reach the oldest entry");
            return;
        }
        state.PauseTiming();
        query.reset();
        conn.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_Listing)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ListingReadAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_MdbExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortBySerial)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_MarkExported)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SelectBySerial)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindSerialPrefix)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
