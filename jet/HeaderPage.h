#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "jet/Format.h"
#include "jet/Value.h"

namespace jet {

// Page 0, the database definition page. Offsets of the masked area are the
// format's (Format::header); in Jet 4:
//
//   offset  size  meaning
//   0x00    1     page type, 0x00
//   0x01    3     01 00 00
//   0x04    16    "Standard Jet DB\0" ("Standard ACE DB\0" for .accdb)
//   0x14    1     version: 0 Jet 3 (2048-byte pages), 1 Jet 4, 2 Access 2007,
//                 3 Access 2010, 4 Access 2013, 5 Access 2016, 6 Access 2019
//                 (ACE: Jet 4's layout; Access 2010 may leave a 1 in 0x15)
//   0x18    128   RC4-masked area, key 0x6B39DAC7; offsets below are of the unmasked page
//   0x3C    2       code page
//   0x3E    4       database key; non-zero means the other pages are RC4-encrypted
//                   (an "encoded" file), each under the key XOR its page number;
//                   in ACE it means Office's encryption (database password), with
//                   its description at 0x299 (length, version, flags)
//   0x42    40      database password, UTF-16 (20 characters, NUL-padded), XOR-ed
//                   with the 4 bytes of (int)creation date; all zero without one
//   0x6E    4       text sort order (0x0409 = General; version in the high half)
//   0x72    8       creation date, a Date/Time double
//   0x98    ...   not masked; the engine version string "4.0" at 0x9C
// Jet 3 masks 126 bytes, keeps a two-byte sort order at 0x3A, a 20-byte
// password without the date mask, and no creation date.
struct HeaderPage {
    // Where every version keeps its version field (the rest depends on it).
    static constexpr size_t kVersionOffset = 0x14;

    uint32_t version = 1;
    uint16_t codePage = 0;
    uint32_t databaseKey = 0;
    uint32_t sortOrder = 0x0409;
    DateTime creationDate{};
    bool hasPassword = false;
    std::u16string password; // the database password; never to be printed

    // Parses page 0 as stored (masked); throws UnsupportedFormatError for an
    // unknown version and for an ACE file encrypted with Office's encryption.
    static HeaderPage parse(const uint8_t* rawPage, const std::string& fileName);
    // Throws PasswordError, naming the file, when the file has a database
    // password and `given` (UTF-8; empty for none) is not it.
    void checkPassword(const std::string& given, const std::string& fileName) const;

    // The database key of page 0 as stored, from its first kKeyAreaSize bytes.
    static constexpr size_t kKeyAreaSize = 0x98;
    static uint32_t storedDatabaseKey(const Format& format, const uint8_t* storedStart);
    // Change page 0 as stored: the database key (0: pages in the clear), and
    // the database password (empty: none; at most 20 characters).
    static void setDatabaseKey(const Format& format, uint8_t* storedPage, uint32_t key);
    static void setPassword(const Format& format, uint8_t* storedPage, const std::u16string& password);
    // A key for a newly encoded file (never 0).
    static uint32_t randomDatabaseKey();
    // Applies (or removes: the mask is its own inverse) the RC4 mask in place.
    static void toggleMask(const Format& format, uint8_t* page);
    // Builds page 0 of a new, unencrypted file of the format, masked as stored.
    static std::array<uint8_t, kMaxPageSize> build(const Format& format, DateTime created, uint16_t codePage,
                                                   uint32_t sortOrder);
};

} // namespace jet
