// The register's listing from a PostgreSQL server beside the same listing
// from the .mdb it was moved from, and two exports saving at once on the
// server. Run by bench/server/run, which starts a server and moves the
// register there:
//   USBKEY_BENCH_DB=FILE.mdb USBKEY_BENCH_SERVER="Provider=PostgreSQL;..." server_bench
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/ExportSave.h"
#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <thread>

namespace {

QString environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value) : QString();
}

// Open the listing, read its row count, close: what the main window does.
void listing(benchmark::State& state, const QString& connectionString)
{
    if (connectionString.isEmpty()) {
        state.SkipWithError("USBKEY_BENCH_DB / USBKEY_BENCH_SERVER not set");
        return;
    }
    TADOConnection connection;
    connection.setConnectionString(connectionString);
    for (auto _ : state) {
        TADOQuery query;
        query.setConnection(&connection);
        query.setSQLText(RegisterStatements::registerListing());
        query.Open();
        benchmark::DoNotOptimize(query.RecordCount());
        state.counters["rows"] = query.RecordCount();
        query.Close();
    }
}

void BM_ListingFromFile(benchmark::State& state)
{
    const QString file = environment("USBKEY_BENCH_DB");
    listing(state, file.isEmpty() ? QString()
                                  : QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + file);
}

void BM_ListingFromServer(benchmark::State& state) { listing(state, environment("USBKEY_BENCH_SERVER")); }

// Each of two operators lists the pending entries and saves them (the
// claim, the file, the commit) at the same moment; every iteration starts
// from `range(0)` pending entries. Counts the entries exported per second.
void BM_TwoExportsAtOnce(benchmark::State& state)
{
    const QString server = environment("USBKEY_BENCH_SERVER");
    if (server.isEmpty()) {
        state.SkipWithError("USBKEY_BENCH_SERVER not set");
        return;
    }
    const int pending = int(state.range(0));
    TADOConnection setup;
    setup.setConnectionString(server);
    QTemporaryDir folder;
    for (auto _ : state) {
        state.PauseTiming();
        setup.Execute(QStringLiteral("update all_key set is_del=2 where is_del=1"));
        setup.Execute(QStringLiteral("update all_key set is_del=1 where id > (select max(id) from all_key) - %1").arg(pending));
        state.ResumeTiming();
        auto operatorExport = [&](int number) {
            TADOConnection connection;
            connection.setConnectionString(server);
            TADOQuery query;
            query.setConnection(&connection);
            query.setSQLText(RegisterStatements::pendingEntries());
            query.Open();
            const auto text = RegisterExport::fromDataSet(query);
            query.Close();
            ExportSave::save(connection, folder.filePath(QStringLiteral("export%1.xml").arg(number)), text->text,
                             text->listed);
        };
        std::thread other(operatorExport, 1);
        operatorExport(0);
        other.join();
    }
    state.SetItemsProcessed(state.iterations() * pending);
}

BENCHMARK(BM_ListingFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ListingFromServer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TwoExportsAtOnce)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv); // Qt's SQL drivers load through it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
