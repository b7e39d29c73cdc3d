// Commands that create or change a database.
#include "Commands.h"

#include "base/NameCase.h"
#include "data/schema/RegisterSchema.h"
#include "jet/Compactor.h"
#include "jet/Database.h"
#include "jet/DefaultValue.h"
#include "jet/JetError.h"
#include "jet/PlatformFile.h"
#include "jet/SchemaWriter.h"
#include "jet/StagedFile.h"

#include <cmath>
#include <cstdio>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace jetdb {
namespace {

using jet::ColumnSpec;
using jet::ColumnType;
using jet::IndexSpec;
using jet::TableSpec;
using jet::Value;

// The format of a new file: Access 2000 unless --jet3 (Access 97) or
// --accdb (Access 2010, the .accdb format every Access since reads).
const jet::Format& newFileFormat(bool jet3, bool accdb)
{
    if (jet3 && accdb) throw UsageError("--jet3 and --accdb name two formats; give one");
    return jet3 ? jet::Format::jet3() : accdb ? jet::Format::aceVersion(3) : jet::Format::jet4();
}

int demo(const std::vector<std::string>& a)
{
    if (a.empty()) throw UsageError("missing arguments");
    std::string path;
    long long entries = 200, pending = 20;
    bool jet3 = false, accdb = false;
    uint16_t sortOrder = 0; // 0: General, as written
    for (size_t i = 0; i < a.size(); ++i) {
        auto number = [&](const char* flag) {
            if (i + 1 >= a.size()) throw UsageError(std::string(flag) + " needs a number");
            try {
                long long n = std::stoll(a[++i]);
                if (n < 0 || n > 10000000) throw UsageError(std::string(flag) + " must be 0..10000000");
                return n;
            } catch (const std::logic_error&) {
                throw UsageError(std::string(flag) + " needs a number, not '" + a[i] + "'");
            }
        };
        if (a[i] == "--jet3") jet3 = true;
        else if (a[i] == "--accdb") accdb = true;
        else if (a[i] == "--sort-order") {
            long long lcid = number("--sort-order");
            if (lcid == 0 || lcid > 0xFFFF) throw UsageError("--sort-order needs an LCID (1..65535)");
            sortOrder = uint16_t(lcid);
        }
        else if (a[i] == "--entries") entries = number("--entries");
        else if (a[i] == "--pending") pending = number("--pending");
        else if (path.empty()) path = a[i];
        else throw UsageError("unexpected argument '" + a[i] + "'");
    }
    if (path.empty()) throw UsageError("missing FILE");
    if (pending > entries) pending = entries;
    jet::StagedFile out(path);

    // An Access 97 register keeps its texts in the Simplified Chinese code page.
    const jet::Format& format = newFileFormat(jet3, accdb);
    {
        auto db = jet::SchemaWriter::createDatabase(out.path(), format, jet3 ? 936 : 1252);
        db->pager().setPrivateBuild(true);
        if (!databasePassword().empty()) db->setPassword(databasePassword());
        {
            jet::WriteTransaction tx(*db);
            for (const TableSpec& t : RegisterSchema::tables(format)) jet::SchemaWriter::createTable(*db, t);
            tx.commit();
        }
        db->reload();
        jet::WriteTransaction tx(*db);
        RegisterSchema::addSampleRows(*db, entries, pending, [entries](long long done) {
            if (entries >= 100000) std::cerr << "\r" << done << " / " << entries << " entries" << std::flush;
        });
        if (entries >= 100000) std::cerr << "\n";
        if (sortOrder) jet::SchemaWriter::declareSortOrder(*db, sortOrder);
        tx.commit();
    }
    out.publish();
    std::cout << "created " << path << " with " << entries << " entries (" << pending << " pending)\n";
    return 0;
}

// A small schema language for `jetdb create FILE SCHEMA`:
//
//   table all_key
//     id long autoincrement
//     USBKEY_SERIAL text(50) required
//     add_date datetime default Now()
//     amount numeric(16,2)
//     primary key (id)
//     index by_date (add_date desc, id)
//     unique index serial (USBKEY_SERIAL)
//
// Types: boolean byte integer long currency single double datetime text(n)
// memo binary(n) ole guid numeric(p,s), and in .accdb files bigint (Access 2016) and
// datetimeextended (Access 2019). Lines starting with # are comments.
namespace {

std::string lowerName(const std::string& s) { return base::NameCase::foldUtf8(s); }

// One line of a schema file, for its error messages.
struct SchemaLine {
    const std::string& source;
    int number;
    UsageError fail(const std::string& what) const { return UsageError(source + ":" + std::to_string(number) + ": " + what); }
};

// "(name [desc], ...)": the columns of an index, ascending unless desc.
std::vector<std::pair<std::string, bool>> parseIndexColumns(const std::string& text, const SchemaLine& line)
{
    size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) throw line.fail("expected (column, ...)");
    std::vector<std::pair<std::string, bool>> cols;
    std::istringstream list(text.substr(open + 1, close - open - 1));
    std::string item;
    while (std::getline(list, item, ',')) {
        std::istringstream iw(item);
        std::string name, order;
        iw >> name >> order;
        if (name.empty()) throw line.fail("an empty column in the list");
        cols.emplace_back(name, lowerName(order) != "desc");
    }
    return cols;
}

// "primary key (...)", "index NAME (...)" or "unique index NAME (...)",
// then "required" or "ignore nulls"; `keyword` is the first word, folded.
IndexSpec parseIndex(const std::string& keyword, const std::string& rest, const SchemaLine& line)
{
    IndexSpec ix;
    std::string text = rest;
    if (keyword == "primary") {
        ix.name = "PrimaryKey";
        ix.primaryKey = true;
        ix.unique = true;
    } else {
        if (keyword == "unique") {
            ix.unique = true;
            std::istringstream uw(rest);
            std::string indexWord;
            uw >> indexWord;
            std::getline(uw, text);
        }
        std::istringstream iw(text);
        iw >> ix.name;
        std::getline(iw, text);
    }
    ix.columns = parseIndexColumns(text, line);
    std::istringstream flags(text.substr(text.rfind(')') + 1));
    for (std::string word; flags >> word;) {
        std::string w = lowerName(word), next;
        if (w == "required") ix.required = true;
        else if (w == "ignore" && flags >> next && lowerName(next) == "nulls") ix.ignoreNulls = true;
        else throw line.fail("unknown word '" + word + "' after the index's columns");
    }
    return ix;
}

// "NAME TYPE[(n[,m])] [autoincrement] [required] [default EXPRESSION]".
ColumnSpec parseColumn(const std::string& name, const std::string& rest, const SchemaLine& line)
{
    ColumnSpec c;
    c.name = name;
    std::istringstream cw(rest);
    std::string type;
    if (!(cw >> type)) throw line.fail("column '" + name + "' needs a type");
    std::string typeName = lowerName(type.substr(0, type.find('(')));
    std::vector<int> args;
    if (size_t open = type.find('('); open != std::string::npos) {
        std::istringstream aw(type.substr(open + 1));
        std::string n;
        while (std::getline(aw, n, ',')) {
            try {
                args.push_back(std::stoi(n));
            } catch (const std::logic_error&) {
                throw line.fail("bad size in '" + type + "'");
            }
        }
    }
    static const std::map<std::string, ColumnType> types = {
        {"boolean", ColumnType::Boolean}, {"byte", ColumnType::Byte},       {"integer", ColumnType::Integer},
        {"long", ColumnType::Long},       {"currency", ColumnType::Currency}, {"single", ColumnType::Single},
        {"double", ColumnType::Double},   {"datetime", ColumnType::DateTime}, {"text", ColumnType::Text},
        {"memo", ColumnType::Memo},       {"binary", ColumnType::Binary},   {"ole", ColumnType::OLE},
        {"guid", ColumnType::Guid},       {"numeric", ColumnType::Numeric}, {"bigint", ColumnType::BigInt},
        {"datetimeextended", ColumnType::ExtDateTime}};
    auto it = types.find(typeName);
    if (it == types.end()) throw line.fail("unknown type '" + type + "'");
    c.type = it->second;
    if (c.type == ColumnType::Text) c.length = uint16_t(args.empty() ? 255 : args[0]);
    if (c.type == ColumnType::Binary) c.length = uint16_t(args.empty() ? 510 : args[0]);
    if (c.type == ColumnType::Numeric) {
        c.precision = uint8_t(args.empty() ? 18 : args[0]);
        c.scale = uint8_t(args.size() < 2 ? 0 : args[1]);
    }
    std::string word;
    while (cw >> word) {
        std::string w = lowerName(word);
        if (w == "autoincrement") c.autoNumber = true;
        else if (w == "required") c.required = true;
        else if (w == "default") {
            std::getline(cw, c.defaultValue);
            c.defaultValue.erase(0, c.defaultValue.find_first_not_of(' '));
            break;
        } else throw line.fail("unknown word '" + word + "'");
    }
    return c;
}

} // namespace

