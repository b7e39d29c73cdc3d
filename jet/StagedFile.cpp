#include "jet/StagedFile.h"

#include "jet/EntryRunFile.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/PlatformFile.h"

namespace jet {

StagedFile::StagedFile(std::string finalPath)
    : final_(std::move(finalPath)), temporary_(PlatformFile::temporaryNameBeside(final_))
{
    if (PlatformFile::exists(final_)) throw JetError("'" + final_ + "' already exists; it is never overwritten");
    // A file of that name is what an earlier process of the same id left.
    PlatformFile::remove(temporary_);
    PlatformFile::remove(Pager::journalPath(temporary_));
    PlatformFile::remove(EntryRunFile::pathFor(temporary_));
}

StagedFile::~StagedFile()
{
    if (published_) return;
    try {
        PlatformFile::remove(temporary_);
        PlatformFile::remove(Pager::journalPath(temporary_));
        PlatformFile::remove(EntryRunFile::pathFor(temporary_));
    } catch (...) {
        // Nothing to tell from a destructor; the temporary name shows what it is.
    }
}

void StagedFile::publish()
{
    PlatformFile::open(temporary_, PlatformFile::Mode::ReadWrite)->sync();
    PlatformFile::renameNoReplace(temporary_, final_);
    PlatformFile::syncDirectoryOf(final_);
    published_ = true;
}

} // namespace jet
