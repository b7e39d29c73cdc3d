#include "jet/Pager.h"

#include <atomic>

#include "jet/JetError.h"
#include "jet/Journal.h"
#include "jet/ByteOrder.h"
#include "jet/HeaderPage.h"
#include "jet/Rc4.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace jet {

namespace {
constexpr uint32_t kReadAhead = 16;
// How long a reader waits for a commit, and a commit for the readers.
constexpr int kLockTimeoutMs = 10000;
constexpr int kLockPollMs = 5;

// Thrown by the crash hook; the pager is unusable afterwards, as a dead process would be.
class SimulatedCrash : public JetError {
public:
    SimulatedCrash() : JetError("simulated crash during commit") {}
};
} // namespace

std::unique_ptr<Pager> Pager::open(const std::string& path, Access access)
{
    std::unique_ptr<Pager> p(new Pager);
    p->path_ = path;
    p->access_ = access;
    if (!PlatformFile::exists(path)) throw JetError("Database file '" + path + "' does not exist");
    // One opening of the file for reads and locks alike, read-write where the
    // file allows it even for a reader, so that a reader can roll back what a
    // crashed writer left.
    try {
        p->file_ = PlatformFile::open(path, PlatformFile::Mode::ReadWrite);
    } catch (const JetError&) {
        if (access == Access::ReadWrite) throw;
        p->file_ = PlatformFile::open(path, PlatformFile::Mode::ReadOnly);
    }
    // The version says the page size a journal is checked against; it never
    // changes in a file's life, so it is read before any lock.
    uint8_t start[HeaderPage::kKeyAreaSize] = {};
    const Format* format = nullptr;
    if (p->file_->readAt(0, start, sizeof start) == sizeof start)
        format = Format::forVersion(le32(start + HeaderPage::kVersionOffset));
    if (format) p->format_ = format;
    {
        ReadScope scope(*p);
        if (format && p->file_->readAt(0, start, sizeof start) == sizeof start)
            p->databaseKey_ = HeaderPage::storedDatabaseKey(*format, start);
        uint64_t size = p->file_->size();
        if (size < p->pageSize())
            throw JetError("'" + path + "' is not an Access database: it is " + std::to_string(size) +
                           " bytes long, shorter than one page");
        p->pageCount_ = uint32_t(std::min<uint64_t>(size / p->pageSize(), 0xFFFFFFu));
        p->lastStamp_ = p->file_->stamp();
    }
    p->changes_ = firstChangeCount();
    return p;
}

std::unique_ptr<Pager> Pager::create(const std::string& path, const Format& format, const uint8_t* headerPage)
{
    std::unique_ptr<Pager> p(new Pager);
    p->path_ = path;
    p->format_ = &format;
    p->access_ = Access::ReadWrite;
    p->file_ = PlatformFile::open(path, PlatformFile::Mode::CreateNew);
    p->databaseKey_ = HeaderPage::storedDatabaseKey(format, headerPage);
    p->file_->writeAt(0, headerPage, format.pageSize);
    p->file_->sync();
    PlatformFile::syncDirectoryOf(path);
    p->pageCount_ = 1;
    p->lastStamp_ = p->file_->stamp();
    p->changes_ = firstChangeCount();
    return p;
}

Pager::~Pager()
{
    if (inWrite_ && !broken_) {
        try {
            rollback();
        } catch (...) {
            // A destructor has no one to tell; the journal left beside the
            // file rolls the write back at the next open.
        }
    }
}

