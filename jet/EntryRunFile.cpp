#include "jet/EntryRunFile.h"

#include "jet/EntryMerge.h"
#include "jet/JetError.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;
constexpr size_t kReadBuffer = 64 * 1024;

void putVarint(Bytes& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(uint8_t(value | 0x80));
        value >>= 7;
    }
    out.push_back(uint8_t(value));
}

} // namespace

class EntryRunFile::Reader : public EntrySource {
public:
    Reader(const EntryRunFile& file, const Run& run) : file_(file), run_(run), buffer_(kReadBuffer) {}

    bool next(IndexEntry& entry, bool& uniqueKey) override
    {
        if (read_ == run_.count) return false;
        const uint64_t shared = varint();
        const uint64_t rest = varint();
        const uint64_t length = rest >> 1;
        if (shared > key_.size() || length > 0xFFFF) throw damaged();
        key_.resize(size_t(shared));
        const uint8_t* bytes = need(size_t(length) + 4);
        key_.insert(key_.end(), bytes, bytes + length);
        const uint8_t* row = bytes + length;
        at_ += size_t(length) + 4;
        entry.key.assign(key_.begin(), key_.end());
        entry.page = uint32_t(row[1]) | uint32_t(row[2]) << 8 | uint32_t(row[3]) << 16;
        entry.row = row[0];
        entry.child = uint32_t(varint());
        uniqueKey = rest & 1;
        ++read_;
        return true;
    }

private:
    JetError damaged() const
    {
        return JetError("the temporary file '" + file_.path_ +
                        "' that sorts index entries does not hold what was written to it");
    }

    // At least n unread bytes in the buffer, from `at_`.
    const uint8_t* need(size_t n)
    {
        if (limit_ - at_ >= n) return buffer_.data() + at_;
        std::memmove(buffer_.data(), buffer_.data() + at_, limit_ - at_);
        limit_ -= at_;
        at_ = 0;
        if (buffer_.size() < n) buffer_.resize(n);
        const uint64_t left = run_.size - consumed_;
        const size_t want = size_t(std::min<uint64_t>(buffer_.size() - limit_, left));
        const size_t got = want && file_.file_ ? file_.file_->readAt(run_.offset + consumed_, buffer_.data() + limit_, want) : 0;
        consumed_ += got;
        limit_ += got;
        if (limit_ < n) throw damaged();
        return buffer_.data();
    }

    uint64_t varint()
    {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint8_t byte = *need(1);
            ++at_;
            value |= uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return value;
        }
        throw damaged();
    }

    const EntryRunFile& file_;
    Run run_;
    Bytes buffer_;
    size_t at_ = 0, limit_ = 0; // unread bytes of the buffer
    uint64_t consumed_ = 0;      // bytes of the run read into the buffer
    uint64_t read_ = 0;          // entries
    Bytes key_;                  // the previous entry's key
};

EntryRunFile::EntryRunFile(const std::string& databasePath, size_t memory)
    : path_(pathFor(databasePath)), memory_(memory)
{
}

EntryRunFile::~EntryRunFile()
{
    if (!file_) return;
    file_.reset();
    try {
        PlatformFile::remove(path_);
    } catch (...) {
        // Nothing to tell from a destructor; the name says what the file is.
    }
}

void EntryRunFile::append(const uint8_t* data, size_t size)
{
    if (!file_) {
        // Only the database's own build uses this name: a file there is
        // what a killed build left.
        PlatformFile::remove(path_);
        file_ = PlatformFile::open(path_, PlatformFile::Mode::CreateNewPrivate);
    }
    file_->writeAt(end_, data, size);
    end_ += size;
}

std::unique_ptr<EntryRunFile::Writer> EntryRunFile::write()
{
    if (writing_) throw JetError("internal error: two runs written at once to '" + path_ + "'");
    writing_ = true;
    return std::unique_ptr<Writer>(new Writer(*this));
}

EntryRunFile::Writer::Writer(EntryRunFile& file) : file_(file)
{
    run_.offset = file.end_;
    buffer_.reserve(kWriteBuffer + 1024);
}

EntryRunFile::Writer::~Writer()
{
    if (!finished_) file_.writing_ = false; // an abandoned run: its bytes are never read
}

void EntryRunFile::Writer::add(const IndexEntry& entry, bool uniqueKey)
{
    const Bytes& key = entry.key;
    const size_t common = std::min(key.size(), previousKey_.size());
    size_t shared = 0;
    while (shared < common && key[shared] == previousKey_[shared]) ++shared;
    putVarint(buffer_, shared);
    putVarint(buffer_, uint64_t(key.size() - shared) << 1 | (uniqueKey ? 1 : 0));
    buffer_.insert(buffer_.end(), key.begin() + long(shared), key.end());
    buffer_.push_back(entry.row);
    buffer_.push_back(uint8_t(entry.page));
    buffer_.push_back(uint8_t(entry.page >> 8));
    buffer_.push_back(uint8_t(entry.page >> 16));
    putVarint(buffer_, entry.child);
    previousKey_.resize(shared);
    previousKey_.insert(previousKey_.end(), key.begin() + long(shared), key.end());
    ++run_.count;
    if (buffer_.size() >= kWriteBuffer) flush();
}

void EntryRunFile::Writer::flush()
{
    if (buffer_.empty()) return;
    file_.append(buffer_.data(), buffer_.size());
    run_.size += buffer_.size();
    buffer_.clear();
}

EntryRunFile::Run EntryRunFile::Writer::finish()
{
    flush();
    finished_ = true;
    file_.writing_ = false;
    return run_;
}

std::unique_ptr<EntrySource> EntryRunFile::read(const Run& run)
{
    return std::make_unique<Reader>(*this, run);
}

std::unique_ptr<EntrySource> EntryRunFile::merge(std::vector<Run> runs, std::unique_ptr<EntrySource> more)
{
    while (runs.size() + (more ? 1 : 0) > kMergeWidth) {
        std::vector<std::unique_ptr<EntrySource>> group;
        for (size_t i = 0; i < kMergeWidth; ++i) group.push_back(read(runs[i]));
        EntryMerge merged(std::move(group));
        std::unique_ptr<Writer> out = write();
        IndexEntry entry;
        bool uniqueKey = false;
        while (merged.next(entry, uniqueKey)) out->add(entry, uniqueKey);
        runs.erase(runs.begin(), runs.begin() + long(kMergeWidth));
        runs.push_back(out->finish());
    }
    std::vector<std::unique_ptr<EntrySource>> sources;
    for (const Run& run : runs) sources.push_back(read(run));
    if (more) sources.push_back(std::move(more));
    if (sources.size() == 1) return std::move(sources.front());
    return std::make_unique<EntryMerge>(std::move(sources));
}

} // namespace jet
