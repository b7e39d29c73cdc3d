#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/JetError.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

std::string testData(const std::string& name) { return std::string(USBKEY_TESTDATA_DIR) + "/" + name; }

std::vector<std::string> allAccessFiles()
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(USBKEY_TESTDATA_DIR))
        if (e.path().extension() == ".mdb") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string passwordOf(const std::string& file)
{
    // The corpus file's documented password (tests/data/access/SOURCES.md).
    return fs::path(file).filename() == "V2003_with-password.mdb" ? "password" : "";
}

std::unique_ptr<jet::Database> openAccessFile(const std::string& file, jet::Pager::Access access)
{
    return jet::Database::open(file, access, passwordOf(file));
}

std::vector<std::string> accessFiles()
{
    std::vector<std::string> out;
    for (const std::string& file : allAccessFiles()) {
        try {
            openAccessFile(file);
            out.push_back(file);
        } catch (const jet::UnsupportedFormatError&) {
            // Formats the engine refuses; ReadCompat tests that it says so.
        }
    }
    return out;
}

// One scratch root per test process, so that test programs running at the
// same time (ctest -j, a sanitizer build) never share files.
// Removed when the process ends, unless USBKEY_KEEP_SCRATCH is set.
struct ScratchRoot {
    fs::path path;
    ScratchRoot()
    {
        // random_device alone has been seen to repeat across processes here;
        // the clock and a stack address make a clash between processes unlikely.
        std::random_device seed;
        int local = 0;
        uint64_t tag = (uint64_t(seed()) << 32) ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                       uint64_t(reinterpret_cast<uintptr_t>(&local));
        path = fs::temp_directory_path() / ("usbkey-jet-tests-" + std::to_string(tag));
        while (fs::exists(path)) path += "x";
    }
    ~ScratchRoot()
    {
        std::error_code ignored;
        if (!std::getenv("USBKEY_KEEP_SCRATCH")) fs::remove_all(path, ignored);
    }
};

static fs::path scratchRoot()
{
    static const ScratchRoot root;
    return root.path;
}

fs::path scratchDir(const std::string& test)
{
    fs::path dir = scratchRoot() / test;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string scratchCopy(const std::string& file, const std::string& test)
{
    fs::path dir = scratchRoot() / test;
    fs::create_directories(dir);
    fs::path to = dir / fs::path(file).filename();
    fs::copy_file(file, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return to.string();
}

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Run run(const std::string& command, bool withStderr)
{
    Run r;
    std::string cmd = command + (withStderr ? " 2>&1" : " 2>/dev/null");
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string jetdb() { return JETDB_PATH; }

std::string jetdbFor(const std::string& file)
{
    std::string password = passwordOf(file);
    return quote(jetdb()) + (password.empty() ? "" : " --password " + quote(password));
}

std::string mdbJson(const std::string& file, const std::string& table, const std::string& out)
{
    run("mdb-json -T '%Y-%m-%d %H:%M:%S' " + quote(file) + " " + quote(table) + " > " + quote(out));
    return out;
}

std::string jetdbJson(const std::string& file, const std::string& table, const std::string& out)
{
    run(jetdbFor(file) + " json " + quote(file) + " " + quote(table) + " > " + quote(out));
    return out;
}

std::string mdbReaderJson(const std::string& file, const std::string& table, const std::string& out)
{
    std::string script = std::string(USBKEY_NODE_MODULES) + "/../mdb-reader-json.js";
    run("NODE_PATH=" + quote(USBKEY_NODE_MODULES) + " node " + quote(script) + " " + quote(file) + " " + quote(table) +
        " > " + quote(out));
    return out;
}

std::string compareRows(const std::string& a, const std::string& b, bool unordered)
{
    std::string script = std::string(USBKEY_NODE_MODULES) + "/../compare-jsonl.js";
    Run r = run("node " + quote(script) + " " + quote(a) + " " + quote(b) + (unordered ? " --unordered" : ""), true);
    return r.status == 0 ? std::string() : (r.output.empty() ? "compare failed" : r.output);
}

long long mdbCount(const std::string& file, const std::string& table)
{
    Run r = run("mdb-count " + quote(file) + " " + quote(table));
    return r.status == 0 ? std::stoll(r.output) : -1;
}

std::string check(const std::string& file)
{
    Run r = run(jetdbFor(file) + " check " + quote(file), true);
    return r.status == 0 ? std::string() : (r.output.empty() ? "check failed" : r.output);
}

} // namespace testsupport