bool Pager::pollUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& attempt)
{
    while (!attempt()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
    return true;
}

void Pager::lockShared()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMs);
    waitReason_ = "'" + path_ + "' is being changed by another program; try again when it has finished";
    for (;;) {
        // Pending held exclusive means a commit or a rollback waits for the
        // readers inside to leave: no new one goes in meanwhile.
        if (file_->tryLock(PlatformFile::Lock::Pending, false)) {
            bool shared = file_->tryLock(PlatformFile::Lock::Shared, false);
            file_->unlock(PlatformFile::Lock::Pending);
            if (shared) {
                bool settled = false;
                try {
                    settled = settleJournal(deadline);
                } catch (...) {
                    file_->unlock(PlatformFile::Lock::Shared);
                    throw;
                }
                if (settled) return;
                file_->unlock(PlatformFile::Lock::Shared);
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) throw LockedError(waitReason_);
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
}

bool Pager::settleJournal(std::chrono::steady_clock::time_point deadline)
{
    const std::string journal = journalPath(path_);
    if (!PlatformFile::exists(journal)) return true;
    // A live writer's journal: the file beside it is whole.
    if (file_->lockedElsewhere(PlatformFile::Lock::Writer)) return true;
    // A crashed writer's: the file may hold part of its commit. Nobody reads
    // it until the journal is rolled back, by us or by another process.
    if (!file_->writable()) {
        waitReason_ = "'" + path_ + "' has an unfinished write (" + journal +
                      ") that must be rolled back, but the file cannot be opened for writing";
        return false;
    }
    if (!file_->tryLock(PlatformFile::Lock::Pending, true)) return false;
    file_->unlock(PlatformFile::Lock::Shared);
    bool exclusive = pollUntil(deadline, [&] { return file_->tryLock(PlatformFile::Lock::Shared, true); });
    if (exclusive) {
        try {
            // Looked at again: the writer may have finished in between.
            if (PlatformFile::exists(journal) && !file_->lockedElsewhere(PlatformFile::Lock::Writer)) recover(journal);
        } catch (...) {
            file_->unlock(PlatformFile::Lock::Shared);
            file_->unlock(PlatformFile::Lock::Pending);
            throw;
        }
        file_->unlock(PlatformFile::Lock::Shared);
    }
    // With Pending ours nobody holds Shared exclusive: taking it shared again cannot fail.
    bool shared = file_->tryLock(PlatformFile::Lock::Shared, false);
    file_->unlock(PlatformFile::Lock::Pending);
    if (!shared) throw JetError("'" + path_ + "': cannot lock the file for reading: " + PlatformFile::lastSystemError());
    return exclusive;
}

void Pager::recover(const std::string& journal)
{
    Journal::Recovery r = Journal::recover(journal, *file_, pageSize());
    if (r.outcome == Journal::Recovery::Outcome::SetAside)
        notices_.push_back("'" + path_ + "': the rollback journal beside it does not belong to it (" + r.reason +
                           "); it was set aside as '" + r.setAsidePath + "' and not applied");
}

bool Pager::lockExclusive(std::chrono::steady_clock::time_point deadline)
{
    if (!pollUntil(deadline, [&] { return file_->tryLock(PlatformFile::Lock::Pending, true); })) return false;
    file_->unlock(PlatformFile::Lock::Shared);
    if (pollUntil(deadline, [&] { return file_->tryLock(PlatformFile::Lock::Shared, true); })) return true;
    bool shared = file_->tryLock(PlatformFile::Lock::Shared, false);
    file_->unlock(PlatformFile::Lock::Pending);
    if (!shared) throw JetError("'" + path_ + "': cannot lock the file for reading: " + PlatformFile::lastSystemError());
    return false;
}

void Pager::unlockExclusive()
{
    file_->unlock(PlatformFile::Lock::Shared);
    // A read scope around the write keeps reading after it.
    if (sharedForRead_ && !file_->tryLock(PlatformFile::Lock::Shared, false)) {
        sharedForRead_ = false;
        broken_ = true;
    }
    file_->unlock(PlatformFile::Lock::Pending);
}

void Pager::cipher(uint32_t page, uint8_t* data) const
{
    uint8_t key[4];
    put32(key, databaseKey_ ^ page);
    Rc4(key, sizeof key).apply(data, pageSize());
}

const uint8_t* Pager::stored(uint32_t page, const uint8_t* data)
{
    if (databaseKey_ == 0 || page == 0) return data;
    if (!storeBuffer_) storeBuffer_ = std::make_unique_for_overwrite<uint8_t[]>(kMaxPageSize);
    std::memcpy(storeBuffer_.get(), data, pageSize());
    cipher(page, storeBuffer_.get());
    return storeBuffer_.get();
}

void Pager::checkUsable() const
{
    if (broken_) throw JetError("'" + path_ + "' was left by a failed write; reopen the database");
}

PageRef Pager::read(uint32_t page)
{
    checkUsable();
    if (page >= pageCount_)
        throw JetError("'" + path_ + "': page " + std::to_string(page) + " lies past the end of the file (" +
                       std::to_string(pageCount_) + " pages)");
    if (inWrite_) {
        auto d = dirty_.find(page);
        if (d != dirty_.end()) return d->second;
    }
    auto it = cache_.find(page);
    if (it != cache_.end()) {
        lru_.splice(lru_.end(), lru_, it->second.lru);
        return it->second.buffer;
    }
    return load(page);
}

PageRef Pager::load(uint32_t page)
{
    // Read ahead: scans walk pages in order, so fetch the following ones too.
    uint32_t onDisk = inWrite_ ? pageCountAtBegin_ : pageCount_;
    uint32_t count = 1;
    while (count < kReadAhead && page + count < onDisk &&
           !cache_.count(page + count) && !(inWrite_ && dirty_.count(page + count)))
        ++count;
    // Neither the read buffer nor the pages are cleared first: every byte is
    // overwritten (a scan reads the whole file through here).
    const size_t pageSize = this->pageSize();
    if (!readBuffer_) readBuffer_ = std::make_unique_for_overwrite<uint8_t[]>(size_t(kReadAhead) * pageSize);
    size_t got = file_->readAt(uint64_t(page) * pageSize, readBuffer_.get(), size_t(count) * pageSize);
    if (got < pageSize)
        throw JetError("'" + path_ + "': page " + std::to_string(page) + " is cut short (the file is truncated)");
    count = uint32_t(got / pageSize);
    std::shared_ptr<PageBuffer> first;
    for (uint32_t i = 0; i < count; ++i) {
        auto b = std::make_shared_for_overwrite<PageBuffer>();
        std::memcpy(b->data, readBuffer_.get() + size_t(i) * pageSize, pageSize);
        if (databaseKey_ != 0 && page + i != 0) cipher(page + i, b->data);
        if (i == 0) first = b;
        remember(page + i, std::move(b));
    }
    return first;
}

void Pager::remember(uint32_t page, std::shared_ptr<PageBuffer> buffer)
{
    while (cache_.size() >= cacheCapacity_ && !lru_.empty()) {
        cache_.erase(lru_.front());
        lru_.pop_front();
    }
    lru_.push_back(page);
    cache_[page] = CacheEntry{std::move(buffer), std::prev(lru_.end())};
}

void Pager::dropCache()
{
    cache_.clear();
    lru_.clear();
    if (!inWrite_) {
        uint64_t size = file_->size();
        pageCount_ = uint32_t(std::min<uint64_t>(size / pageSize(), 0xFFFFFFu));
    }
}

void Pager::beginWrite()
{
    checkUsable();
    if (inWrite_) throw JetError("'" + path_ + "': a write is already in progress");
    if (!writable()) throw JetError("'" + path_ + "' is open read-only; it cannot be changed");
    // Another writer's transaction is waited for (up to the lock timeout),
    // without our Shared lock, which its commit would wait for in turn. A
    // write begun inside a read scope cannot give Shared up: it is refused
    // at once instead.
    const bool tookShared = !sharedForRead_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMs);
    for (;;) {
        if (tookShared) lockShared();
        if (file_->tryLock(PlatformFile::Lock::Writer, true)) break;
        if (tookShared) file_->unlock(PlatformFile::Lock::Shared);
        if (!tookShared || std::chrono::steady_clock::now() >= deadline)
            throw LockedError("'" + path_ + "' is being changed by another program; try again when it has finished");
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
    try {
        // Shared has been held since any journal was last settled, so no
        // commit has written since: a journal here is one a writer left
        // before its commit wrote anything, and the file does not need it.
        const std::string journal = journalPath(path_);
        if (PlatformFile::exists(journal)) {
            PlatformFile::remove(journal);
            PlatformFile::syncDirectoryOf(journal);
        }
        // Another process may have written since our pages were cached.
        noteOutsideChanges();
        dropCache();
    } catch (...) {
        file_->unlock(PlatformFile::Lock::Writer);
        if (tookShared) file_->unlock(PlatformFile::Lock::Shared);
        throw;
    }
    inWrite_ = true;
    pageCountAtBegin_ = pageCount_;
}

uint8_t* Pager::modify(uint32_t page)
{
    checkUsable();
    if (!inWrite_) throw JetError("internal error: page " + std::to_string(page) + " changed outside a write");
    auto d = dirty_.find(page);
    if (d != dirty_.end()) return d->second->data;
    PageRef current = read(page);
    if (page < pageCountAtBegin_ && !privateBuild_) {
        if (!journal_) createJournal();
        journal_->saveOriginal(page, stored(page, current->data));
    }
    auto copy = std::make_shared<PageBuffer>(*current);
    uint8_t* data = copy->data;
    dirty_[page] = std::move(copy);
    return data;
}

uint32_t Pager::allocate()
{
    checkUsable();
    if (!inWrite_) throw JetError("internal error: page allocated outside a write");
    if (pageCount_ >= 0x7FFFFu) // 2 GB of Jet 4 pages, 1 GB of Jet 3 ones: the limit of the format
        throw JetError("'" + path_ + "' has reached the size limit of an Access database (" +
                       std::to_string(uint64_t(pageCount_) * pageSize() >> 20) + " MB)");
    if (allocationGuard_ && !allocationChecked_) {
        allocationChecked_ = true;
        allocationGuard_();
    }
    uint32_t page = pageCount_++;
    auto b = std::make_shared<PageBuffer>();
    std::memset(b->data, 0, sizeof b->data);
    dirty_[page] = std::move(b);
    return page;
}

void Pager::beginRead()
{
    checkUsable();
    if (readDepth_++ > 0) return;
    if (inWrite_) {
        // The write holds Shared already; the scope keeps it past the write's end.
        sharedForRead_ = true;
        return;
    }
    try {
        lockShared();
    } catch (...) {
        --readDepth_;
        throw;
    }
    sharedForRead_ = true;
    try {
        noteOutsideChanges();
        dropCache();
    } catch (...) {
        endRead();
        throw;
    }
}

uint64_t Pager::firstChangeCount()
{
    // Counts of different openings never meet: a reader that kept a count
    // of an earlier opening of the file sees it as out of date.
    static std::atomic<uint32_t> openings{0};
    return uint64_t(++openings) << 32;
}

void Pager::noteOutsideChanges()
{
    PlatformFile::Stamp now = file_->stamp();
    if (now == lastStamp_) return;
    lastStamp_ = now;
    ++changes_;
}

void Pager::endRead()
{
    if (readDepth_ == 0) return;
    if (--readDepth_ == 0 && sharedForRead_) {
        sharedForRead_ = false;
        if (!inWrite_) file_->unlock(PlatformFile::Lock::Shared);
    }
}

void Pager::createJournal()
{
    // Page 0 as the file holds it: no page before the transaction's is changed yet.
    PageRef page0 = read(0);
    journal_ = Journal::create(journalPath(path_), *file_, pageSize(), pageCountAtBegin_,
                               Journal::crc32(page0->data, pageSize()));
}

void Pager::spillIfLarge()
{
    if (!privateBuild_ || !inWrite_ || dirty_.size() < cacheCapacity_) return;
    // Only for a file nobody else opens: pages go out without a journal.
    for (auto& [page, buffer] : dirty_)
        file_->writeAt(uint64_t(page) * pageSize(), stored(page, buffer->data), pageSize());
    pageCountAtBegin_ = pageCount_;
    for (auto& [page, buffer] : dirty_) remember(page, std::move(buffer));
    dirty_.clear();
    spilled_ = true;
}

void Pager::commit()
{
    checkUsable();
    if (!inWrite_) return;
    if (dirty_.empty() && pageCount_ == pageCountAtBegin_ && !spilled_) {
        rollback(); // nothing to write: the same as giving the write up
        return;
    }
    if (!privateBuild_) {
        if (!journal_) createJournal();
        auto page0 = dirty_.find(0);
        journal_->seal(pageCount_, page0 == dirty_.end() ? Journal::crc32(read(0)->data, pageSize())
                                                         : Journal::crc32(page0->second->data, pageSize()));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMs);
    if (!lockExclusive(deadline)) {
        // Readers keep the file busy; nothing was written yet, so give up cleanly.
        rollback();
        throw LockedError("'" + path_ + "' is being read by another program; the change was not saved, try again");
    }
    std::vector<uint32_t> pages;
    pages.reserve(dirty_.size());
    for (auto& [page, buffer] : dirty_) pages.push_back(page);
    std::sort(pages.begin(), pages.end());
    int writes = 0;
    try {
        for (uint32_t page : pages) {
            if (crashAfterWrites_ > 0 && ++writes >= crashAfterWrites_) {
                broken_ = true;
                throw SimulatedCrash();
            }
            file_->writeAt(uint64_t(page) * pageSize(), stored(page, dirty_[page]->data), pageSize());
        }
        file_->sync();
        lastStamp_ = file_->stamp();
        ++changes_;
        // The commit point: once the journal is gone the change stays. It
        // goes before the lock does, so that no reader sees a journal beside
        // pages a finished commit wrote.
        if (journal_) {
            journal_->remove();
            journal_.reset();
        }
    } catch (const SimulatedCrash&) {
        // The file and the journal stay as a crash leaves them; so do the
        // locks of a dead process: none.
        journal_.reset();
        file_->unlock(PlatformFile::Lock::Shared);
        file_->unlock(PlatformFile::Lock::Pending);
        file_->unlock(PlatformFile::Lock::Writer);
        sharedForRead_ = false;
        throw;
    } catch (...) {
        // The file may be half written: put the old pages back from the
        // journal while the lock still keeps everyone out.
        try {
            if (privateBuild_) throw JetError("no journal");
            journal_.reset();
            recover(journalPath(path_));
        } catch (...) {
            broken_ = true;
        }
        dirty_.clear();
        dropCache();
        unlockExclusive();
        releaseWriteState();
        throw;
    }
    unlockExclusive();
    // The written pages become the clean cache.
    for (uint32_t page : pages) remember(page, std::move(dirty_[page]));
    releaseWriteState();
}

void Pager::rollback()
{
    if (!inWrite_) return;
    if (spilled_) broken_ = true; // part of the transaction is in the file already
    dirty_.clear();
    pageCount_ = pageCountAtBegin_;
    if (journal_) {
        journal_->remove();
        journal_.reset();
    }
    if (!sharedForRead_) file_->unlock(PlatformFile::Lock::Shared);
    releaseWriteState();
}

void Pager::releaseWriteState()
{
    spilled_ = false;
    dirty_.clear();
    inWrite_ = false;
    allocationChecked_ = false;
    file_->unlock(PlatformFile::Lock::Writer);
}

} // namespace jet
