#include "jet/PlatformFile.h"

#include "jet/JetError.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace jet {

namespace {
// Lock bytes far past the 2 GB limit of a Jet file, so they never overlap data
// and other programs' locks on the file's own range.
constexpr uint64_t kWriterLockOffset = 0x7FFFFFF0ull * 2;
constexpr uint64_t kSharedLockOffset = kWriterLockOffset + 1;
constexpr uint64_t kPendingLockOffset = kWriterLockOffset + 2;

uint64_t offsetOf(PlatformFile::Lock which)
{
    switch (which) {
    case PlatformFile::Lock::Pending: return kPendingLockOffset;
    case PlatformFile::Lock::Writer: return kWriterLockOffset;
    case PlatformFile::Lock::Shared: return kSharedLockOffset;
    }
    return kSharedLockOffset;
}
} // namespace

#ifdef _WIN32

static std::wstring widen(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
    return w;
}

static std::string narrow(const wchar_t* text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string utf8(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
    utf8.pop_back(); // the terminating NUL
    return utf8;
}

std::string PlatformFile::lastSystemError()
{
    DWORD code = GetLastError();
    // The wide form: the message is in the system's language, which the ANSI code page may not hold.
    wchar_t buf[512] = {0};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                   DWORD(std::size(buf)), nullptr);
    std::string s = narrow(buf);
    if (s.empty()) s = "system error " + std::to_string(code);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s;
}

std::unique_ptr<PlatformFile> PlatformFile::open(const std::string& path, Mode mode)
{
    DWORD access = GENERIC_READ | (mode == Mode::ReadOnly ? 0 : GENERIC_WRITE);
    DWORD disposition = mode == Mode::CreateNew || mode == Mode::CreateNewPrivate ? CREATE_NEW
                        : mode == Mode::CreateOrTruncate ? CREATE_ALWAYS
                                                         : OPEN_EXISTING;
    HANDLE h = CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw JetError("Cannot open '" + path + "': " + lastSystemError());
    std::unique_ptr<PlatformFile> f(new PlatformFile);
    f->path_ = path;
    f->writable_ = mode != Mode::ReadOnly;
    f->handle_ = h;
    return f;
}

PlatformFile::~PlatformFile()
{
    if (handle_) CloseHandle(HANDLE(handle_));
}

uint64_t PlatformFile::size() const
{
    LARGE_INTEGER s;
    if (!GetFileSizeEx(HANDLE(handle_), &s)) throw JetError("Cannot read the size of '" + path_ + "'");
    return uint64_t(s.QuadPart);
}

PlatformFile::Stamp PlatformFile::stamp() const
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(HANDLE(handle_), &info))
        throw JetError("Cannot read the state of '" + path_ + "': " + lastSystemError());
    return {uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow,
            uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime};
}

