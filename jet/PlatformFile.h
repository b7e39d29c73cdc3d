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
    enum class Mode { ReadOnly, ReadWrite, CreateNew, CreateOrTruncate };

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

    // Non-blocking exclusive lock of one byte far past any page, so that a
    // second writer of ours is refused. Returns false when another process holds it.
    bool tryLockWriter();
    void unlockWriter();
    // Shared/exclusive lock of the "commit" byte: readers hold it shared while
    // they read, the writer holds it exclusive while pages reach the file.
    // Blocking, with a timeout in milliseconds; returns false on timeout.
    bool lockCommit(bool exclusive, int timeoutMs);
    void unlockCommit();

    static bool exists(const std::string& path);
    static void remove(const std::string& path);          // no error when missing
    static void syncDirectoryOf(const std::string& path); // make a create/remove durable
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
