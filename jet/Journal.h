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
//   0       8      magic "JETJRNL1"
//   8       4      page size of the database
//   12      4      page count of the database before the transaction
//   16      4      number of page records; 0xFFFFFFFF until the journal is sealed
//   20      4      CRC-32 of bytes 0..19
//   24      ...    records: page number (4), the page's old image (a page), CRC-32 of both (4)
//
// A journal counts only once sealed (count and header CRC written and synced)
// and only if every record's CRC holds: the database is not touched before
// that, so an unsealed or torn journal is simply removed.
class Journal {
public:
    static std::unique_ptr<Journal> create(const std::string& path, size_t pageSize, uint32_t originalPageCount);
    ~Journal();

    void saveOriginal(uint32_t page, const uint8_t* image);
    // Writes the record count, syncs the journal and its directory.
    void seal();
    // Closes and deletes the journal (the transaction is durable or abandoned).
    void remove();

    // Rolls a sealed journal back into the database file: old images written,
    // the file cut to its old length, synced; then the journal is removed.
    // Returns true when something was rolled back.
    static bool rollBack(const std::string& journalPath, PlatformFile& database);

    static uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0);

private:
    Journal() = default;
    std::string path_;
    std::unique_ptr<PlatformFile> file_;
    size_t pageSize_ = 0;
    uint32_t originalPageCount_ = 0;
    uint32_t records_ = 0;
};

} // namespace jet