size_t PlatformFile::readAt(uint64_t offset, void* buffer, size_t n) const
{
    size_t done = 0;
    while (done < n) {
        OVERLAPPED ov{};
        uint64_t at = offset + done;
        ov.Offset = DWORD(at);
        ov.OffsetHigh = DWORD(at >> 32);
        DWORD got = 0;
        if (!ReadFile(HANDLE(handle_), static_cast<char*>(buffer) + done, DWORD(n - done), &got, &ov)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            throw JetError("Cannot read '" + path_ + "': " + lastSystemError());
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void PlatformFile::writeAt(uint64_t offset, const void* buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        OVERLAPPED ov{};
        uint64_t at = offset + done;
        ov.Offset = DWORD(at);
        ov.OffsetHigh = DWORD(at >> 32);
        DWORD put = 0;
        if (!WriteFile(HANDLE(handle_), static_cast<const char*>(buffer) + done, DWORD(n - done), &put, &ov))
            throw JetError("Cannot write '" + path_ + "': " + lastSystemError());
        done += put;
    }
}

void PlatformFile::truncate(uint64_t size)
{
    LARGE_INTEGER pos;
    pos.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(HANDLE(handle_), pos, nullptr, FILE_BEGIN) || !SetEndOfFile(HANDLE(handle_)))
        throw JetError("Cannot truncate '" + path_ + "': " + lastSystemError());
}

void PlatformFile::sync()
{
    if (!FlushFileBuffers(HANDLE(handle_))) throw JetError("Cannot flush '" + path_ + "': " + lastSystemError());
}

static bool lockRange(void* handle, uint64_t offset, bool exclusive, bool wait)
{
    OVERLAPPED ov{};
    ov.Offset = DWORD(offset);
    ov.OffsetHigh = DWORD(offset >> 32);
    DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(HANDLE(handle), flags, 0, 1, 0, &ov) != 0;
}
static void unlockRange(void* handle, uint64_t offset)
{
    OVERLAPPED ov{};
    ov.Offset = DWORD(offset);
    ov.OffsetHigh = DWORD(offset >> 32);
    UnlockFileEx(HANDLE(handle), 0, 1, 0, &ov);
}

bool PlatformFile::tryLock(Lock which, bool exclusive) { return lockRange(handle_, offsetOf(which), exclusive, false); }
void PlatformFile::unlock(Lock which) { unlockRange(handle_, offsetOf(which)); }

bool PlatformFile::lockedElsewhere(Lock which)
{
    // Windows cannot ask; a lock taken and given back at once tells.
    if (!lockRange(handle_, offsetOf(which), true, false)) return true;
    unlockRange(handle_, offsetOf(which));
    return false;
}

void PlatformFile::takePermissionsOf(const PlatformFile&)
{
    // A new file inherits its folder's access list, as the database did.
}

void PlatformFile::renameNoReplace(const std::string& from, const std::string& to)
{
    if (!MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_WRITE_THROUGH))
        throw JetError("Cannot rename '" + from + "' to '" + to + "': " + lastSystemError());
}

void PlatformFile::renameReplacing(const std::string& from, const std::string& to)
{
    if (!MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw JetError("Cannot rename '" + from + "' to '" + to + "': " + lastSystemError());
}

std::string PlatformFile::temporaryNameBeside(const std::string& path)
{
    return path + ".partial-" + std::to_string(GetCurrentProcessId());
}

bool PlatformFile::exists(const std::string& path)
{
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void PlatformFile::remove(const std::string& path)
{
    if (!DeleteFileW(widen(path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        throw JetError("Cannot remove '" + path + "': " + lastSystemError());
}

void PlatformFile::syncDirectoryOf(const std::string&)
{
    // NTFS makes directory entries durable with the file's own flush.
}

#else // POSIX

std::string PlatformFile::lastSystemError() { return std::strerror(errno); }

std::unique_ptr<PlatformFile> PlatformFile::open(const std::string& path, Mode mode)
{
    int flags = mode == Mode::ReadOnly ? O_RDONLY : O_RDWR;
    if (mode == Mode::CreateNew || mode == Mode::CreateNewPrivate) flags |= O_CREAT | O_EXCL;
    if (mode == Mode::CreateOrTruncate) flags |= O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode == Mode::CreateNewPrivate ? 0600 : 0644);
    if (fd < 0) throw JetError("Cannot open '" + path + "': " + lastSystemError());
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw JetError("Cannot open '" + path + "': it is a directory");
    }
    std::unique_ptr<PlatformFile> f(new PlatformFile);
    f->path_ = path;
    f->writable_ = mode != Mode::ReadOnly;
    f->fd_ = fd;
    return f;
}

PlatformFile::~PlatformFile()
{
    if (fd_ >= 0) ::close(fd_);
}

uint64_t PlatformFile::size() const
{
    struct stat st;
    if (fstat(fd_, &st) != 0) throw JetError("Cannot read the size of '" + path_ + "': " + lastSystemError());
    return uint64_t(st.st_size);
}

PlatformFile::Stamp PlatformFile::stamp() const
{
    struct stat st;
    if (fstat(fd_, &st) != 0) throw JetError("Cannot read the state of '" + path_ + "': " + lastSystemError());
    return {uint64_t(st.st_size), uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec)};
}

size_t PlatformFile::readAt(uint64_t offset, void* buffer, size_t n) const
{
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw JetError("Cannot read '" + path_ + "': " + lastSystemError());
        }
        if (got == 0) break;
        done += size_t(got);
    }
    return done;
}

void PlatformFile::writeAt(uint64_t offset, const void* buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        ssize_t put = ::pwrite(fd_, static_cast<const char*>(buffer) + done, n - done, off_t(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            throw JetError("Cannot write '" + path_ + "': " + lastSystemError());
        }
        done += size_t(put);
    }
}

