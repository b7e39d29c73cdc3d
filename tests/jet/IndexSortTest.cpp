// Index entries of a private build sorted out to a temporary file and merged
// at the flush: the runs themselves, and writes through them on copies of
// an Access-made file, which must come out as the same writes without them.
#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/EntryRunFile.h"
#include "jet/JetError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct Sorted {
    jet::IndexEntry entry;
    bool uniqueKey = false;
};

bool entryLess(const Sorted& a, const Sorted& b) { return a.entry.compare(b.entry) < 0; }

std::u16string numbered(const char* prefix, int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%05d", prefix, n);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

// A row of testV2003's Table1: A (text, primary key), B (text, indexed), the rest empty.
std::vector<std::optional<jet::Value>> row(const std::u16string& a, int b)
{
    std::vector<std::optional<jet::Value>> values(9);
    values[0] = jet::Value{a};
    values[1] = jet::Value{numbered("b", b % 37)};
    values[4] = jet::Value{int64_t(b)};
    return values;
}

// Inserts, then changes and deletes rows whose entries went to the file by
// then, takes a deleted row's unique key again and deletes a row the file
// had before. `sortOut`: as a private build that sorts its entries out
// every few rows; else as an ordinary write.
void writeThroughRuns(const std::string& file, bool sortOut)
{
    auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
    if (sortOut) {
        db->pager().setPrivateBuild(true);
        db->setIndexMemory(2000);
    }
    jet::WriteTransaction tx(*db);
    jet::Table& t = db->table("Table1");
    const std::vector<jet::RowLocator> before = [&] {
        std::vector<jet::RowLocator> rows;
        t.scan([&](jet::RowLocator at, std::vector<jet::Value>&) { return rows.push_back(at), true; });
        return rows;
    }();
    std::vector<jet::RowLocator> added;
    for (int i = 0; i < 3000; ++i) {
        added.push_back(t.insertRow(row(numbered("K", i), i)));
        db->spillIfLarge();
    }
    const std::string runs = jet::EntryRunFile::pathFor(file);
    EXPECT_EQ(fs::exists(runs), sortOut);
#ifndef _WIN32
    if (sortOut) {
        EXPECT_EQ(fs::status(runs).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
#endif
    for (int i = 0; i < 3000; i += 7) t.updateRow(added[size_t(i)], {{0, jet::Value{numbered("M", i)}}, {1, jet::Value{numbered("b", i % 5)}}});
    for (int i = 3; i < 3000; i += 11) t.deleteRow(added[size_t(i)]);
    t.insertRow(row(numbered("K", 3), 3));
    t.deleteRow(before.front());
    tx.commit();
    EXPECT_FALSE(fs::exists(runs));
}

} // namespace

TEST(IndexSort, RunsGiveBackTheirEntriesMergedInIndexOrder)
{
    fs::path dir = scratchDir("index-sort-runs");
    std::mt19937 random(7);
    std::vector<Sorted> all;
    std::vector<jet::EntryRunFile::Run> runs;
    const std::string database = (dir / "build.mdb").string();
    {
        jet::EntryRunFile file(database, 0);
        // More runs than one merge reads at once; keys that share prefixes
        // of every length, empty and long ones, every row and child value.
        const int runCount = int(jet::EntryRunFile::kMergeWidth) * 2 + 5;
        uint32_t locator = 0;
        for (int r = 0; r < runCount; ++r) {
            std::vector<Sorted> run(size_t(random() % 200));
            for (Sorted& s : run) {
                size_t length = random() % 4 == 0 ? random() % 600 : random() % 12;
                for (size_t k = 0; k < length; ++k) s.entry.key.push_back(uint8_t(k < 6 ? 0x7F : random() % 4));
                ++locator;
                s.entry.page = (locator >> 8) * 65521 % 0xFFFFFF;
                s.entry.row = uint8_t(locator);
                s.entry.child = random() % 3 == 0 ? random() : 0;
                s.uniqueKey = random() % 2;
            }
            std::sort(run.begin(), run.end(), entryLess);
            std::unique_ptr<jet::EntryRunFile::Writer> out = file.write();
            for (const Sorted& s : run) out->add(s.entry, s.uniqueKey);
            runs.push_back(out->finish());
            all.insert(all.end(), run.begin(), run.end());
        }
        std::sort(all.begin(), all.end(), entryLess);
        std::unique_ptr<jet::EntrySource> merged = file.merge(runs, nullptr);
        Sorted got;
        size_t n = 0;
        while (merged->next(got.entry, got.uniqueKey)) {
            ASSERT_LT(n, all.size());
            const Sorted& want = all[n++];
            ASSERT_EQ(got.entry.key, want.entry.key) << n;
            ASSERT_EQ(got.entry.page, want.entry.page) << n;
            ASSERT_EQ(got.entry.row, want.entry.row) << n;
            ASSERT_EQ(got.entry.child, want.entry.child) << n;
            ASSERT_EQ(got.uniqueKey, want.uniqueKey) << n;
        }
        EXPECT_EQ(n, all.size());
        EXPECT_TRUE(fs::exists(file.path()));
    }
    EXPECT_FALSE(fs::exists(jet::EntryRunFile::pathFor(database)));
}

TEST(IndexSort, APrivateBuildSortingItsEntriesOutWritesWhatAnOrdinaryWriteDoes)
{
    fs::path dir = scratchDir("index-sort-writes");
    fs::create_directories(dir / "ordinary");
    fs::create_directories(dir / "sorted");
    const std::string original = testData("testV2003.mdb");
    const std::string ordinary = (dir / "ordinary" / "testV2003.mdb").string();
    const std::string sorted = (dir / "sorted" / "testV2003.mdb").string();
    fs::copy_file(original, ordinary);
    fs::copy_file(original, sorted);
    writeThroughRuns(ordinary, false);
    writeThroughRuns(sorted, true);
    EXPECT_EQ(fileBytes(sorted), fileBytes(ordinary));
    EXPECT_EQ(check(sorted), "");
    EXPECT_EQ(openAccessFile(sorted)->table("Table1").def().rowCount, 2u + 3000 - 273 + 1 - 1);
    if (haveReaders()) {
        std::string ours = jetdbJson(sorted, "Table1", (dir / "ours.json").string());
        EXPECT_EQ(compareRows(ours, mdbJson(sorted, "Table1", (dir / "mdbtools.json").string()), true), "");
        EXPECT_EQ(compareRows(ours, mdbReaderJson(sorted, "Table1", (dir / "mdbreader.json").string()), true), "");
    }
}

TEST(IndexSort, AUniqueKeyTwiceAmongSortedEntriesIsRefusedAtTheCommit)
{
    fs::path dir = scratchDir("index-sort-duplicate");
    const std::string file = (dir / "testV2003.mdb").string();
    fs::copy_file(testData("testV2003.mdb"), file);
    auto db = openAccessFile(file, jet::Pager::Access::ReadWrite);
    db->pager().setPrivateBuild(true);
    db->setIndexMemory(2000);
    jet::Table& t = db->table("Table1");
    db->beginWrite();
    for (int i = 0; i < 500; ++i) {
        t.insertRow(row(numbered("K", i), i));
        db->spillIfLarge();
    }
    // K00005 went to the file long ago: the insert cannot see it.
    t.insertRow(row(numbered("K", 5), 5));
    try {
        db->commit();
        FAIL() << "the duplicate was written";
    } catch (const jet::JetError& e) {
        EXPECT_NE(std::string(e.what()).find("duplicate value in index 'PrimaryKey'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(jet::EntryRunFile::pathFor(file)));
}
