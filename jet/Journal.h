#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "jet/PlatformFile.h"

namespace jet {

// Rollback journal of one write transaction, kept beside the database as
// "<file>-journal". Access does not know it; only this engine rolls it back.
//
//   offset  size   meaning
//   0       8      magic "JETJRNL2"
//   8       4      page size of the database
//   12      4      page count of the database before the transaction
//   16      4      number of page records; 0xFFFFFFFF until the journal is sealed
//   20      4      nonce: a random number drawn for this journal, the seed of every record's CRC
//   24      4      CRC-32 of page 0 (as stored) before the transaction
//   28      4      CRC-32 of page 0 as the commit writes it (the same when it does not change it)
//   32      4      page count of the database after the commit
//   36      4      CRC-32 of bytes 0..35
//   40      ...    records: page number (4), the page's old image (a page),
//                  CRC-32 of both seeded with the nonce (4)
//
// A journal counts only once sealed (count, page 0 after the commit and header
// CRC written and synced, after its records) and only if every record's CRC
// holds: the database is not touched before that, so an unsealed journal is
// simply removed. A sealed journal is applied only to the file it was taken
// from, in a state the commit can have left: the page size agrees, the size
// lies between the sizes before and after the commit, and page 0 is as it was
// before or as the commit writes it. A journal that does not fit (a backup
// copied over the file, a journal of another file) is set aside, renamed, and
// never applied.
class Journal {
public:
    // `database` is the file being changed: the journal takes its access
    // rights, and must not exist yet (a journal is never written over).
    static std::unique_ptr<Journal> create(const std::string& path, const PlatformFile& database, size_t pageSize,
                                           uint32_t originalPageCount, uint32_t page0Crc);
    ~Journal();

    void saveOriginal(uint32_t page, const uint8_t* image);
    // Writes the record count and what the commit makes of the file, syncs
    // the journal and its directory.
    void seal(uint32_t finalPageCount, uint32_t finalPage0Crc);
    // Closes and deletes the journal (the transaction is durable or abandoned).
    void remove();

    struct Recovery {
        enum class Outcome { RolledBack, Removed, SetAside } outcome = Outcome::Removed;
        std::string setAsidePath; // where a journal that does not fit went
        std::string reason;       // why it does not fit
    };
    // Rolls the journal at `journalPath` back into `database` (pages of
    // `pageSize` bytes): old images written, the file cut to its old length,
    // synced; then the journal is removed. The caller holds the lock that
    // keeps every other reader and writer out.
    static Recovery recover(const std::string& journalPath, PlatformFile& database, size_t pageSize);

    static uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0);

private:
    Journal() = default;
    std::string path_;
    std::unique_ptr<PlatformFile> file_;
    size_t pageSize_ = 0;
    uint32_t originalPageCount_ = 0;
    uint32_t records_ = 0;
    uint32_t nonce_ = 0;
    uint32_t page0Crc_ = 0;
};

} // namespace jet
