#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/Format.h"
#include "jet/PlatformFile.h"
#include "jet/TextCoding.h"

namespace jet {

struct PageBuffer {
    uint8_t data[kMaxPageSize];
};
using PageRef = std::shared_ptr<const PageBuffer>;

class Journal;

// The page channel: reads pages through a bounded cache with read-ahead, and
// runs write transactions. A transaction keeps its changed pages in memory;
// commit first saves the old image of every changed page in a rollback
// journal beside the file and syncs it, then writes the pages, syncs the
// file and removes the journal. A failure before commit leaves the file as
// it was; a crash during commit leaves a journal that the next reader or
// writer rolls back.
//
// Processes share a file through three lock bytes (PlatformFile::Lock):
//   Shared   readers hold it shared while they read, and so does a writer for
//            its whole transaction; a commit and a rollback of a crashed
//            writer's journal hold it exclusive while they change the file.
//   Pending  taken exclusive by whoever wants Shared exclusive, before it
//            waits for the readers inside to leave; a reader takes it shared
//            for a moment before Shared, so that no new reader keeps a
//            commit waiting forever.
//   Writer   the one writer: held exclusive from beginWrite to the end of
//            commit or rollback.
// Pages reach the file only under Shared exclusive, and the journal is
// removed before that lock is given up. So a reader holding Shared that
// finds a journal while Writer is held sees a live writer's journal beside a
// whole file, and reads on; one that finds a journal while Writer is free
// sees what a crashed writer left: it takes Pending and Shared exclusive
// (never Writer, which would make it look like a live writer to the others),
// rolls the journal back and returns to Shared. A writer takes Shared
// before Writer, so it has settled any journal before it starts.
//
// Encoded files (Access's "Encode Database"; the header holds a non-zero
// database key): every page but page 0 is RC4-encrypted on disk under a
// 4-byte key, the database key XOR the page number, little-endian. The
// channel decrypts pages as it reads them and encrypts them as it writes
// them, so everything above it sees plain pages. The journal keeps pages as
// they are on disk (encrypted), so that rolling it back needs no key and
// the plain text of an encoded file never lies beside it.
class Pager {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Opens an existing file; rolls back an interrupted write first (see
    // notices() for a journal that did not belong to the file). The
    // format is the one the header's version field names (Jet 4 when it
    // names none, for the header check to refuse).
    static std::unique_ptr<Pager> open(const std::string& path, Access access);
    // Creates a new file of the format holding only the given page 0 (fails if the file exists).
    static std::unique_ptr<Pager> create(const std::string& path, const Format& format, const uint8_t* headerPage);
    ~Pager();

    const std::string& path() const { return path_; }
    const Format& format() const { return *format_; }
    // How the file stores texts (the database sets it from the header).
    const TextCoding& textCoding() const { return *textCoding_; }
    void setTextCoding(const TextCoding& coding) { textCoding_ = &coding; }
    size_t pageSize() const { return format_->pageSize; }
    bool writable() const { return access_ == Access::ReadWrite; }
    uint32_t pageCount() const { return pageCount_; }
    // The database key the pages are encrypted with; 0 when they are in the clear.
    uint32_t databaseKey() const { return databaseKey_; }

    // The current content of a page (the transaction's copy while one runs).
    // Throws JetError naming the page when it lies past the end of the file.
    PageRef read(uint32_t page);

    // A read scope: while one is open, no other process of ours commits, so
    // every page read belongs to one state of the file. The first scope
    // waits for a commit in progress, rolls back what a crashed writer left,
    // and forgets cached pages (another process may have written since).
    // Scopes nest; inside a write transaction they cost nothing.
    void beginRead();
    void endRead();

    void beginWrite();
    // Counts the changes to the file since it was opened: every commit of
    // ours, and every time a read scope or write found the file written by
    // another process since we last looked. A reader that keeps what it read
    // across scopes compares it to know whether that still holds.
    uint64_t changeCount() const { return changes_; }
    // Whether the file's size or time moved since we last looked (another
    // process committed): a look at the file's state, no page read, no lock.
    bool changedOnDisk() const { return file_->stamp() != lastStamp_; }
    bool inWrite() const { return inWrite_; }
    // Copy-on-write access to a page inside the transaction.
    uint8_t* modify(uint32_t page);
    // Appends a zeroed page and returns its number.
    uint32_t allocate();
    // Runs before a transaction's first allocation (and may throw to refuse
    // it): the database checks there that nothing names pages past the end.
    void setAllocationGuard(std::function<void()> guard) { allocationGuard_ = std::move(guard); }
    void commit();
    void rollback();

    // Drops every cached page, so that the next reads see what another
    // process may have written meanwhile.
    void dropCache();

    // A file made new that nobody opens before it is complete (it is renamed
    // into place afterwards): its transactions keep no journal, and
    // spillIfLarge writes their changed pages to the file early once they
    // outgrow the cache, so that building a file of any size takes memory of
    // the cache's size. A rollback after a spill leaves the pager unusable;
    // the file is to be removed.
    void setPrivateBuild(bool on) { privateBuild_ = on; }
    bool privateBuild() const { return privateBuild_; }
    // Call only between changes, while no pointer modify() gave is in use.
    void spillIfLarge();

    // What the pager did that its user should hear of, though it is no
    // error: a journal set aside because it did not belong to the file.
    const std::vector<std::string>& notices() const { return notices_; }

    // Test hook: the n-th page write of the next commits dies as a crashed
    // process would, leaving file and journal as they are (n = 0: never).
    void setCrashAfterPageWrites(int n) { crashAfterWrites_ = n; }

    static std::string journalPath(const std::string& path) { return path + "-journal"; }

private:
    Pager() = default;
    // The locking protocol (see above). lockShared waits up to the lock
    // timeout, settling any journal a crashed writer left, and throws
    // LockedError when it cannot.
    void lockShared();
    bool settleJournal(std::chrono::steady_clock::time_point deadline);
    void recover(const std::string& journal);
    // Shared exclusive (Pending held) for a commit; false on timeout, with
    // Shared held as before.
    bool lockExclusive(std::chrono::steady_clock::time_point deadline);
    // From exclusive back to Shared held as the read scopes need it.
    void unlockExclusive();
    static bool pollUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& attempt);
    void createJournal();
    // Counts a change when the file's stamp moved since we last saw it.
    void noteOutsideChanges();
    static uint64_t firstChangeCount();
    PageRef load(uint32_t page);
    void remember(uint32_t page, std::shared_ptr<PageBuffer> buffer);
    void releaseWriteState();
    void checkUsable() const;
    // Encrypts or decrypts (RC4 is its own inverse) a page of an encoded file in place.
    void cipher(uint32_t page, uint8_t* data) const;
    // A page's bytes as they go to disk: `data` itself, or an encrypted copy
    // in storeBuffer_ (valid until the next call).
    const uint8_t* stored(uint32_t page, const uint8_t* data);

