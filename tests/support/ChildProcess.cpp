#include "ChildProcess.h"

#include "CommandLine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testsupport {

void ChildProcess::finish(int exitCode)
{
    finished_ = true;
    exitCode_ = killed_ ? -1 : exitCode;
}

std::string ChildProcess::output()
{
    wait();
    std::ifstream in(std::filesystem::path(std::u8string(outputFile_.begin(), outputFile_.end())), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

#ifdef _WIN32

static std::wstring widen(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

ChildProcess::ChildProcess(const std::vector<std::string>& command, const std::string& outputFile, bool withStderr)
    : outputFile_(outputFile)
{
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(widen(outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = withStderr ? out : nul;
    // The program splits this line back into the same arguments. No console:
    // one would be made for it (under wine a conhost that can outlive it).
    std::wstring line = widen(CommandLine::join(command));
    PROCESS_INFORMATION info{};
    DWORD error = 0;
    // wine under load now and then fails a start with an internal error
    // (1359) that a moment later is gone: a few more tries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        started_ = out != INVALID_HANDLE_VALUE &&
                   CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                                  &startup, &info);
        error = GetLastError();
        if (started_ || error != ERROR_INTERNAL_ERROR) break;
        Sleep(200);
    }
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started_) {
        std::cerr << "cannot start " << CommandLine::join(command) << ": Windows error " << error << "\n";
        finish(127);
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
}

ChildProcess::~ChildProcess()
{
    if (process_) {
        kill();
        wait();
        CloseHandle(HANDLE(process_));
    }
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(std::u8string(outputFile_.begin(), outputFile_.end())), ignored);
}

bool ChildProcess::running()
{
    if (finished_) return false;
    if (WaitForSingleObject(HANDLE(process_), 0) == WAIT_TIMEOUT) return true;
    wait();
    return false;
}

int ChildProcess::wait()
{
    if (finished_) return exitCode_;
    WaitForSingleObject(HANDLE(process_), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(HANDLE(process_), &code);
    finish(int(code));
    return exitCode_;
}

void ChildProcess::kill()
{
    if (!running()) return;
    killed_ = true;
    TerminateProcess(HANDLE(process_), 1);
}

#else

ChildProcess::ChildProcess(const std::vector<std::string>& command, const std::string& outputFile, bool withStderr)
    : outputFile_(outputFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (withStderr) posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = command.empty() ? EINVAL : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    started_ = error == 0;
    if (!started_) {
        // Expected for a reader that is not installed; anything else is worth seeing.
        if (error != ENOENT) std::cerr << "cannot start " << CommandLine::join(command) << ": " << std::strerror(error) << "\n";
        finish(127);
        return;
    }
    pid_ = pid;
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0) {
        kill();
        wait();
    }
    std::error_code ignored;
    std::filesystem::remove(outputFile_, ignored);
}

static int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

bool ChildProcess::running()
{
    if (finished_) return false;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == 0) return true;
    finish(got == pid_ ? exitCodeOf(status) : -1);
    return false;
}

int ChildProcess::wait()
{
    if (finished_) return exitCode_;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    finish(got == pid_ ? exitCodeOf(status) : -1);
    return exitCode_;
}

void ChildProcess::kill()
{
    if (!running()) return;
    killed_ = true;
    ::kill(pid_, SIGKILL);
}

#endif

void ChildProcess::setEnvironment(const std::string& name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    if (value.empty()) ::unsetenv(name.c_str());
    else ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

} // namespace testsupport
