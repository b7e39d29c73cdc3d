// Files with a database password and encoded files (pages RC4-encrypted
// under the database key): opened only with the password, read and written
// encoded, checked with mdbtools and mdb-reader. Passwords never show in
// messages or output.
#include "TestSupport.h"

#include "jet/Checker.h"
#include "jet/Database.h"
#include "jet/HeaderPage.h"
#include "jet/JetError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// What mdb-reader decodes as the file's database password.
std::string mdbReaderPassword(const std::string& file)
{
    // node finds mdb-reader in the node_modules folder beside the script.
    return run({"node", std::string(USBKEY_NODE_MODULES) + "/../mdb-reader-password.js", file}).output;
}

// The message of the PasswordError that opening gives, or "(opened)".
std::string passwordRefusal(const std::string& file, const std::string& password)
{
    try {
        jet::Database::open(file, jet::Pager::Access::ReadOnly, password);
    } catch (const jet::PasswordError& e) {
        return e.what();
    }
    return "(opened)";
}

std::string utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii) out += c, out += '\0';
    return out;
}

} // namespace

TEST(PasswordFile, OpensOnlyWithItsPasswordAndNamesTheFileNeverThePassword)
{
    const std::string file = testData("V2003_with-password.mdb");
    struct Case {
        const char* given;
        const char* messagePart; // nullptr: opens
    } cases[] = {
        {"", "is protected by a database password"},
        {"Secret-7", "password given for"},
        {"PASSWORD", "is wrong"}, // Jet compares letter case too
        {"password!", "is wrong"},
        {"password", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        std::string message = passwordRefusal(file, c.given);
        if (!c.messagePart) {
            EXPECT_EQ(message, "(opened)");
            continue;
        }
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        EXPECT_NE(message.find("V2003_with-password.mdb"), std::string::npos) << message;
        if (*c.given) {
            EXPECT_EQ(message.find(c.given), std::string::npos) << message;
        }
    }
    auto db = jet::Database::open(file, jet::Pager::Access::ReadOnly, "password");
    EXPECT_EQ(db->table("Table1").def().rowCount, 3u);
    // A file without a password ignores one given, as Jet does.
    EXPECT_EQ(passwordRefusal(testData("delTestV2003.mdb"), "anything"), "(opened)");
}

// Every command of jetdb that opens a file takes the password given before
// the command, refuses the file without it, and never prints it.
TEST(PasswordFile, EveryJetdbCommandTakesThePassword)
{
    fs::path dir = scratchDir("jetdb-password");
    std::string file = scratchCopy(testData("V2003_with-password.mdb"), "jetdb-password");
    const std::string secret = "Zq9-x Yw";
    auto jetdbWith = [&](const std::string& password, const std::string& command) {
        return run(quote(jetdb()) + (password.empty() ? "" : " --password " + quote(password)) + " " + command, true);
    };
    testsupport::Run set = jetdbWith("password", "password " + quote(file) + " " + quote(secret));
    ASSERT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(set.output.find(secret), std::string::npos) << set.output;

    const std::string f = quote(file);
    auto out = [&](const char* name) { return quote((dir / name).string()); };
    const std::vector<std::string> commands = {
        "tables " + f,
        "schema " + f,
        "json " + f + " Table1",
        "count " + f + " Table1",
        "check " + f,
        "index " + f + " Table1 0",
        "props " + f + " Table1",
        "sql " + f + " " + quote("select Data from Table1 where ID = 2"),
        "sql " + f + " " + quote("update Table1 set Data = 'Zwei' where ID = 2"),
        "compact " + f + " " + out("compacted.mdb"),
        "encode " + f + " " + out("encoded.mdb"),
        "decode " + f + " " + out("decoded.mdb"),
        "password " + f + " " + quote(secret),
    };
    const std::string before = fileBytes(file);
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        for (const std::string& wrong : {std::string(), std::string("password")}) {
            testsupport::Run refused = jetdbWith(wrong, command);
            EXPECT_EQ(refused.status, 1) << refused.output;
            EXPECT_NE(refused.output.find(wrong.empty() ? "is protected by a database password" : "is wrong"),
                      std::string::npos)
                << refused.output;
            EXPECT_NE(refused.output.find("--password"), std::string::npos) << refused.output;
        }
        EXPECT_EQ(fileBytes(file), before) << "a refused command changed the file";
        EXPECT_FALSE(fs::exists(dir / "compacted.mdb"));
    }
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        testsupport::Run done = jetdbWith(secret, command);
        EXPECT_EQ(done.status, 0) << done.output;
        EXPECT_EQ(done.output.find(secret), std::string::npos) << done.output;
    }
    // The copies keep the password; the update landed.
    for (const char* copy : {"compacted.mdb", "encoded.mdb", "decoded.mdb"}) {
        SCOPED_TRACE(copy);
        std::string path = (dir / copy).string();
        EXPECT_NE(passwordRefusal(path, ""), "(opened)");
        if (haveReaders()) {
            EXPECT_EQ(mdbReaderPassword(path), secret);
        }
        testsupport::Run rows = jetdbWith(secret, "json " + quote(path) + " Table1");
        EXPECT_NE(rows.output.find("\"Data\":\"Zwei\""), std::string::npos) << rows.output;
    }
}

