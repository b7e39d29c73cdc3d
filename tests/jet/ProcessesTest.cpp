// Several processes on one register, and processes that die inside a
// commit: every read holds one committed state, a crashed writer's journal is
// rolled back before anyone reads or writes beside it, and only onto the file
// it was taken from. The actors are `jetdb` processes; threads here only
// start them and wait.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 30000;
constexpr const char* kCrashHook = "JETDB_TEST_CRASH_AFTER_PAGE_WRITES";

struct RegisterKind {
    const char* name;
    std::vector<std::string> demoOptions;
    bool encoded;
};

// A register whose entries all hold is_del 3 and user name 'w0', so that
// every committed state has one value per column.
std::string makeRegister(const fs::path& dir, const RegisterKind& kind)
{
    std::string plain = (dir / "plain.mdb").string();
    std::vector<std::string> demo = {jetdb(), "demo", plain, "--entries", std::to_string(kEntries)};
    demo.insert(demo.end(), kind.demoOptions.begin(), kind.demoOptions.end());
    EXPECT_EQ(run(demo).status, 0);
    std::string file = plain;
    if (kind.encoded) {
        file = (dir / "register.mdb").string();
        EXPECT_EQ(run({jetdb(), "encode", plain, file}).status, 0);
    }
    EXPECT_EQ(run({jetdb(), "sql", file, "update all_key set is_del=3, username='w0'"}).status, 0);
    return file;
}

// Empty when the rows a select printed are one committed state: all rows
// alike (each write changes one column of every row) and all of them there.
std::string oneState(const std::string& jsonLines, size_t expectedRows = kEntries)
{
    std::set<std::string> distinct;
    size_t rows = 0;
    std::istringstream in(jsonLines);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        ++rows;
        distinct.insert(line);
    }
    if (rows == expectedRows && distinct.size() == 1) return "";
    std::string shown;
    for (const std::string& d : distinct) shown += (shown.empty() ? "" : ", ") + d;
    return std::to_string(rows) + " rows holding " + std::to_string(distinct.size()) + " states: " +
           shown.substr(0, 200);
}

std::string readState(const std::string& file, const std::string& columns = "is_del, username")
{
    testsupport::Run r = run({jetdb(), "sql", file, "select " + columns + " from all_key"}, true);
    if (r.status != 0) return "the read failed: " + r.output;
    return oneState(r.output);
}

// Runs `statement` in a jetdb whose commit dies after `pageWrites` page
// writes, leaving a half-written file and its journal.
void crashInsideCommit(const std::string& file, const std::string& statement, int pageWrites = 40)
{
    ChildProcess::setEnvironment(kCrashHook, std::to_string(pageWrites));
    Run r = run({jetdb(), "sql", file, statement}, true);
    ChildProcess::setEnvironment(kCrashHook, "");
    ASSERT_NE(r.status, 0) << "the commit was not interrupted: " << r.output;
    ASSERT_TRUE(fs::exists(jet::Pager::journalPath(file)));
}

class SharedRegister : public testing::TestWithParam<RegisterKind> {};

} // namespace

TEST_P(SharedRegister, ReadersSeeOneStateWhileTwoWritersCommit)
{
    fs::path dir = scratchDir(std::string("shared-") + GetParam().name);
    std::string file = makeRegister(dir, GetParam());
    std::atomic<bool> stop{false};
    std::atomic<int> commits{0};
    auto writer = [&](const std::string& column, const std::string& a, const std::string& b) {
        for (int n = 0; !stop; ++n)
            if (run({jetdb(), "sql", file, "update all_key set " + column + "=" + (n % 2 ? a : b)}).status == 0)
                ++commits;
    };
    std::thread first(writer, "is_del", "3", "4");
    std::thread second(writer, "username", "'w0'", "'w1'");
    constexpr int kReaders = 3, kReads = 25;
    std::vector<std::string> torn[kReaders];
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] {
            for (int n = 0; n < kReads; ++n)
                if (std::string problem = readState(file); !problem.empty()) torn[r].push_back(problem);
        });
    for (std::thread& t : readers) t.join();
    stop = true;
    first.join();
    second.join();

    size_t tornReads = 0;
    for (auto& t : torn) tornReads += t.size();
    EXPECT_EQ(tornReads, 0u) << "of " << kReaders * kReads << " reads; first: " << (tornReads ? [&] {
        for (auto& t : torn)
            if (!t.empty()) return t.front();
        return std::string();
    }() : "");
    EXPECT_GT(commits.load(), 2) << "the writers hardly ran";
    EXPECT_EQ(check(file), "");
}