std::vector<TableSpec> parseSchema(std::istream& in, const std::string& source)
{
    std::vector<TableSpec> tables;
    std::string text;
    SchemaLine line{source, 0};
    while (std::getline(in, text)) {
        ++line.number;
        size_t firstChar = text.find_first_not_of(" \t");
        if (firstChar == std::string::npos || text[firstChar] == '#') continue; // blank or comment
        std::istringstream words(text);
        std::string first;
        if (!(words >> first)) continue;
        std::string rest;
        std::getline(words, rest);
        std::string keyword = lowerName(first);
        if (keyword == "table") {
            TableSpec t;
            std::istringstream nw(rest);
            if (!(nw >> t.name)) throw line.fail("table needs a name");
            tables.push_back(t);
            continue;
        }
        if (tables.empty()) throw line.fail("a column or index before any table");
        if (keyword == "primary" || keyword == "index" || keyword == "unique")
            tables.back().indexes.push_back(parseIndex(keyword, rest, line));
        else
            tables.back().columns.push_back(parseColumn(first, rest, line));
    }
    return tables;
}

int create(const std::vector<std::string>& args)
{
    // Options first: --jet3 makes an Access 97 file, --code-page its code page (1252 or 936).
    std::vector<std::string> a = args;
    bool jet3 = false, accdb = false;
    uint16_t codePage = 1252;
    uint16_t sortOrder = 0;
    while (!a.empty() && a[0].rfind("--", 0) == 0) {
        if (a[0] == "--jet3" || a[0] == "--accdb") {
            (a[0] == "--jet3" ? jet3 : accdb) = true;
            a.erase(a.begin());
        } else if (a[0] == "--sort-order" && a.size() > 1 && a[1].find_first_not_of("0123456789") == std::string::npos &&
                   a[1].size() < 6) {
            sortOrder = uint16_t(std::stoi(a[1]));
            a.erase(a.begin(), a.begin() + 2);
        } else if (a[0] == "--code-page" && a.size() > 1 && (a[1] == "1252" || a[1] == "936")) {
            codePage = uint16_t(std::stoi(a[1]));
            a.erase(a.begin(), a.begin() + 2);
        } else {
            throw UsageError("unknown option '" + a[0] + "'");
        }
    }
    if (a.empty()) throw UsageError("missing FILE");
    if (a.size() > 2) throw UsageError("too many arguments");
    std::vector<TableSpec> tables;
    if (a.size() == 2) {
        // From UTF-8 explicitly: a narrow path means the ANSI code page on Windows.
        std::ifstream in(std::filesystem::path(std::u8string(a[1].begin(), a[1].end())));
        if (!in) throw UsageError("cannot read the schema file '" + a[1] + "'");
        tables = parseSchema(in, a[1]);
    }
    jet::StagedFile out(a[0]);
    // Large numbers came with Access 2016, extended dates with Access 2019:
    // a file holding them is of that version.
    uint8_t aceVersion = 3;
    for (const TableSpec& t : tables)
        for (const auto& c : t.columns) {
            const uint8_t needs = c.type == ColumnType::ExtDateTime ? 6 : c.type == ColumnType::BigInt ? 5 : 0;
            if (needs && !accdb)
                throw UsageError("table '" + t.name + "', column '" + c.name + "': type " + jet::columnTypeName(c.type) +
                                 " needs an Access 2016 or later file (--accdb)");
            aceVersion = std::max(aceVersion, needs);
        }
    const jet::Format& format = accdb ? jet::Format::aceVersion(aceVersion) : newFileFormat(jet3, accdb);
    {
        auto db = jet::SchemaWriter::createDatabase(out.path(), format, codePage);
        if (!databasePassword().empty()) db->setPassword(databasePassword());
        jet::WriteTransaction tx(*db);
        for (const TableSpec& t : tables) jet::SchemaWriter::createTable(*db, t);
        tx.commit();
        if (sortOrder) {
            db->reload();
            jet::WriteTransaction relabel(*db);
            jet::SchemaWriter::declareSortOrder(*db, sortOrder);
            relabel.commit();
        }
    }
    out.publish();
    std::cout << "created " << a[0] << (tables.empty() ? "" : " with " + std::to_string(tables.size()) + " tables") << "\n";
    return 0;
}