// The stored password as other readers decode it: set, changed, removed;
// the rest of the file reads unchanged in mdbtools.
TEST(PasswordFile, SetChangedAndRemovedAsOtherReadersDecodeIt)
{
    std::string file = scratchCopy(testData("delTestV2003.mdb"), "set-password");
    fs::path dir = fs::path(file).parent_path();
    const bool readers = haveReaders();
    std::string rows = readers ? mdbJson(file, "Table", (dir / "before.json").string()) : "";
    if (readers) {
        EXPECT_EQ(mdbReaderPassword(file), "(none)");
    }
    struct Step {
        std::string current, next;
    } steps[] = {
        {"", "Sesam"},
        {"Sesam", "pässwörd 中文 €"},
        {"pässwörd 中文 €", "twenty-characters-20"},
        {"twenty-characters-20", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.next);
        {
            auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite, step.current);
            db->setPassword(step.next);
        }
        if (readers) {
            EXPECT_EQ(mdbReaderPassword(file), step.next.empty() ? "(none)" : step.next);
            EXPECT_EQ(compareRows(rows, mdbJson(file, "Table", (dir / "after.json").string())), "");
        }
        if (!step.next.empty()) {
            EXPECT_NE(passwordRefusal(file, step.current), "(opened)");
        }
        EXPECT_EQ(passwordRefusal(file, step.next), "(opened)");
        EXPECT_TRUE(jet::Checker(*jet::Database::open(file, jet::Pager::Access::ReadOnly, step.next)).run().empty());
    }
    // Longer than Jet keeps: refused, the file unchanged, the text not repeated.
    std::string kept = fileBytes(file);
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    try {
        db->setPassword("twenty-one-characters");
        FAIL() << "a 21-character password was taken";
    } catch (const jet::JetError& e) {
        EXPECT_NE(std::string(e.what()).find("20 characters"), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find("twenty-one"), std::string::npos) << e.what();
    }
    db.reset();
    EXPECT_EQ(fileBytes(file), kept);
}

// Access 2007 and later protect a file by encrypting it with Office's
// encryption, which the program does not write: setting a password, and
// encoding or creating a protected file, are refused and leave nothing
// behind; the file stays as it was.
TEST(PasswordFile, AnAccdbFileRefusesAPasswordAndEncodingAndStaysAsItWas)
{
    std::string file = scratchCopy(testData("testV2010.accdb"), "accdb-password");
    const fs::path dir = fs::path(file).parent_path();
    const std::string before = fileBytes(file);
    struct Case {
        std::string command;
        const char* made; // a file the command would have made
        const char* expect;
    } cases[] = {
        {"password " + quote(file) + " Sesam", nullptr, "by encrypting the file with Office's encryption"},
        {"encode " + quote(file) + " " + quote((dir / "encoded.accdb").string()), "encoded.accdb", "cannot be encoded"},
        {"--password Sesam demo --accdb " + quote((dir / "demo.accdb").string()), "demo.accdb",
         "by encrypting the file with Office's encryption"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        testsupport::Run r = run(quote(jetdb()) + " " + c.command, true);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find(c.expect), std::string::npos) << r.output;
        if (c.made) {
            EXPECT_FALSE(fs::exists(dir / c.made));
        }
    }
    EXPECT_EQ(fileBytes(file), before);
}

