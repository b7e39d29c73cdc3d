#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/EntrySource.h"
#include "jet/PlatformFile.h"

namespace jet {

// A temporary file beside a database being built (Pager::setPrivateBuild)
// that holds sorted runs of index entries, so that the entries a big build
// queues take disk instead of memory: the write sorts what it holds into a
// run now and then, and the flush merges the runs (an external merge sort).
// The file is made on the first run, readable by its owner only (keys are
// the table's data), and removed with this object.
//
// A run is a sequence of entries in index order, each
//   size     meaning
//   varint   bytes the key shares with the previous entry's key (0 first)
//   varint   (key bytes that follow) << 1 | 1 for an entry whose key must be unique
//   ...      those key bytes
//   4        data page << 8 | row, little-endian
//   varint   the child page of an intermediate entry; 0 for others
// Varints are unsigned LEB128: seven bits a byte, lowest first, high bit set
// on every byte but the last.
class EntryRunFile {
public:
    struct Run {
        uint64_t offset = 0; // in the file
        uint64_t size = 0;   // bytes
        uint64_t count = 0;  // entries
    };

    // `memory`: the bytes of entries the build holds before it sorts them
    // out here; what else holds entries for it (the levels of a rewrite)
    // moves them here well before that.
    EntryRunFile(const std::string& databasePath, size_t memory);
    // Closes and removes the file.
    ~EntryRunFile();
    EntryRunFile(const EntryRunFile&) = delete;
    EntryRunFile& operator=(const EntryRunFile&) = delete;

    // Where the runs of a database are kept (removed by whoever builds it
    // when a killed build left them).
    static std::string pathFor(const std::string& databasePath) { return databasePath + "-sort"; }
    const std::string& path() const { return path_; }
    size_t memory() const { return memory_; }

    // Appends one run: entries given in index order. One writer at a time;
    // runs already written may be read meanwhile.
    class Writer {
    public:
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;
        void add(const IndexEntry& entry, bool uniqueKey);
        // Writes what is buffered and returns the run.
        Run finish();

    private:
        friend class EntryRunFile;
        explicit Writer(EntryRunFile& file);
        void flush();
        EntryRunFile& file_;
        Run run_;
        Bytes buffer_;
        Bytes previousKey_;
        bool finished_ = false;
    };
    std::unique_ptr<Writer> write();

    // The entries of a run, read through a small buffer.
    std::unique_ptr<EntrySource> read(const Run& run);
    // The runs and `more` (entries in memory, may be null) merged into one
    // stream in index order. Runs are read at most kMergeWidth at a time:
    // more are merged into longer runs first, so that the buffers the merge
    // reads through take the same memory however many runs there are.
    std::unique_ptr<EntrySource> merge(std::vector<Run> runs, std::unique_ptr<EntrySource> more);
    static constexpr size_t kMergeWidth = 32;

private:
    class Reader;
    void append(const uint8_t* data, size_t size);

    std::string path_;
    size_t memory_;
    std::unique_ptr<PlatformFile> file_;
    uint64_t end_ = 0;
    bool writing_ = false;
};

} // namespace jet