int copyInto(const std::vector<std::string>& a, jet::CompactOptions::Encoding encoding, const char* done)
{
    if (a.size() < 2) throw UsageError("missing arguments");
    if (a.size() > 2) throw UsageError("too many arguments");
    // Opened here first, for the message that says how to give a password.
    openDatabase(a[0]).reset();
    jet::CompactOptions options;
    options.password = databasePassword();
    options.encoding = encoding;
    // Progress on stderr for large files; the result line on stdout.
    jet::Compactor::compact(
        a[0], a[1],
        [&](const std::string& table, uint64_t copied, uint64_t total) {
            if (total < 100000) return;
            std::cerr << "  " << table << ": " << copied << " of " << total << " rows\n";
        },
        options);
    std::cout << done << " " << a[0] << " into " << a[1] << " (" << std::filesystem::file_size(a[0]) << " -> "
              << std::filesystem::file_size(a[1]) << " bytes)\n";
    return 0;
}

int compact(const std::vector<std::string>& a) { return copyInto(a, jet::CompactOptions::Encoding::Keep, "compacted"); }
int encode(const std::vector<std::string>& a) { return copyInto(a, jet::CompactOptions::Encoding::Encode, "encoded"); }
int decode(const std::vector<std::string>& a) { return copyInto(a, jet::CompactOptions::Encoding::Decode, "decoded"); }