// The encoded file Access 2000 made reads as mdbtools reads it (every
// Access-made file is also read and written in ReadCompat, Write and Compact).
TEST(EncodedFile, TheAccessMadeOneReadsThroughItsKey)
{
    auto db = openAccessFile(testData("encodedV2000.mdb"));
    EXPECT_NE(db->header().databaseKey, 0u);
    EXPECT_EQ(db->pager().databaseKey(), db->header().databaseKey);
    fs::path dir = scratchDir("encoded-access");
    std::string ours = jetdbJson(testData("encodedV2000.mdb"), "Table1", (dir / "ours.json").string());
    EXPECT_EQ(fileBytes(ours), "{\"ID\":1,\"col1\":\"hello\",\"col2\":0}\n{\"ID\":2,\"col1\":\"world\",\"col2\":42}\n");
}

// `jetdb encode` and `decode` on files with memo values, deep indexes,
// relationships and compressed texts: the encoded copy holds no plain text
// of the catalog, reads as the original in every reader, and decodes back.
TEST(EncodedFile, EncodeAndDecodeKeepEveryRow)
{
    for (const char* name : {"test2V2003.mdb", "compIndexTestV2003.mdb", "indexTestV2000.mdb", "testUnicodeCompV2003.mdb"}) {
        SCOPED_TRACE(name);
        fs::path dir = scratchDir("encode");
        std::string original = testData(name);
        std::string encoded = (dir / "encoded.mdb").string(), decoded = (dir / "decoded.mdb").string();
        testsupport::Run r = run(quote(jetdb()) + " encode " + quote(original) + " " + quote(encoded), true);
        ASSERT_EQ(r.status, 0) << r.output;
        r = run(quote(jetdb()) + " decode " + quote(encoded) + " " + quote(decoded), true);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(openAccessFile(encoded)->pager().databaseKey(), 0u);
        EXPECT_EQ(openAccessFile(decoded)->pager().databaseKey(), 0u);
        EXPECT_EQ(fileBytes(encoded).find(utf16("MSysObjects")), std::string::npos);
        EXPECT_NE(fileBytes(decoded).find(utf16("MSysObjects")), std::string::npos);
        for (const std::string& file : {encoded, decoded}) EXPECT_EQ(check(file), "") << file;
        for (const std::string& table : openAccessFile(original)->tableNames()) {
            SCOPED_TRACE(table);
            if (!haveReaders()) {
                std::string before = jetdbJson(original, table, (dir / "original.json").string());
                for (const std::string& file : {encoded, decoded})
                    EXPECT_EQ(compareRows(before, jetdbJson(file, table, (dir / "ours.json").string()), true), "") << file;
                continue;
            }
            std::string theirs = mdbJson(original, table, (dir / "original.json").string());
            for (const std::string& file : {encoded, decoded}) {
                EXPECT_EQ(compareRows(theirs, mdbJson(file, table, (dir / "mdbtools.json").string()), true), "") << file;
                EXPECT_EQ(compareRows(theirs, mdbReaderJson(file, table, (dir / "mdbreader.json").string()), true), "")
                    << file;
            }
        }
    }
}

