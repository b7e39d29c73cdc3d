#include "TestSupport.h"

#include "jet/Format.h"
#include "jet/HeaderPage.h"

#include "jet/Database.h"
#include "jet/JetError.h"

#include "CommandLine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

// Access 2007 and later files lie beside the older ones.
static fs::path accdbFolder() { return fs::path(USBKEY_TESTDATA_DIR).parent_path() / "accdb"; }

std::string testData(const std::string& name)
{
    if (fs::path(name).extension() == ".accdb") return (accdbFolder() / name).string();
    return std::string(USBKEY_TESTDATA_DIR) + "/" + name;
}

std::vector<std::string> allAccessFiles()
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(USBKEY_TESTDATA_DIR))
        if (e.path().extension() == ".mdb") out.push_back(e.path().string());
    for (const auto& e : fs::directory_iterator(accdbFolder()))
        if (e.path().extension() == ".accdb") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string passwordOf(const std::string& file)
{
    // The corpus files' documented passwords (the SOURCES.md of tests/data/access and tests/data/accdb).
    static const std::set<std::string> protectedFiles{"V2003_with-password.mdb"};
    return protectedFiles.count(fs::path(file).filename().string()) ? "password" : "";
}

// Problems of Access-made files as they are, which `jetdb check` rightly
// reports (a table whose definition counts fewer rows than it holds
// misleads every reader that trusts the count, mdb-count among them):
// calcFieldTestV2010's Table1 holds 4 rows, its definition counts 3 (the
// file's own Jackcess tests read 4). Writes keep the difference; compact
// counts the rows anew.
static const std::pair<const char*, const char*> kKnownProblems[] = {
    {"calcFieldTestV2010.accdb", "table 'Table1': the definition counts "},
};

std::vector<std::string> withoutKnownProblems(const std::string& file, std::vector<std::string> lines)
{
    const std::string name = fs::path(file).filename().string();
    for (const auto& entry : kKnownProblems) {
        if (name != entry.first) continue;
        const char* problem = entry.second;
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&](const std::string& line) { return line.find(problem) != std::string::npos; }),
                    lines.end());
    }
    return lines;
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
    // Removed first: libstdc++ on Windows refuses to overwrite (every file
    // there looks like the same file to its check).
    fs::remove(to);
    fs::copy_file(file, to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return to.string();
}

std::string officeEncryptedCopy(const std::string& file, const std::string& test, uint16_t major, uint16_t minor,
                                uint32_t flags)
{
    const std::string copy = scratchCopy(file, test);
    std::string bytes = fileBytes(copy);
    auto* page = reinterpret_cast<uint8_t*>(bytes.data());
    const jet::Format* format = jet::Format::forVersion(page[jet::HeaderPage::kVersionOffset]);
    // The key lies in the part of the header RC4 masks.
    jet::HeaderPage::toggleMask(*format, page);
    const uint32_t key = 0x5A17C0DEu;
    for (int i = 0; i < 4; ++i) page[format->header.databaseKey + size_t(i)] = uint8_t(key >> (8 * i));
    jet::HeaderPage::toggleMask(*format, page);
    constexpr size_t kInfo = 0x299;
    const uint8_t info[] = {8, 0, uint8_t(major), uint8_t(major >> 8), uint8_t(minor), uint8_t(minor >> 8),
                            uint8_t(flags), uint8_t(flags >> 8), uint8_t(flags >> 16), uint8_t(flags >> 24)};
    std::copy(std::begin(info), std::end(info), page + kInfo);
    writeFile(copy, bytes);
    return copy;
}

std::string quote(const std::string& s) { return CommandLine::quote(s); }

