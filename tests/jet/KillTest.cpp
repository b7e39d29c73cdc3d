// A real crash: `jetdb` is killed (SIGKILL; TerminateProcess on Windows) at
// seeded moments while it marks every entry exported. Reopening must give a
// clean file holding either the old or the new state, never a mix.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

TEST(Kill, MarkingKilledAtRandomMomentsIsAllOrNothing)
{
    fs::path dir = scratchDir("kill");
    std::string original = (dir / "register.mdb").string();
    const int entries = 30000;
    ASSERT_EQ(run(quote(jetdb()) + " demo " + quote(original) + " --entries " + std::to_string(entries) + " --pending " +
                  std::to_string(entries))
                  .status,
              0);
    // How long an uninterrupted marking takes, to spread the kills over it.
    std::string probe = (dir / "probe.mdb").string();
    fs::copy_file(original, probe);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(quote(jetdb()) + " sql " + quote(probe) + " \"update all_key set is_del=2 where is_del=1\"").status, 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::mt19937 rng(7);
    int killed = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string file = (dir / "k.mdb").string();
        fs::remove(file);
        fs::remove(file + "-journal");
        fs::copy_file(original, file);
        double at = seconds * std::uniform_real_distribution<double>(0.05, 1.1)(rng);
        std::unique_ptr<ChildProcess> marking = start({jetdb(), "sql", file, "update all_key set is_del=2 where is_del=1"});
        std::this_thread::sleep_for(std::chrono::duration<double>(at));
        marking->kill(); // when it is still running
        if (marking->wait() != 0) ++killed;
        // Reopening rolls back an interrupted write; then the file is clean.
        EXPECT_EQ(check(file), "");
        std::string pending = run({jetdb(), "sql", file, "select id from all_key where is_del=1"}).output;
        auto left = std::count(pending.begin(), pending.end(), '\n');
        EXPECT_TRUE(left == 0 || left == entries) << left << " entries pending after a kill at " << at << " s";
        EXPECT_FALSE(fs::exists(file + "-journal"));
    }
    EXPECT_GT(killed, 0) << "no run was interrupted; the kills came too late";
}
