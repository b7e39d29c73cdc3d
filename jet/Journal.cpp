#include "jet/Journal.h"

#include <algorithm>
#include <array>
#include <random>

#include "jet/ByteOrder.h"
#include "jet/Format.h"
#include "jet/JetError.h"

#include <cstring>
#include <vector>

namespace jet {

namespace {
constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '2'};
constexpr size_t kHeaderSize = 40;
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

namespace {
struct Header {
    uint32_t pageSize = 0, originalPages = 0, records = kUnsealed, nonce = 0, page0Before = 0, page0After = 0,
             finalPages = 0;
};

void writeHeader(uint8_t* h, const Header& v)
{
    std::memcpy(h, kMagic, 8);
    put32(h + 8, v.pageSize);
    put32(h + 12, v.originalPages);
    put32(h + 16, v.records);
    put32(h + 20, v.nonce);
    put32(h + 24, v.page0Before);
    put32(h + 28, v.page0After);
    put32(h + 32, v.finalPages);
    put32(h + 36, Journal::crc32(h, 36));
}

bool readHeader(const uint8_t* h, Header& v)
{
    if (std::memcmp(h, kMagic, 8) != 0 || le32(h + 36) != Journal::crc32(h, 36)) return false;
    v.pageSize = le32(h + 8);
    v.originalPages = le32(h + 12);
    v.records = le32(h + 16);
    v.nonce = le32(h + 20);
    v.page0Before = le32(h + 24);
    v.page0After = le32(h + 28);
    v.finalPages = le32(h + 32);
    return true;
}

uint32_t randomNonce()
{
    std::random_device random;
    return uint32_t(random());
}

// Renames a journal that must not be applied to the first free name beside it.
std::string setAside(const std::string& journalPath)
{
    for (int n = 1;; ++n) {
        std::string to = journalPath + ".set-aside" + (n > 1 ? "-" + std::to_string(n) : "");
        if (PlatformFile::exists(to)) {
            if (n >= 1000) throw JetError("Cannot set aside '" + journalPath + "': too many journals set aside beside it");
            continue;
        }
        PlatformFile::renameNoReplace(journalPath, to);
        PlatformFile::syncDirectoryOf(journalPath);
        return to;
    }
}
} // namespace

std::unique_ptr<Journal> Journal::create(const std::string& path, const PlatformFile& database, size_t pageSize,
                                         uint32_t originalPageCount, uint32_t page0Crc)
{
    std::unique_ptr<Journal> j(new Journal);
    j->path_ = path;
    j->pageSize_ = pageSize;
    j->originalPageCount_ = originalPageCount;
    j->nonce_ = randomNonce();
    j->page0Crc_ = page0Crc;
    try {
        // Made readable by its owner only, then given the database's rights:
        // old page images must never show more than the database does.
        j->file_ = PlatformFile::open(path, PlatformFile::Mode::CreateNewPrivate);
        j->file_->takePermissionsOf(database);
    } catch (const JetError& e) {
        if (j->file_) PlatformFile::remove(path);
        throw JetError(std::string("Cannot create the rollback journal: ") + e.what());
    }
    uint8_t h[kHeaderSize];
    writeHeader(h, Header{uint32_t(pageSize), originalPageCount, kUnsealed, j->nonce_, page0Crc, page0Crc,
                          originalPageCount});
    j->file_->writeAt(0, h, kHeaderSize);
    return j;
}

Journal::~Journal() = default;

void Journal::saveOriginal(uint32_t page, const uint8_t* image)
{
    std::vector<uint8_t> rec(recordSize(pageSize_));
    put32(rec.data(), page);
    std::memcpy(rec.data() + 4, image, pageSize_);
    put32(rec.data() + 4 + pageSize_, crc32(rec.data(), 4 + pageSize_, nonce_));
    file_->writeAt(kHeaderSize + uint64_t(records_) * rec.size(), rec.data(), rec.size());
    ++records_;
}

void Journal::seal(uint32_t finalPageCount, uint32_t finalPage0Crc)
{
    file_->sync();
    uint8_t h[kHeaderSize];
    writeHeader(h, Header{uint32_t(pageSize_), originalPageCount_, records_, nonce_, page0Crc_, finalPage0Crc,
                          finalPageCount});
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

Journal::Recovery Journal::recover(const std::string& journalPath, PlatformFile& database, size_t pageSize)
{
    Recovery result;
    std::string misfit;
    {
        auto jf = PlatformFile::open(journalPath, PlatformFile::Mode::ReadOnly);
        uint8_t h[kHeaderSize] = {};
        Header v;
        bool known = jf->readAt(0, h, kHeaderSize) == kHeaderSize && readHeader(h, v);
        if (!known) {
            // Shorter than a header or never sealed by a writer of this
            // format: nothing was written to the database after it.
            if (std::memcmp(h, kMagic, 7) != 0 || std::memcmp(h, kMagic, 8) == 0) {
                jf.reset();
                PlatformFile::remove(journalPath);
                PlatformFile::syncDirectoryOf(journalPath);
                return result;
            }
            misfit = "it was written by an older version of this program";
        } else if (v.records == kUnsealed) {
            jf.reset();
            PlatformFile::remove(journalPath);
            PlatformFile::syncDirectoryOf(journalPath);
            return result;
        }
        std::vector<uint8_t> rec;
        if (misfit.empty()) {
            const uint64_t size = database.size();
            const uint64_t low = uint64_t(v.originalPages) * pageSize;
            const uint64_t high = uint64_t(std::max(v.originalPages, v.finalPages)) * pageSize;
            std::vector<uint8_t> page0(pageSize);
            if (v.pageSize != pageSize)
                misfit = "its pages are " + std::to_string(v.pageSize) + " bytes, the file's " + std::to_string(pageSize);
            else if (size < low || size > high)
                misfit = "the file is " + std::to_string(size) + " bytes long; the journal was taken from one of " +
                         std::to_string(low) + " bytes";
            else if (database.readAt(0, page0.data(), pageSize) != pageSize ||
                     (crc32(page0.data(), pageSize) != v.page0Before && crc32(page0.data(), pageSize) != v.page0After))
                misfit = "the file's header page is not the one the journal was taken from";
        }
        if (misfit.empty()) {
            // Every record is checked before the database is touched.
            const size_t size = recordSize(pageSize);
            rec.resize(size);
            bool whole = jf->size() >= kHeaderSize + uint64_t(v.records) * size;
            for (uint32_t r = 0; whole && r < v.records; ++r)
                whole = jf->readAt(kHeaderSize + uint64_t(r) * size, rec.data(), size) == size &&
                        le32(rec.data() + 4 + pageSize) == crc32(rec.data(), 4 + pageSize, v.nonce);
            if (!whole) misfit = "its records are damaged";
        }
        if (misfit.empty()) {
            const size_t size = recordSize(pageSize);
            for (uint32_t r = 0; r < v.records; ++r) {
                jf->readAt(kHeaderSize + uint64_t(r) * size, rec.data(), size);
                uint32_t page = le32(rec.data());
                if (page < v.originalPages) database.writeAt(uint64_t(page) * pageSize, rec.data() + 4, pageSize);
            }
            database.truncate(uint64_t(v.originalPages) * pageSize);
            database.sync();
            result.outcome = Recovery::Outcome::RolledBack;
        }
    }
    if (!misfit.empty()) {
        result.outcome = Recovery::Outcome::SetAside;
        result.reason = misfit;
        result.setAsidePath = setAside(journalPath);
        return result;
    }
    PlatformFile::remove(journalPath);
    PlatformFile::syncDirectoryOf(journalPath);
    return result;
}

} // namespace jet