    std::string path_;
    Access access_ = Access::ReadOnly;
    const Format* format_ = &Format::jet4();
    const TextCoding* textCoding_ = &TextCoding::unicode();
    std::unique_ptr<PlatformFile> file_;
    uint32_t pageCount_ = 0;
    uint32_t databaseKey_ = 0;
    std::unique_ptr<uint8_t[]> storeBuffer_;
    PlatformFile::Stamp lastStamp_; // as we last saw the file (see changeCount)
    uint64_t changes_ = 0;

    // Clean page cache, least recently used at the front.
    struct CacheEntry {
        std::shared_ptr<PageBuffer> buffer;
        std::list<uint32_t>::iterator lru;
    };
    std::unordered_map<uint32_t, CacheEntry> cache_;
    std::list<uint32_t> lru_;
    size_t cacheCapacity_ = 8192; // pages (32 MB)
    std::unique_ptr<uint8_t[]> readBuffer_; // room for one read-ahead

    // Transaction state.
    bool inWrite_ = false;
    std::function<void()> allocationGuard_;
    bool allocationChecked_ = false;
    bool broken_ = false;
    uint32_t pageCountAtBegin_ = 0;
    std::unordered_map<uint32_t, std::shared_ptr<PageBuffer>> dirty_;
    std::unique_ptr<Journal> journal_;
    int crashAfterWrites_ = 0;
    int readDepth_ = 0;
    // Shared is held while a write runs, and while the outermost read scope
    // lasts (this flag), also across the end of a write inside it.
    bool sharedForRead_ = false;
    std::string waitReason_; // why lockShared is waiting, for its timeout message
    bool privateBuild_ = false;
    bool spilled_ = false;
    std::vector<std::string> notices_;
};

// Holds a read scope of a pager (see Pager::beginRead).
class ReadScope {
public:
    explicit ReadScope(Pager& pager) : pager_(pager) { pager_.beginRead(); }
    ~ReadScope() { pager_.endRead(); }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    Pager& pager_;
};

} // namespace jet
