#include "jet/Pager.h"

#include <atomic>

#include "jet/JetError.h"
#include "jet/Journal.h"
#include "jet/ByteOrder.h"
#include "jet/HeaderPage.h"
#include "jet/Rc4.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {
constexpr uint32_t kReadAhead = 16;
constexpr int kCommitLockTimeoutMs = 10000;

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
    if (!PlatformFile::exists(path)) throw JetError("Database file '" + path + "' does not exist");
    p->file_ = PlatformFile::open(path, access == Access::ReadWrite ? PlatformFile::Mode::ReadWrite
                                                                     : PlatformFile::Mode::ReadOnly);
    p->recoverIfNeeded();
    uint8_t start[HeaderPage::kKeyAreaSize] = {};
    if (p->file_->readAt(0, start, sizeof start) == sizeof start)
        if (const Format* f = Format::forVersion(le32(start + HeaderPage::kVersionOffset))) {
            p->format_ = f;
            p->databaseKey_ = HeaderPage::storedDatabaseKey(*f, start);
        }
    uint64_t size = p->file_->size();
    if (size < p->pageSize())
        throw JetError("'" + path + "' is not an Access database: it is " + std::to_string(size) +
                       " bytes long, shorter than one page");
    p->pageCount_ = uint32_t(std::min<uint64_t>(size / p->pageSize(), 0xFFFFFFu));
    p->lastStamp_ = p->file_->stamp();
    p->changes_ = firstChangeCount();
    return p;
}

std::unique_ptr<Pager> Pager::create(const std::string& path, const Format& format, const uint8_t* headerPage)
{
    std::unique_ptr<Pager> p(new Pager);
    p->path_ = path;
    p->format_ = &format;
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

void Pager::recoverIfNeeded()
{
    std::string jp = journalPath(path_);
    if (!PlatformFile::exists(jp)) return;
    // A journal that a live writer of ours is still using is not ours to touch.
    std::unique_ptr<PlatformFile> rw;
    PlatformFile* target = file_.get();
    if (!file_->writable()) {
        try {
            rw = PlatformFile::open(path_, PlatformFile::Mode::ReadWrite);
        } catch (const JetError&) {
            throw JetError("'" + path_ + "' has an unfinished write (" + jp +
                           ") that must be rolled back, but the file cannot be opened for writing");
        }
        target = rw.get();
    }
    if (!target->tryLockWriter()) return;
    try {
        Journal::rollBack(jp, *target);
    } catch (...) {
        target->unlockWriter();
        throw;
    }
    target->unlockWriter();
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
    if (!file_->writable()) throw JetError("'" + path_ + "' is open read-only; it cannot be changed");
    if (!file_->tryLockWriter())
        throw LockedError("'" + path_ + "' is being changed by another program; try again when it has finished");
    // Another process may have written since our pages were cached.
    noteOutsideChanges();
    dropCache();
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
    if (page < pageCountAtBegin_) {
        if (!journal_) journal_ = Journal::create(journalPath(path_), pageSize(), pageCountAtBegin_);
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
    if (readDepth_++ > 0 || inWrite_) return;
    if (!file_->lockCommit(false, kCommitLockTimeoutMs)) {
        --readDepth_;
        throw LockedError("'" + path_ + "' is being changed by another program; try again when it has finished");
    }
    readLocked_ = true;
    try {
        recoverIfNeeded();
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
    if (--readDepth_ == 0 && readLocked_) {
        readLocked_ = false;
        file_->unlockCommit();
    }
}

void Pager::commit()
{
    checkUsable();
    if (!inWrite_) return;
    if (dirty_.empty() && pageCount_ == pageCountAtBegin_) {
        releaseWriteState();
        return;
    }
    if (!journal_) journal_ = Journal::create(journalPath(path_), pageSize(), pageCountAtBegin_);
    journal_->seal();

    if (!file_->lockCommit(true, kCommitLockTimeoutMs)) {
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
    } catch (const SimulatedCrash&) {
        file_->unlockCommit();
        file_->unlockWriter();
        journal_.reset(); // the file stays, as after a crash
        throw;
    } catch (...) {
        // The file may be half written: put the old pages back from the journal.
        file_->unlockCommit();
        try {
            journal_.reset();
            Journal::rollBack(journalPath(path_), *file_);
        } catch (...) {
            broken_ = true;
        }
        dirty_.clear();
        dropCache();
        inWrite_ = false;
        file_->unlockWriter();
        throw;
    }
    file_->unlockCommit();
    journal_->remove();
    journal_.reset();
    // The written pages become the clean cache.
    for (uint32_t page : pages) remember(page, std::move(dirty_[page]));
    dirty_.clear();
    inWrite_ = false;
    allocationChecked_ = false;
    file_->unlockWriter();
}

void Pager::rollback()
{
    if (!inWrite_) return;
    dirty_.clear();
    pageCount_ = pageCountAtBegin_;
    if (journal_) {
        journal_->remove();
        journal_.reset();
    }
    releaseWriteState();
}

void Pager::releaseWriteState()
{
    dirty_.clear();
    inWrite_ = false;
    allocationChecked_ = false;
    file_->unlockWriter();
}

} // namespace jet
