// Fuzz target: run a statement through the SQL layer against a copy of a
// register database (FUZZ_DB names the original, made by `jetdb demo`).
// A SqlError or JetError is an acceptable answer; a crash is not.
#include "jet/Database.h"
#include "jet/JetError.h"
#include "sql/Session.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {
class NullSink : public sql::RowSink {
public:
    void columns(const std::vector<sql::ResultColumn>&) override {}
    void row(const std::vector<jet::Value>&, jet::RowLocator) override {}
};

std::string workingCopy()
{
    static const std::string path = [] {
        std::random_device seed;
        return (fs::temp_directory_path() / ("usbkey-fuzz-sql-" + std::to_string(seed()) + ".mdb")).string();
    }();
    return path;
}

std::unique_ptr<jet::Database>& database()
{
    static std::unique_ptr<jet::Database> db;
    return db;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int runs = 0;
    const char* original = std::getenv("FUZZ_DB");
    if (!original) return 0;
    // A fresh copy now and then, so that writes do not drift the data away.
    if (!database() || ++runs % 2000 == 0) {
        database().reset();
        fs::copy_file(original, workingCopy(), fs::copy_options::overwrite_existing);
        database() = jet::Database::open(workingCopy(), jet::Pager::Access::ReadWrite);
    }
    std::string statement(reinterpret_cast<const char*>(data), size);
    try {
        sql::Session session(*database());
        if (sql::Session::isQuery(statement)) {
            NullSink sink;
            session.query(statement, sink);
        } else {
            session.execute(statement);
        }
    } catch (const jet::JetError&) {
    }
    return 0;
}