// The register, encoded and protected by a password: writes keep every page
// but the header encrypted (no written text shows in the file or its journal
// afterwards), and the independent readers follow them.
TEST(EncodedFile, WritesOnAnEncodedProtectedRegisterStayEncoded)
{
    fs::path dir = scratchDir("encoded-register");
    std::string plain = (dir / "plain.mdb").string(), file = (dir / "vask.mdb").string();
    const std::string pw = quote("k3y!");
    ASSERT_EQ(run(quote(jetdb()) + " --password " + pw + " demo " + quote(plain) + " --entries 3000 --pending 40").status, 0);
    ASSERT_EQ(run(quote(jetdb()) + " --password " + pw + " encode " + quote(plain) + " " + quote(file)).status, 0);
    const char* statements[] = {
        "insert into all_key (USBKEY_SERIAL, username) values ('MARKER-4711', 'admin')",
        "update all_key set username = 'MARKED-BY-7' where id <= 1500",
        "delete from all_key where id > 2900 and id <= 2950",
        "update all_key set is_del=2 where is_del=1",
    };
    for (const char* statement : statements) {
        testsupport::Run r = run(quote(jetdb()) + " --password " + pw + " sql " + quote(file) + " " + quote(statement), true);
        ASSERT_EQ(r.status, 0) << statement << ": " << r.output;
    }
    std::string bytes = fileBytes(file);
    for (const char* text : {"MARKER-4711", "MARKED-BY-7"}) {
        EXPECT_EQ(bytes.find(text), std::string::npos) << text;
        EXPECT_EQ(bytes.find(utf16(text)), std::string::npos) << text;
    }
    EXPECT_FALSE(fs::exists(jet::Pager::journalPath(file)));
    auto db = jet::Database::open(file, jet::Pager::Access::ReadOnly, "k3y!");
    EXPECT_NE(db->pager().databaseKey(), 0u);
    EXPECT_TRUE(jet::Checker(*db).run().empty());
    std::string ours = (dir / "ours.json").string();
    writeFile(ours, run(quote(jetdb()) + " --password " + pw + " json " + quote(file) + " all_key").output);
    EXPECT_NE(fileBytes(ours).find("MARKER-4711"), std::string::npos);
    if (haveReaders()) {
        EXPECT_EQ(compareRows(ours, mdbJson(file, "all_key", (dir / "mdbtools.json").string()), true), "");
        EXPECT_EQ(compareRows(ours, mdbReaderJson(file, "all_key", (dir / "mdbreader.json").string()), true), "");
        EXPECT_EQ(mdbCount(file, "all_key"), 2951);
    }
}

#ifndef _WIN32
// `jetdb --password -` at a terminal asks for the password and reads it
// with the terminal's echo off: the terminal never shows it.
TEST(PasswordFile, PasswordTypedAtATerminalIsNotEchoed)
{
    const std::string file = scratchCopy(testData("V2003_with-password.mdb"), "typed-password");
    const std::string program = jetdb();
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(program.c_str(), "jetdb", "--password", "-", "tables", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // What the terminal shows, read until `wanted` appears or the program ends.
    std::string shown;
    auto readUntil = [&](const std::string& wanted) {
        while (shown.find(wanted) == std::string::npos) {
            pollfd ready{terminal, POLLIN, 0};
            if (::poll(&ready, 1, 20000) <= 0) return false;
            char buffer[256];
            const ssize_t n = ::read(terminal, buffer, sizeof buffer);
            if (n <= 0) return false; // the program ended (EIO)
            shown.append(buffer, size_t(n));
        }
        return true;
    };
    const bool prompted = readUntil("Database password: ");
    const size_t typedAt = shown.size();
    if (prompted) {
        EXPECT_EQ(::write(terminal, "password\n", 9), 9);
    }
    readUntil("(the end)");
    ::kill(child, SIGKILL); // gone by now, unless it still waits for input
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(prompted) << shown;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    EXPECT_NE(shown.find("Table1", typedAt), std::string::npos) << shown;
    EXPECT_EQ(shown.find("password", typedAt), std::string::npos) << shown;
    EXPECT_EQ(shown.find("warning"), std::string::npos) << shown;
}
#endif