// Paths in the tests are UTF-8; a narrow path means the ANSI code page on Windows.
static fs::path utf8Path(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }
static std::string utf8(const fs::path& path)
{
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string fileBytes(const std::string& file)
{
    std::ifstream in(utf8Path(file), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& file, const std::string& bytes)
{
    std::ofstream(utf8Path(file), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::unique_ptr<ChildProcess> start(const std::vector<std::string>& command, bool withStderr)
{
    static std::atomic<unsigned> started{0};
    fs::path output = scratchRoot() / ("output-" + std::to_string(++started) + ".txt");
    fs::create_directories(output.parent_path());
    return std::make_unique<ChildProcess>(command, utf8(output), withStderr);
}

Run run(const std::vector<std::string>& command, bool withStderr)
{
    std::unique_ptr<ChildProcess> child = start(command, withStderr);
    Run r;
    r.status = child->wait();
    r.output = child->output();
    return r;
}

Run run(const std::string& command, bool withStderr) { return run(CommandLine::split(command), withStderr); }

std::string jetdb() { return JETDB_PATH; }

// Whether a program can be started by its name: found on PATH (with .exe on Windows).
static bool onPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
#ifdef _WIN32
    const char separator = ';';
    const std::string suffix = ".exe";
#else
    const char separator = ':';
    const std::string suffix;
#endif
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, separator);)
        if (!folder.empty() && fs::is_regular_file(fs::path(folder) / (name + suffix))) return true;
    return false;
}

bool haveReaders()
{
    static const bool found = onPath("mdb-json") && onPath("mdb-count") && onPath("mdb-export") && onPath("node") &&
                              fs::exists(fs::path(USBKEY_NODE_MODULES) / "mdb-reader");
    return found;
}

// Without node (a Windows build): rows must be equal byte for byte, which
// the comparison through node would accept too.
static std::string compareLinesExactly(const std::string& a, const std::string& b, bool unordered)
{
    auto lines = [](const std::string& file) {
        std::vector<std::string> out;
        std::istringstream in(fileBytes(file));
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) out.push_back(line);
        return out;
    };
    std::vector<std::string> left = lines(a), right = lines(b);
    if (unordered) {
        std::sort(left.begin(), left.end());
        std::sort(right.begin(), right.end());
    }
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        std::string x = i < left.size() ? left[i] : "(none)", y = i < right.size() ? right[i] : "(none)";
        if (x != y) return "row " + std::to_string(i + 1) + ": " + x + " vs " + y;
    }
    return "";
}

static std::string nodeScript(const std::string& name) { return std::string(USBKEY_NODE_MODULES) + "/../" + name; }

std::string jetdbFor(const std::string& file)
{
    std::string password = passwordOf(file);
    return quote(jetdb()) + (password.empty() ? "" : " --password " + quote(password));
}

std::string mdbJson(const std::string& file, const std::string& table, const std::string& out)
{
    writeFile(out, run({"mdb-json", "-T", "%Y-%m-%d %H:%M:%S", file, table}).output);
    return out;
}

std::string jetdbJson(const std::string& file, const std::string& table, const std::string& out)
{
    Run r = run(jetdbFor(file) + " json " + quote(file) + " " + quote(table));
    writeFile(out, r.output);
    return out;
}

std::string mdbReaderJson(const std::string& file, const std::string& table, const std::string& out)
{
    // node finds mdb-reader in the node_modules folder beside the script.
    writeFile(out, run({"node", nodeScript("mdb-reader-json.js"), file, table}).output);
    return out;
}

std::string compareRows(const std::string& a, const std::string& b, bool unordered, const std::vector<std::string>& without,
                        bool emptyAsAbsent)
{
    if (!onPath("node")) return compareLinesExactly(a, b, unordered);
    std::vector<std::string> command{"node", nodeScript("compare-jsonl.js"), a, b};
    if (unordered) command.push_back("--unordered");
    if (!without.empty()) {
        std::string list = "[";
        for (const std::string& column : without) {
            std::string quoted = "\"";
            for (char c : column) quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
            list += (list.size() > 1 ? "," : "") + quoted + "\"";
        }
        command.push_back("--without");
        command.push_back(list + "]");
    }
    if (emptyAsAbsent) command.push_back("--empty-as-absent");
    Run r = run(command, true);
    return r.status == 0 ? std::string() : (r.output.empty() ? "compare failed" : r.output);
}

long long mdbCount(const std::string& file, const std::string& table)
{
    Run r = run({"mdb-count", file, table});
    return r.status == 0 ? std::stoll(r.output) : -1;
}

