// The map of free pages (page 1, row 0) as Access 2000 leaves it: a
// reference map whose map-page slots may hold values past the end of the
// file (0xFFFFFF80). They are a note for the check, name no map page, and
// no write reads or writes through them.
#include "TestSupport.h"

#include "jet/ByteOrder.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr size_t kPageSize = 4096;
constexpr uint32_t kPastEnd = 0xFFFFFF80u;
constexpr size_t kPastEndSlot = 16; // the last of the 17 slots a 69-byte row holds

struct FreeMapRow {
    size_t start, end; // file offsets of page 1's row 0
};

FreeMapRow freeMapRow(const std::string& bytes)
{
    const size_t page = kPageSize;
    const size_t start = page + (jet::le16(reinterpret_cast<const uint8_t*>(&bytes[page + 0x0E])) & 0x1FFF);
    return {start, page + kPageSize}; // row 0 ends where the page does
}

uint32_t slotOf(const std::string& bytes, const FreeMapRow& row, size_t slot)
{
    return jet::le32(reinterpret_cast<const uint8_t*>(&bytes[row.start + 1 + 4 * slot]));
}

// Turns an Access 2000 file's inline map of free pages into a reference map
// as Access leaves it: slot 0 names a new map page (appended) with the same
// pages, the last slot holds 0xFFFFFF80.
void makeReferenceFreeMap(const std::string& file)
{
    std::string bytes = fileBytes(file);
    ASSERT_EQ(bytes.size() % kPageSize, 0u);
    const uint32_t mapPage = uint32_t(bytes.size() / kPageSize);
    FreeMapRow row = freeMapRow(bytes);
    ASSERT_EQ(row.end - row.start, 69u);
    ASSERT_EQ(bytes[row.start], 0); // inline, from page 0
    ASSERT_EQ(slotOf(bytes, row, 0), 0u);

    std::string page(kPageSize, '\0');
    page[0] = 0x05;
    page[1] = 0x01;
    std::copy(bytes.begin() + long(row.start + 5), bytes.begin() + long(row.end), page.begin() + 4);
    page[4 + mapPage / 8] = char(page[4 + mapPage / 8] & ~(1 << (mapPage % 8))); // the map page is in use

    std::string reference(row.end - row.start, '\0');
    reference[0] = 0x01;
    jet::put32(reinterpret_cast<uint8_t*>(&reference[1]), mapPage);
    jet::put32(reinterpret_cast<uint8_t*>(&reference[1 + 4 * kPastEndSlot]), kPastEnd);
    bytes.replace(row.start, reference.size(), reference);
    writeFile(file, bytes + page);
}

bool markedFree(const std::string& bytes, uint32_t mapPage, uint32_t page)
{
    return (uint8_t(bytes[mapPage * kPageSize + 4 + page / 8]) >> (page % 8)) & 1;
}

} // namespace

TEST(FreePageMap, SlotsPastTheEndAreANoteAndNoWriteUsesThem)
{
    std::string file = scratchCopy(testData("compIndexTestV2000.mdb"), "free-map-past-end");
    makeReferenceFreeMap(file);
    const uint32_t mapPage = uint32_t(fileBytes(file).size() / kPageSize) - 1;

    testsupport::Run checked = run(quote(jetdb()) + " check " + quote(file), true);
    EXPECT_EQ(checked.status, 0) << checked.output;
    EXPECT_NE(checked.output.find("note: '" + file + "': the map of free pages names map page 4294967168 in its slot 16, "
                                  "past the end of the file"),
              std::string::npos)
        << checked.output;

    // Deleting all but the two rows without CD_AGENTE shrinks its two-level
    // index: the released pages go to the map of free pages, through the map
    // page of slot 0.
    std::vector<uint32_t> indexPages;
    {
        auto db = openAccessFile(file);
        jet::Table& t = db->table("Table1");
        indexPages = jet::IndexTree(db->pager(), t.def(), t.def().realIndexes[0], t.location()).pages();
    }
    ASSERT_EQ(indexPages.size(), 3u);
    testsupport::Run deleted = run(quote(jetdb()) + " sql " + quote(file) + " " + quote("delete from Table1 where CD_AGENTE > 10"), true);
    ASSERT_EQ(deleted.status, 0) << deleted.output;

    std::string bytes = fileBytes(file);
    FreeMapRow row = freeMapRow(bytes);
    EXPECT_EQ(slotOf(bytes, row, 0), mapPage);
    EXPECT_EQ(slotOf(bytes, row, kPastEndSlot), kPastEnd);
    size_t released = 0;
    for (uint32_t p : indexPages) released += markedFree(bytes, mapPage, p);
    EXPECT_GE(released, 1u);
    EXPECT_FALSE(markedFree(bytes, mapPage, mapPage));

    checked = run(quote(jetdb()) + " check " + quote(file), true);
    EXPECT_EQ(checked.status, 0) << checked.output;
    if (!haveReaders()) return;
    fs::path dir = fs::path(file).parent_path();
    std::string ours = jetdbJson(file, "Table1", (dir / "ours.json").string());
    EXPECT_EQ(compareRows(ours, mdbJson(file, "Table1", (dir / "mdbtools.json").string()), true), "");
    EXPECT_EQ(compareRows(ours, mdbReaderJson(file, "Table1", (dir / "mdbreader.json").string()), true), "");
    EXPECT_EQ(mdbCount(file, "Table1"), 2);
}