void PlatformFile::truncate(uint64_t size)
{
    if (::ftruncate(fd_, off_t(size)) != 0) throw JetError("Cannot truncate '" + path_ + "': " + lastSystemError());
}

void PlatformFile::sync()
{
    if (::fsync(fd_) != 0) throw JetError("Cannot sync '" + path_ + "': " + lastSystemError());
}

// Open-file-description locks where the system has them: they belong to one
// opening of the file, so closing another descriptor of it (which drops
// every classic fcntl lock the process holds on the file) leaves them, and
// two openings in one process contend as two processes do.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kGetLock = F_OFD_GETLK;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kGetLock = F_GETLK;
#endif

static struct flock lockRequest(uint64_t offset, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = 1;
    fl.l_pid = 0; // open-file-description locks require it
    return fl;
}

static bool lockRange(int fd, uint64_t offset, short type)
{
    struct flock fl = lockRequest(offset, type);
    while (::fcntl(fd, kSetLock, &fl) != 0) {
        if (errno == EINTR) continue;
        return false;
    }
    return true;
}

bool PlatformFile::tryLock(Lock which, bool exclusive)
{
    // A descriptor opened for reading cannot take a write lock.
    if (exclusive && !writable_) return false;
    return lockRange(fd_, offsetOf(which), exclusive ? F_WRLCK : F_RDLCK);
}
void PlatformFile::unlock(Lock which) { lockRange(fd_, offsetOf(which), F_UNLCK); }

bool PlatformFile::lockedElsewhere(Lock which)
{
    struct flock fl = lockRequest(offsetOf(which), F_WRLCK);
    if (::fcntl(fd_, kGetLock, &fl) != 0) return true; // cannot tell: assume the worst
    return fl.l_type != F_UNLCK;
}

void PlatformFile::takePermissionsOf(const PlatformFile& model)
{
    struct stat st;
    if (fstat(model.fd_, &st) != 0) return;
    // The owner first: a change of owner may clear the set-id bits we then set.
    if (::geteuid() == 0) (void)::fchown(fd_, st.st_uid, st.st_gid);
    if (::fchmod(fd_, st.st_mode & 0666) != 0)
        throw JetError("Cannot set the access rights of '" + path_ + "': " + lastSystemError());
}

void PlatformFile::renameNoReplace(const std::string& from, const std::string& to)
{
    // A hard link is made only where no file is; then the old name goes.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return;
    }
    if (errno == EEXIST) throw JetError("Cannot rename '" + from + "' to '" + to + "': '" + to + "' already exists");
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV)
        throw JetError("Cannot rename '" + from + "' to '" + to + "': " + lastSystemError());
    // A file system without hard links.
    if (exists(to)) throw JetError("Cannot rename '" + from + "' to '" + to + "': '" + to + "' already exists");
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw JetError("Cannot rename '" + from + "' to '" + to + "': " + lastSystemError());
}

void PlatformFile::renameReplacing(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw JetError("Cannot rename '" + from + "' to '" + to + "': " + lastSystemError());
}

std::string PlatformFile::temporaryNameBeside(const std::string& path)
{
    return path + ".partial-" + std::to_string(::getpid());
}

bool PlatformFile::exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

void PlatformFile::remove(const std::string& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw JetError("Cannot remove '" + path + "': " + lastSystemError());
}

void PlatformFile::syncDirectoryOf(const std::string& path)
{
    std::string dir = path;
    size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

#endif

// ---- the terminal ------------------------------------------------------------

#ifdef _WIN32

std::optional<std::string> PlatformFile::readLineWithoutEcho(const std::string& prompt)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return std::nullopt;
    SetConsoleMode(input, (mode & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::wstring line;
    wchar_t c = 0;
    DWORD read = 0;
    while (ReadConsoleW(input, &c, 1, &read, nullptr) && read == 1 && c != L'\n')
        if (c != L'\r') line += c;
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    return narrow(line.c_str());
}

#else

std::optional<std::string> PlatformFile::readLineWithoutEcho(const std::string& prompt)
{
    termios saved{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
    // Echo off before the prompt shows, so that nothing typed after it is
    // echoed; what was typed before it is dropped.
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ICANON;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1 || c == '\n') break;
        line += c;
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return line;
}

#endif

} // namespace jet
