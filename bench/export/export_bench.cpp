// The export of 100,000 pending entries, step by step: reading them, building
// the text, showing it in the text box, writing the GBK file and marking.
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "data/GbkTextFile.h"
#include "data/RegisterExport.h"
#include "data/RegisterStatements.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

namespace {

constexpr int kEntries = 100000;

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// The register with every entry pending, made once.
const QString& pendingRegister()
{
    static const QString path = [] {
        QString file = folder().filePath(QStringLiteral("pending.mdb"));
        QProcess::execute(QStringLiteral(JETDB_PATH), {QStringLiteral("demo"), file, QStringLiteral("--entries"),
                                                       QString::number(kEntries), QStringLiteral("--pending"),
                                                       QString::number(kEntries)});
        return file;
    }();
    return path;
}

void connect(TADOConnection& connection, const QString& file)
{
    connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + file);
    connection.setLoginPrompt(false);
    connection.setKeepConnection(false);
}

RegisterExport::Listing buildListing()
{
    TADOConnection connection;
    connect(connection, pendingRegister());
    TADOQuery pending;
    pending.setConnection(&connection);
    pending.setSQLText(RegisterStatements::pendingEntries());
    pending.Open();
    return *RegisterExport::fromDataSet(pending);
}

void BM_ReadPending(benchmark::State& state)
{
    TADOConnection connection;
    connect(connection, pendingRegister());
    for (auto _ : state) {
        TADOQuery pending;
        pending.setConnection(&connection);
        pending.setSQLText(RegisterStatements::pendingEntries());
        pending.Open();
        benchmark::DoNotOptimize(pending.RecordCount());
    }
}

void BM_BuildText(benchmark::State& state)
{
    TADOConnection connection;
    connect(connection, pendingRegister());
    TADOQuery pending;
    pending.setConnection(&connection);
    pending.setSQLText(RegisterStatements::pendingEntries());
    pending.Open();
    for (auto _ : state) {
        auto listing = RegisterExport::fromDataSet(pending);
        benchmark::DoNotOptimize(listing->text.size());
    }
}

void BM_ShowInTextBox(benchmark::State& state)
{
    const QString text = buildListing().text;
    for (auto _ : state) {
        QPlainTextEdit memo;
        memo.setPlainText(text);
        benchmark::DoNotOptimize(memo.blockCount());
    }
}

void BM_WriteGbkFile(benchmark::State& state)
{
    const QString text = buildListing().text;
    const QString target = folder().filePath(QStringLiteral("export.xml"));
    for (auto _ : state) GbkTextFile::write(target, text);
    state.counters["bytes"] = double(QFile(target).size());
}

void BM_MarkExported(benchmark::State& state)
{
    const QString copy = folder().filePath(QStringLiteral("mark.mdb"));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(copy);
        QFile::copy(pendingRegister(), copy);
        TADOConnection connection;
        connect(connection, copy);
        TADOQuery mark;
        mark.setConnection(&connection);
        std::vector<qint64> ids(kEntries);
        std::iota(ids.begin(), ids.end(), qint64(1));
        RegisterStatements::markExported(mark, ids);
        state.ResumeTiming();
        benchmark::DoNotOptimize(mark.ExecSQL());
    }
}

} // namespace

BENCHMARK(BM_ReadPending)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowInTextBox)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteGbkFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkExported)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