INSTANTIATE_TEST_SUITE_P(Registers, SharedRegister,
                         testing::Values(RegisterKind{"Access2000", {}, false},
                                         RegisterKind{"Access97", {"--jet3"}, false},
                                         RegisterKind{"Encoded", {}, true}),
                         [](const testing::TestParamInfo<RegisterKind>& info) { return info.param.name; });

TEST(Recovery, ReadersRacingTheRollBackOfACrashedCommitSeeTheOldState)
{
    fs::path dir = scratchDir("recovery-race");
    std::string original = makeRegister(dir, RegisterKind{"Access2000", {}, false});
    std::string file = (dir / "crashed.mdb").string();
    int reads = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fs::remove(file);
        fs::copy_file(original, file);
        crashInsideCommit(file, "update all_key set is_del=4");
        // Readers started at once: one rolls back, the others wait for it.
        std::vector<std::unique_ptr<ChildProcess>> readers;
        for (int r = 0; r < 3; ++r)
            readers.push_back(start({jetdb(), "sql", file, "select is_del, username from all_key"}));
        for (auto& reader : readers) {
            ASSERT_EQ(reader->wait(), 0);
            std::string out = reader->output();
            EXPECT_EQ(oneState(out), "");
            EXPECT_EQ(out.substr(0, out.find('\n')), R"({"is_del":3,"username":"w0"})");
            ++reads;
        }
        EXPECT_FALSE(fs::exists(jet::Pager::journalPath(file)));
    }
    EXPECT_EQ(check(file), "");
    EXPECT_EQ(reads, 24);
}

TEST(Recovery, ALongLivedConnectionRollsBackACrashedCommitBeforeItWrites)
{
    fs::path dir = scratchDir("recovery-long-lived");
    std::string file = makeRegister(dir, RegisterKind{"Access2000", {}, false});
    // The program's connection: open, listing read, before another program dies in its commit.
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    jet::Table& keys = db->table("all_key");
    const size_t idColumn = keys.def().columnIndex(keys.def().findColumn("id")->number);
    const size_t stateColumn = keys.def().columnIndex(keys.def().findColumn("is_del")->number);
    std::optional<jet::RowLocator> seventh;
    keys.scan([&](jet::RowLocator at, std::vector<jet::Value>& v) {
        if (std::get<int64_t>(v[idColumn]) == 7) seventh = at;
        return true;
    });
    ASSERT_TRUE(seventh);

    crashInsideCommit(file, "update all_key set is_del=4");
    {
        jet::WriteTransaction tx(*db);
        keys.updateRow(*seventh, {{stateColumn, jet::Value{int64_t(5)}}});
        tx.commit();
    }
    db.reset();

    EXPECT_FALSE(fs::exists(jet::Pager::journalPath(file)));
    EXPECT_EQ(check(file), "");
    testsupport::Run rest = run({jetdb(), "sql", file, "select is_del from all_key where id <> 7"});
    EXPECT_EQ(oneState(rest.output, kEntries - 1), "");
    EXPECT_EQ(rest.output.substr(0, rest.output.find('\n')), R"({"is_del":3})");
    EXPECT_EQ(run({jetdb(), "sql", file, "select is_del from all_key where id = 7"}).output, "{\"is_del\":5}\n");
}

TEST(Recovery, AJournalIsAppliedOnlyToTheFileItWasTakenFrom)
{
    fs::path dir = scratchDir("recovery-other-file");
    std::string original = makeRegister(dir, RegisterKind{"Access2000", {}, false});
    // Files copied over the crashed one: a smaller backup, and one of the same
    // size made at another moment (another header page).
    std::string smaller = (dir / "smaller.mdb").string();
    ASSERT_EQ(run({jetdb(), "demo", smaller, "--entries", "1000"}).status, 0);
    std::string sameSize = (dir / "same-size.mdb").string();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // another creation time
    ASSERT_EQ(run({jetdb(), "demo", sameSize, "--entries", std::to_string(kEntries)}).status, 0);
    ASSERT_EQ(run({jetdb(), "sql", sameSize, "update all_key set is_del=3, username='w0'"}).status, 0);
    ASSERT_EQ(fs::file_size(sameSize), fs::file_size(original));

    for (const std::string& backup : {smaller, sameSize}) {
        SCOPED_TRACE(backup);
        std::string file = (dir / "crashed.mdb").string();
        std::string journal = jet::Pager::journalPath(file);
        fs::remove(file);
        fs::remove(journal + ".set-aside");
        fs::copy_file(original, file);
        crashInsideCommit(file, "update all_key set is_del=4");
        // The backup copied over the register (removed first: mingw's
        // copy_file refuses overwrite_existing).
        fs::remove(file);
        fs::copy_file(backup, file);
        const std::string before = fileBytes(file);

        testsupport::Run opened = run({jetdb(), "count", file, "all_key"}, true);
        EXPECT_EQ(opened.status, 0) << opened.output;
        EXPECT_NE(opened.output.find("set aside"), std::string::npos) << opened.output;
        EXPECT_EQ(fileBytes(file), before);
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_TRUE(fs::exists(journal + ".set-aside"));
        EXPECT_EQ(check(file), "");
    }
}

