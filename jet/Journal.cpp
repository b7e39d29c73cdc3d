#include "jet/Journal.h"

#include <array>

#include "jet/ByteOrder.h"
#include "jet/Format.h"
#include "jet/JetError.h"

#include <cstring>
#include <vector>

namespace jet {

namespace {
constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kHeaderSize = 24;
constexpr uint32_t kUnsealed = 0xFFFFFFFFu;

size_t recordSize(size_t pageSize) { return 4 + pageSize + 4; }
} // namespace

uint32_t Journal::crc32(const uint8_t* data, size_t n, uint32_t crc)
{
    // CRC-32 (the zlib polynomial), eight bytes a step ("slicing by 8"):
    // table[k][b] is the CRC of byte b followed by k zero bytes. The journal
    // sums every page it saves, so this runs over the whole file for a big write.
    static const auto tables = [] {
        std::array<std::array<uint32_t, 256>, 8> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        return t;
    }();
    crc = ~crc;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint32_t low = crc ^ le32(data + i);
        uint32_t high = le32(data + i + 4);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
              tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
    }
    for (; i < n; ++i) crc = tables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

static void buildHeader(uint8_t* h, uint32_t pageSize, uint32_t originalPageCount, uint32_t records)
{
    std::memcpy(h, kMagic, 8);
    put32(h + 8, pageSize);
    put32(h + 12, originalPageCount);
    put32(h + 16, records);
    put32(h + 20, Journal::crc32(h, 20));
}

std::unique_ptr<Journal> Journal::create(const std::string& path, size_t pageSize, uint32_t originalPageCount)
{
    std::unique_ptr<Journal> j(new Journal);
    j->path_ = path;
    j->pageSize_ = pageSize;
    j->originalPageCount_ = originalPageCount;
    try {
        j->file_ = PlatformFile::open(path, PlatformFile::Mode::CreateOrTruncate);
    } catch (const JetError& e) {
        throw JetError(std::string("Cannot create the rollback journal: ") + e.what());
    }
    uint8_t h[kHeaderSize];
    buildHeader(h, uint32_t(pageSize), originalPageCount, kUnsealed);
    j->file_->writeAt(0, h, kHeaderSize);
    return j;
}

Journal::~Journal() = default;

void Journal::saveOriginal(uint32_t page, const uint8_t* image)
{
    std::vector<uint8_t> rec(recordSize(pageSize_));
    put32(rec.data(), page);
    std::memcpy(rec.data() + 4, image, pageSize_);
    put32(rec.data() + 4 + pageSize_, crc32(rec.data(), 4 + pageSize_));
    file_->writeAt(kHeaderSize + uint64_t(records_) * rec.size(), rec.data(), rec.size());
    ++records_;
}

void Journal::seal()
{
    file_->sync();
    uint8_t h[kHeaderSize];
    buildHeader(h, uint32_t(pageSize_), originalPageCount_, records_);
    file_->writeAt(0, h, kHeaderSize);
    file_->sync();
    PlatformFile::syncDirectoryOf(path_);
}

void Journal::remove()
{
    file_.reset();
    PlatformFile::remove(path_);
    PlatformFile::syncDirectoryOf(path_);
}

bool Journal::rollBack(const std::string& journalPath, PlatformFile& database)
{
    if (!PlatformFile::exists(journalPath)) return false;
    bool rolledBack = false;
    {
        auto jf = PlatformFile::open(journalPath, PlatformFile::Mode::ReadOnly);
        uint8_t h[kHeaderSize] = {};
        bool sealed = jf->readAt(0, h, kHeaderSize) == kHeaderSize && std::memcmp(h, kMagic, 8) == 0 &&
                      le32(h + 20) == crc32(h, 20) && le32(h + 16) != kUnsealed;
        const size_t pageSize = le32(h + 8);
        if (sealed && pageSize > 0 && pageSize <= kMaxPageSize) {
            const size_t size = recordSize(pageSize);
            uint32_t originalPages = le32(h + 12);
            uint32_t records = le32(h + 16);
            // Check every record before touching the database: a journal that
            // is not whole was never sealed by its writer.
            std::vector<uint8_t> rec(size);
            bool whole = jf->size() >= kHeaderSize + uint64_t(records) * size;
            for (uint32_t r = 0; whole && r < records; ++r) {
                if (jf->readAt(kHeaderSize + uint64_t(r) * size, rec.data(), size) != size ||
                    le32(rec.data() + 4 + pageSize) != crc32(rec.data(), 4 + pageSize))
                    whole = false;
            }
            if (whole) {
                for (uint32_t r = 0; r < records; ++r) {
                    jf->readAt(kHeaderSize + uint64_t(r) * size, rec.data(), size);
                    uint32_t page = le32(rec.data());
                    if (page < originalPages) database.writeAt(uint64_t(page) * pageSize, rec.data() + 4, pageSize);
                }
                database.truncate(uint64_t(originalPages) * pageSize);
                database.sync();
                rolledBack = true;
            }
        }
    }
    PlatformFile::remove(journalPath);
    PlatformFile::syncDirectoryOf(journalPath);
    return rolledBack;
}

} // namespace jet
