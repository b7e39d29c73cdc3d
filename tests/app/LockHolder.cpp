// Holds an Access register's locks as another program's commit does while
// it writes its pages (the writer lock, the pending lock and the shared lock
// exclusively): what a commit stuck on a slow disk, or a program stopped in
// the middle of one, leaves other programs facing. Prints "holding" and
// keeps them until it is killed.
//   usage: app_lock_holder DATABASE
#include "jet/PlatformFile.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    try {
        auto file = jet::PlatformFile::open(argv[1], jet::PlatformFile::Mode::ReadWrite);
        using Lock = jet::PlatformFile::Lock;
        if (!file->tryLock(Lock::Writer, true) || !file->tryLock(Lock::Pending, true) || !file->tryLock(Lock::Shared, true)) {
            std::fprintf(stderr, "the register's locks are held by another program\n");
            return 1;
        }
        std::printf("holding\n");
        std::fflush(stdout);
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
