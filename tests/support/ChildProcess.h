#pragma once
// A program run by a test, without a shell, the same way on Linux and on
// Windows: the one place where the tests talk to the operating system about
// processes.
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    // Starts the program (looked up on PATH when the name has no folder)
    // with its arguments, passed as they are (UTF-8). Its standard output
    // goes to outputFile, and so does its standard error when withStderr;
    // otherwise standard error is discarded. Its input is empty.
    ChildProcess(const std::vector<std::string>& command, const std::string& outputFile, bool withStderr);
    // Kills a program still running and removes the output file.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False when the program could not be started (then wait() gives 127).
    bool started() const { return started_; }
    bool running();
    // Waits for the end: the exit code; -1 when it was killed or died of a signal.
    int wait();
    // Ends it at once, as a crash or a power cut would (SIGKILL, TerminateProcess).
    void kill();
    // What it wrote, once it has ended.
    std::string output();

    // Sets (or, with an empty value, removes) a variable of the environment
    // that programs started afterwards inherit.
    static void setEnvironment(const std::string& name, const std::string& value);

private:
    void finish(int exitCode);

    std::string outputFile_;
    bool started_ = false;
    bool finished_ = false;
    bool killed_ = false;
    int exitCode_ = 127;
#ifdef _WIN32
    void* process_ = nullptr;
#else
    int pid_ = -1;
#endif
};

} // namespace testsupport
