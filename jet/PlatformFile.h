#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace jet {

// The one place that talks to the operating system about files: positioned
// reads and writes, sync, byte-range locks, removal and directory sync, and
// standard input as a terminal (echo off for a password). Every other part
// of the engine and jetdb is portable C++ on top of it.
class PlatformFile {
public:
    // CreateNewPrivate: as CreateNew, readable and writable by its owner only.
    enum class Mode { ReadOnly, ReadWrite, CreateNew, CreateNewPrivate, CreateOrTruncate };

    // Throws JetError naming the path and the system's reason.
    static std::unique_ptr<PlatformFile> open(const std::string& path, Mode mode);
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }
    uint64_t size() const;
    // Size and last write time: differs after any write to the file, by
    // whichever process (as finely as the file system keeps times).
    struct Stamp {
        uint64_t size = 0, written = 0;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stamp() const;

    // Reads up to n bytes; returns how many were read (less only at end of file).
    size_t readAt(uint64_t offset, void* buffer, size_t n) const;
    void writeAt(uint64_t offset, const void* buffer, size_t n);
    void truncate(uint64_t size);
    void sync();

    // Byte-range locks on three bytes far past the 2 GB limit of the format,
    // so that they never cover data (the pager's locking protocol says how
    // they are used). Locks belong to this opening of the file: another
    // opening, in this process or another, contends with them, and closing
    // another descriptor of the same file leaves them alone.
    enum class Lock { Pending, Writer, Shared };
    // Non-blocking; false when another opening holds a conflicting lock. An
    // exclusive lock needs a file opened for writing.
    bool tryLock(Lock which, bool exclusive);
    void unlock(Lock which);
    // Whether another opening of the file holds the lock (shared or exclusive).
    bool lockedElsewhere(Lock which);

    // Gives a file this one created the access rights (and, where we may, the
    // owner) of `model`, so that it shows no more than `model` does.
    void takePermissionsOf(const PlatformFile& model);

    static bool exists(const std::string& path);
    static void remove(const std::string& path);          // no error when missing
    static void syncDirectoryOf(const std::string& path); // make a create/remove durable
    // Renames `from` to `to`, refusing (JetError) when `to` exists.
    static void renameNoReplace(const std::string& from, const std::string& to);
    // Renames `from` to `to`, replacing a file of that name in one step.
    static void renameReplacing(const std::string& from, const std::string& to);
    // A name beside `path` that no other process of ours uses now, for a file
    // that is renamed to `path` once complete.
    static std::string temporaryNameBeside(const std::string& path);
    static std::string lastSystemError();

    // A secret typed at the terminal: when standard input is one, `prompt`
    // goes to standard error and a line is read with the terminal's echo
    // off (UTF-8, without its line end). nullopt when standard input is not
    // a terminal.
    static std::optional<std::string> readLineWithoutEcho(const std::string& prompt);

private:
    PlatformFile() = default;
    std::string path_;
    bool writable_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace jet