std::string check(const std::string& file)
{
    Run r = run(jetdbFor(file) + " check " + quote(file), true);
    if (r.status == 0) return "";
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("note: ", 0) != 0) lines.push_back(line);
    // A failure that printed nothing, or only notes, is still a failure.
    if (lines.empty()) return r.output.empty() ? "check failed" : r.output;
    std::string rest;
    for (const std::string& line : withoutKnownProblems(file, lines)) rest += line + "\n";
    return rest;
}

// Where the independent readers are known to read a table otherwise than
// the engine, by column:
//   - a complex column: jetdb prints the rows of its values, mdb-json the
//     key, mdb-reader only attachments (and it fails on a table with other
//     kinds, so its script leaves them all out);
//   - a calculated column: both readers print the wrapped bytes Access
//     stores instead of the value inside;
//   - Date/Time Extended: mdb-json leaves it out (an unsupported type),
//     mdb-reader prints it its own way ("2020.06.17 00:00:00.000000000");
//   - Large Number, and a column of a type nobody knows: mdb-json leaves it out;
//   - a Date/Time column with a date before 1899-12-30: mdbtools prints
//     "1900-01-00 00:00:00" for any date before 1900, and mdb-reader counts
//     the time of day of such a day backwards, as if -1.25 were 1899-12-28
//     18:00 (Access and the engine read 1899-12-29 06:00);
//   - a Date/Time column holding half a second or more: mdbtools rounds to
//     the nearest second, where mdb-reader and the engine cut it off;
//   - a text with a character beyond the Basic Multilingual Plane (a
//     surrogate pair): mdbtools prints each half as "?".
// And mdb-json leaves out empty texts and binaries, which the comparison
// counts as absent. mdb-reader reads no table with a column of a type it
// does not know (readerReadsTable). ReadCompat checks what these leave out
// against other evidence.
std::vector<std::string> columnsReadersMisread(const std::string& file, const std::string& table,
                                               const std::string& reader)
{
    auto db = openAccessFile(file);
    jet::Table& t = db->table(table);
    const jet::TableDef& def = t.def();
    std::vector<bool> early(def.columns.size(), false), halfSeconds(def.columns.size(), false),
        beyondBmp(def.columns.size(), false);
    t.scan([&](jet::RowLocator, std::vector<jet::Value>& row) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (auto d = std::get_if<jet::DateTime>(&row[i])) {
                early[i] = early[i] || d->days < 0;
                halfSeconds[i] = halfSeconds[i] || jet::toCivil(*d).millisecond >= 500;
            } else if (auto text = std::get_if<std::u16string>(&row[i])) {
                for (char16_t c : *text) beyondBmp[i] = beyondBmp[i] || (c >= 0xD800 && c <= 0xDFFF);
            }
        }
        return true;
    });
    std::vector<std::string> out;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const jet::ColumnDef& c = def.columns[i];
        bool misread = c.isComplex() || c.isCalculated() || c.type == jet::ColumnType::ExtDateTime || early[i];
        if (reader == "mdb-json")
            misread |= c.type == jet::ColumnType::BigInt || !jet::isKnownColumnType(c.type) || halfSeconds[i] || beyondBmp[i];
        if (misread) out.push_back(c.utf8Name);
    }
    return out;
}

bool readerReadsTable(const std::string& file, const std::string& table, const std::string& reader)
{
    if (reader != "mdb-reader") return true;
    auto db = openAccessFile(file);
    for (const jet::ColumnDef& c : db->table(table).def().columns)
        if (!jet::isKnownColumnType(c.type)) return false;
    return true;
}

std::string compareWithReader(const std::string& file, const std::string& table, const std::string& reader,
                              const std::string& scratchFolder)
{
    if (!readerReadsTable(file, table, reader)) return "";
    const fs::path dir(scratchFolder);
    std::string ours = jetdbJson(file, table, (dir / "ours.json").string());
    std::string theirs = reader == "mdb-json" ? mdbJson(file, table, (dir / "mdbtools.json").string())
                                              : mdbReaderJson(file, table, (dir / "mdbreader.json").string());
    return compareRows(ours, theirs, true, columnsReadersMisread(file, table, reader), reader == "mdb-json");
}

} // namespace testsupport
