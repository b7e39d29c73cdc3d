// Fuzz target: open a database file and read every table and index of it.
// Any JetError is an acceptable answer to a damaged file; a crash, a hang or
// a sanitizer report is not.
#include "jet/Checker.h"
#include "jet/Database.h"
#include "jet/IndexTree.h"
#include "jet/JetError.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {
std::string scratchFile()
{
    static const std::string path = [] {
        std::random_device seed;
        return (std::filesystem::temp_directory_path() / ("usbkey-fuzz-open-" + std::to_string(seed()) + ".mdb")).string();
    }();
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 22)) return 0; // files beyond 4 MB add nothing but time
    const std::string path = scratchFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    std::filesystem::remove(path + "-journal");
    try {
        auto db = jet::Database::open(path);
        for (const std::string& name : db->tableNames(true)) {
            try {
                jet::Table& t = db->table(name);
                t.scan([](jet::RowLocator, std::vector<jet::Value>&) { return true; });
                for (const jet::RealIndex& index : t.def().realIndexes) {
                    jet::IndexTree tree(db->pager(), t.def(), index, t.location());
                    tree.entries();
                }
            } catch (const jet::JetError&) {
            }
        }
        jet::Checker(*db).run();
    } catch (const jet::JetError&) {
    }
    return 0;
}