#ifndef _WIN32
TEST(Recovery, TheJournalShowsNoMoreThanItsDatabase)
{
    fs::path dir = scratchDir("journal-rights");
    std::string file = makeRegister(dir, RegisterKind{"Access2000", {}, false});
    using P = fs::perms;
    for (P rights : {P::owner_read | P::owner_write, P::owner_read | P::owner_write | P::group_read}) {
        fs::permissions(file, rights);
        crashInsideCommit(file, "update all_key set is_del=4");
        EXPECT_EQ(fs::status(jet::Pager::journalPath(file)).permissions(), rights);
        EXPECT_EQ(check(file), ""); // rolls back
    }
}
#endif

TEST(Kill, CopyCommandsKilledAtRandomMomentsLeaveNoOutput)
{
    fs::path dir = scratchDir("kill-copies");
    std::string source = (dir / "source.mdb").string();
    std::string encoded = (dir / "encoded.mdb").string();
    ASSERT_EQ(run({jetdb(), "demo", source, "--entries", "60000"}).status, 0);
    ASSERT_EQ(run({jetdb(), "encode", source, encoded}).status, 0);
    const std::string out = (dir / "out.mdb").string();
    const std::vector<std::vector<std::string>> commands = {
        {jetdb(), "compact", source, out},
        {jetdb(), "encode", source, out},
        {jetdb(), "decode", encoded, out},
        {jetdb(), "demo", out, "--entries", "60000"},
    };
    std::mt19937 rng(11);
    for (const auto& command : commands) {
        SCOPED_TRACE(command[1]);
        fs::remove(out);
        auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(run(command).status, 0);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        int killed = 0;
        for (int round = 0; round < 6; ++round) {
            fs::remove(out);
            // Mostly inside the run, now and then at its very end; under load a
            // run may take less than the first did, so the range leans early.
            double at = seconds * std::uniform_real_distribution<double>(0.02, 0.9)(rng);
            auto child = start(command);
            std::this_thread::sleep_for(std::chrono::duration<double>(at));
            child->kill();
            if (child->wait() != 0) ++killed;
            // Killed: no file at all. Finished: a whole one.
            if (fs::exists(out)) {
                EXPECT_EQ(check(out), "") << "after a kill at " << at << " s";
            }
            // A rerun is never refused for what the killed one left.
            fs::remove(out);
            EXPECT_EQ(run(command).status, 0);
            EXPECT_EQ(check(out), "");
        }
        EXPECT_GT(killed, 0) << "no run was interrupted";
        // The killed runs' temporary files name their process and stay beside OUT only.
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().string().rfind("out.mdb.partial-", 0) == 0) fs::remove(entry.path());
    }
}

// A write that changes nothing, and one given up, leave no lock behind: the
// program's long-lived connection must never keep other programs waiting.
TEST(Recovery, WritesThatEndWithoutChangesLeaveOtherWritersFree)
{
    fs::path dir = scratchDir("writes-without-changes");
    std::string file = makeRegister(dir, RegisterKind{"Access2000", {}, false});
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    db->pager().beginRead();
    db->pager().endRead();
    { jet::WriteTransaction givenUp(*db); }
    {
        jet::WriteTransaction nothing(*db);
        nothing.commit();
    }
    // A lock kept here would make the other program's commit give up.
    testsupport::Run other = run({jetdb(), "sql", file, "update all_key set is_del=4"}, true);
    EXPECT_EQ(other.status, 0) << other.output;
}
