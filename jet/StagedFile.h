#pragma once
#include <string>

namespace jet {

// A new file built under a temporary name beside its final path and put in
// place, complete and synced, by publish(). A process killed while building
// leaves nothing at the final path (only the temporary file, whose name holds
// its process id), and the final path is never written over.
class StagedFile {
public:
    // Throws JetError when `finalPath` exists.
    explicit StagedFile(std::string finalPath);
    // Removes the temporary file, its journal and its sort file unless published.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Where to build the file.
    const std::string& path() const { return temporary_; }
    const std::string& finalPath() const { return final_; }
    // Syncs the file and renames it to the final path. Whatever wrote it must
    // have closed it.
    void publish();

private:
    std::string final_;
    std::string temporary_;
    bool published_ = false;
};

} // namespace jet
