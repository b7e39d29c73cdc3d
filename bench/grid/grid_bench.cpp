// The extended grid over the register listing of a large database: how long
// until the first picture, how long a page scroll takes, and what the grid
// adds to memory. Runs on the offscreen platform.
//
// The database is made once per run by `jetdb demo` (USBKEY_BENCH_ENTRIES
// entries, 1,000,000 by default) unless USBKEY_BENCH_DB names an existing one.
// Counters: rows, the process's peak memory (peak_MB), the bytes the dataset
// holds (held_MB) and what attaching and painting the grid added to the
// heap (grid_MB).
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "grid/DBGridEx.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

const char* const kListing = "select * from all_key order by id desc";

struct BenchDatabase {
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
};

BenchDatabase& database()
{
    static BenchDatabase db = [] {
        BenchDatabase made;
        const QString given = qEnvironmentVariable("USBKEY_BENCH_DB");
        if (!given.isEmpty()) {
            made.path = given;
            return made;
        }
        made.dir = std::make_unique<QTemporaryDir>();
        made.path = made.dir->filePath(QStringLiteral("vask.mdb"));
        const QString entries = qEnvironmentVariable("USBKEY_BENCH_ENTRIES", QStringLiteral("1000000"));
        QProcess jetdb;
        jetdb.setStandardOutputFile(QProcess::nullDevice());
        jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("demo"), made.path, QStringLiteral("--entries"),
                                                  entries, QStringLiteral("--pending"), QStringLiteral("1000")});
        if (!jetdb.waitForFinished(-1) || jetdb.exitCode() != 0)
            qFatal("jetdb demo failed");
        return made;
    }();
    return db;
}

double statusMB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Bytes the heap hands out at the moment (glibc only; 0 elsewhere). Resident
// memory does not show what the grid adds: it reuses what the opening freed.
double heapInUseMB()
{
#if defined(__GLIBC__)
    return double(mallinfo2().uordblks) / 1e6;
#else
    return 0;
#endif
}

// The register listing opened in a grid in a window, as the main window has it.
struct ListingInGrid {
    TADOConnection connection;
    TADOQuery query;
    QWidget window;
    TDBGridEx* grid;
    TDataSource* source;

    ListingInGrid()
    {
        connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                       database().path + QStringLiteral(";Persist Security Info=False"));
        query.setConnection(&connection);
        query.setSQLText(QString::fromLatin1(kListing));
        window.setObjectName(QStringLiteral("FrmMain"));
        window.resize(800, 600);
        grid = new TDBGridEx(&window);
        grid->setName(QStringLiteral("DBGridEx1"));
        grid->setGeometry(0, 0, 800, 600);
        source = new TDataSource(&window);
        source->setDataSet(&query);
        window.show();
    }

    void paint() { grid->viewport()->grab(); }
};

void BM_OpenListingToFirstPaint(benchmark::State& state)
{
    database();
    int rows = 0;
    for (auto _ : state) {
        // The window exists before the listing opens (as the main window
        // does), and closing it is not part of showing the listing: both
        // happen outside the timing, as the listing benchmark leaves out
        // freeing its dataset.
        state.PauseTiming();
        auto listing = std::make_unique<ListingInGrid>();
        listing->paint();
        state.ResumeTiming();
        listing->grid->setDataSource(listing->source);
        listing->query.Open();
        listing->paint();
        rows = listing->query.RecordCount();
        state.PauseTiming();
        state.counters["held_MB"] = double(listing->query.memoryUsage()) / 1e6;
        listing.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
    state.counters["peak_MB"] = statusMB("VmHWM:");
}

// The grid's own part: columns, rows and the first picture of an open listing.
void BM_AttachOpenListingToFirstPaint(benchmark::State& state)
{
    database();
    ListingInGrid listing;
    listing.query.Open();
    const double before = heapInUseMB();
    double added = 0;
    for (auto _ : state) {
        listing.grid->setDataSource(listing.source);
        listing.paint();
        state.PauseTiming();
        added = heapInUseMB() - before;
        listing.grid->setDataSource(nullptr);
        state.ResumeTiming();
    }
    state.counters["rows"] = listing.query.RecordCount();
    state.counters["grid_MB"] = added;
    state.counters["peak_MB"] = statusMB("VmHWM:");
}

// One page down and its picture, page after page through the whole listing.
void BM_ScrollOnePage(benchmark::State& state)
{
    database();
    ListingInGrid listing;
    listing.grid->setDataSource(listing.source);
    listing.query.Open();
    listing.paint();
    QScrollBar* bar = listing.grid->verticalScrollBar();
    const int pages = bar->maximum() / std::max(bar->pageStep(), 1) + 1;
    int page = 0;
    for (auto _ : state) {
        page = (page + 1) % pages;
        bar->setValue(page * bar->pageStep());
        listing.paint();
    }
    state.counters["rows"] = listing.query.RecordCount();
    state.counters["rows_per_page"] = bar->pageStep();
    state.counters["peak_MB"] = statusMB("VmHWM:");
}

// Ctrl+End and Ctrl+Home: the current record jumps a million rows and back.
void BM_JumpToEndAndBack(benchmark::State& state)
{
    database();
    ListingInGrid listing;
    listing.grid->setDataSource(listing.source);
    listing.query.Open();
    listing.paint();
    for (auto _ : state) {
        listing.query.Last();
        listing.paint();
        listing.query.First();
        listing.paint();
    }
    state.counters["rows"] = listing.query.RecordCount();
}

// A title click on the serial column: a full re-sort and the new picture.
void BM_SortByTitleClick(benchmark::State& state)
{
    database();
    ListingInGrid listing;
    listing.grid->setDataSource(listing.source);
    listing.query.Open();
    listing.paint();
    TColumn* serial = listing.grid->Columns()[1];
    for (auto _ : state) {
        listing.grid->SortByColumn(serial);  // alternates ascending and descending
        listing.paint();
    }
    state.counters["rows"] = listing.query.RecordCount();
    state.counters["peak_MB"] = statusMB("VmHWM:");
}

} // namespace

BENCHMARK(BM_OpenListingToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AttachOpenListingToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMicrosecond)->Iterations(2000);
BENCHMARK(BM_JumpToEndAndBack)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_SortByTitleClick)->Unit(benchmark::kMillisecond)->Iterations(4);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