int password(const std::vector<std::string>& a)
{
    if (a.size() < 2) throw UsageError("missing arguments");
    if (a.size() > 2) throw UsageError("too many arguments");
    auto db = openDatabase(a[0], jet::Pager::Access::ReadWrite);
    std::string newPassword = a[1];
    // Typed at a terminal, the new password is asked twice: a typing error would lock the file.
    if (newPassword == "-") {
        if (std::optional<std::string> typed = jet::PlatformFile::readLineWithoutEcho("New database password: ")) {
            if (jet::PlatformFile::readLineWithoutEcho("The same again: ") != typed)
                throw UsageError("the two passwords typed differ; nothing was changed");
            newPassword = *typed;
        } else {
            newPassword = passwordArgument("-", "the new database password", "", "");
        }
    } else {
        passwordArgument(newPassword, "the new database password", "", "give it as - to type it instead");
    }
    db->setPassword(newPassword);
    std::cout << (newPassword.empty() ? "removed the database password of " : "set the database password of ") << a[0]
              << "\n";
    return 0;
}

CommandRegistration r1({"create", "create [--jet3 [--code-page 1252|936] | --accdb] [--sort-order LCID] FILE [SCHEMA]",
                        "create a new Access 2000 database (Access 97 with --jet3, an Access 2010 .accdb file with "
                        "--accdb), with the tables a schema file describes (with --password, protected by that "
                        "database password; not an .accdb file)",
                        create});
CommandRegistration r2({"demo", "demo FILE [--entries N] [--pending M] [--jet3 | --accdb] [--sort-order LCID]",
                        "create the register database with N entries (200), the last M (20) not yet exported "
                        "(an Access 97 file in code page 936 with --jet3, an Access 2010 .accdb file with --accdb; with "
                        "--password, protected by it)",
                        demo});
CommandRegistration r3({"compact", "compact FILE OUT",
                        "copy FILE into a new file OUT without the space of deleted rows and released pages "
                        "(never writes over FILE; refuses when OUT exists)",
                        compact});
CommandRegistration r4({"encode", "encode FILE OUT",
                        "copy FILE into a new file OUT whose pages are encoded (RC4 under a new database key), "
                        "as Access's Encode Database does; OUT keeps FILE's database password (Access 97-2003 files: "
                        "an .accdb file is protected by Office's encryption, which this program does not write)",
                        encode});
CommandRegistration r5({"decode", "decode FILE OUT", "copy an encoded FILE into a new file OUT with its pages in the clear",
                        decode});
CommandRegistration r6({"password", "password FILE NEW",
                        "set FILE's database password to NEW (at most 20 characters; \"\" removes it; - types it "
                        "twice at the terminal, or reads standard input's first line); a file that has one takes the "
                        "old password before the command (--password or JETDB_PASSWORD); Access 97-2003 files only, "
                        "as Access 2007 and later keep a password by encrypting the file",
                        password});

} // namespace
} // namespace jetdb
