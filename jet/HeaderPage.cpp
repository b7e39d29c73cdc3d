#include "jet/HeaderPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Rc4.h"
#include "jet/TextCoding.h"

#include <cmath>
#include <cstring>
#include <random>

namespace jet {

namespace {
constexpr size_t kMaskOffset = 0x18;
constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B}; // 0x6B39DAC7, little-endian
const char kJetMagic[] = "Standard Jet DB";
const char kAceMagic[] = "Standard ACE DB";

// Jet 4 keeps the password XOR-ed with the whole days of the creation date,
// a 4-byte little-endian int repeated over its bytes; Jet 3 keeps it as it
// is (a zero mask). `page` is unmasked.
void passwordMask(const Format& f, const uint8_t* page, uint8_t mask[4])
{
    std::memset(mask, 0, 4);
    if (f.header.creationDate == kAbsent) return;
    double created = leDouble(page + f.header.creationDate);
    int32_t days = std::isfinite(created) && std::fabs(created) < 2e9 ? int32_t(created) : 0;
    put32(mask, uint32_t(days));
}

// How the password is written: UTF-16 in Jet 4, the file's code page in Jet 3.
const TextCoding& passwordCoding(const Format& f, const uint8_t* page)
{
    if (f.textStorage == Format::TextStorage::Unicode) return TextCoding::unicode();
    const TextCoding* coding = TextCoding::forCodePage(le16(page + f.header.codePage));
    return coding ? *coding : *TextCoding::forCodePage(1252);
}

// The database password of an unmasked page 0, up to its first NUL.
std::u16string storedPassword(const Format& f, const uint8_t* page)
{
    uint8_t mask[4];
    passwordMask(f, page, mask);
    Bytes stored(f.header.passwordLength);
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = page[f.header.password + i] ^ mask[i % 4];
    const bool unicode = f.textStorage == Format::TextStorage::Unicode;
    size_t end = 0;
    while (end + (unicode ? 1 : 0) < stored.size() && (stored[end] || (unicode && stored[end + 1]))) end += unicode ? 2 : 1;
    return unicode ? TextCoding::unicode().decode(stored.data(), end)
                   : passwordCoding(f, page).decode(stored.data(), end);
}

// The kind of Office encryption an encrypted ACE file names on page 0: at
// 0x299 a 2-byte length, then the encryption's version (two 2-byte numbers)
// and, for the CryptoAPI versions, its flags (0x04 CryptoAPI, 0x20 AES).
std::string officeEncryptionName(const uint8_t* page)
{
    constexpr size_t kInfo = 0x299;
    const unsigned major = le16(page + kInfo + 2), minor = le16(page + kInfo + 4);
    const uint32_t flags = le32(page + kInfo + 6);
    if (major == 4 && minor == 4) return "Office's agile encryption, AES";
    if ((major == 3 || major == 4) && minor == 3) return "Office's extensible encryption";
    if ((major >= 2 && major <= 4) && minor == 2) {
        if ((flags & 0x04) && (flags & 0x20)) return "Office's standard encryption, AES";
        if (flags & 0x04) return "Office's RC4 CryptoAPI encryption";
    }
    if (major == 1 && minor == 1) return "Office's RC4 encryption";
    return "Office's encryption, version " + std::to_string(major) + "." + std::to_string(minor);
}
} // namespace

void HeaderPage::toggleMask(const Format& format, uint8_t* page)
{
    Rc4 rc4(kMaskKey, sizeof kMaskKey);
    rc4.apply(page + kMaskOffset, format.header.maskLength);
}

HeaderPage HeaderPage::parse(const uint8_t* raw, const std::string& fileName)
{
    uint8_t page[kMaxPageSize];
    std::memcpy(page, raw, kMaxPageSize);
    const bool jet = std::memcmp(page + 4, kJetMagic, 15) == 0;
    const bool ace = std::memcmp(page + 4, kAceMagic, 15) == 0;
    if (page[0] != 0x00 || (!jet && !ace))
        throw UnsupportedFormatError("'" + fileName + "' is not an Access database (no Jet header on page 0)");
    HeaderPage h;
    h.version = page[kVersionOffset];
    const Format* format = Format::forVersion(h.version);
    if (!format || format->ace != ace)
        throw UnsupportedFormatError("'" + fileName + "' is an Access database of a version this program does not know (" +
                                     (ace ? "ACE" : "Jet") + " version " + std::to_string(h.version) +
                                     "); it reads Access 97 to 2019 files");
    const Format::HeaderLayout& l = format->header;
    toggleMask(*format, page);
    h.codePage = le16(page + l.codePage);
    h.databaseKey = le32(page + l.databaseKey);
    h.sortOrder = l.sortOrderSize == 4 ? le32(page + l.sortOrder) : le16(page + l.sortOrder);
    if (l.creationDate != kAbsent) h.creationDate = DateTime{leDouble(page + l.creationDate)};
    // Access 2007 and later keep a database password by encrypting every
    // page with Office's encryption, whose key the header only describes.
    if (format->ace && h.databaseKey != 0)
        throw UnsupportedFormatError("'" + fileName + "' is encrypted with a database password (" +
                                     officeEncryptionName(page) +
                                     "), which this program does not decrypt; in Access, remove the password "
                                     "(File > Info > Decrypt Database) and open the file again");
    // The pages of an encoded file (non-zero database key) are decrypted by
    // the Pager, which reads the key itself before any page but this one.
    h.password = storedPassword(*format, page);
    h.hasPassword = !h.password.empty();
    return h;
}

void HeaderPage::checkPassword(const std::string& given, const std::string& fileName) const
{
    if (!hasPassword) return; // Jet ignores a password given for a file without one
    if (given.empty())
        throw PasswordError("'" + fileName + "' is protected by a database password; it opens only with that password");
    // Jet compares the password exactly, letter case included.
    if (fromUtf8(given) != password) throw PasswordError("The database password given for '" + fileName + "' is wrong");
}

uint32_t HeaderPage::storedDatabaseKey(const Format& format, const uint8_t* storedStart)
{
    static_assert(kKeyAreaSize >= kMaskOffset + 128);
    uint8_t area[kKeyAreaSize];
    std::memcpy(area, storedStart, sizeof area);
    toggleMask(format, area);
    return le32(area + format.header.databaseKey);
}

void HeaderPage::setDatabaseKey(const Format& format, uint8_t* storedPage, uint32_t key)
{
    if (format.ace && key != 0)
        throw JetError("An Access 2007 or later (.accdb) file cannot be encoded as older files are: Access protects "
                       "these files with Office's encryption, which this program does not write");
    toggleMask(format, storedPage);
    put32(storedPage + format.header.databaseKey, key);
    toggleMask(format, storedPage);
}

void HeaderPage::setPassword(const Format& format, uint8_t* storedPage, const std::u16string& password)
{
    const Format::HeaderLayout& l = format.header;
    if (format.ace && !password.empty())
        throw JetError("Access 2007 and later keep a database password by encrypting the file with Office's "
                       "encryption, which this program does not write; set the password in Access");
    toggleMask(format, storedPage);
    Bytes bytes;
    const bool encoded = passwordCoding(format, storedPage).encode(password, false, bytes);
    const size_t limit = format.textStorage == Format::TextStorage::Unicode ? l.passwordLength / 2 : l.passwordLength;
    auto fail = [&](const std::string& what) {
        toggleMask(format, storedPage);
        return JetError(what);
    };
    if (!encoded) throw fail("A database password of this file cannot hold characters outside its code page");
    if (bytes.size() > l.passwordLength || password.size() > limit)
        throw fail("A database password has at most " + std::to_string(limit) + " characters");
    if (password.find(u'\0') != std::u16string::npos) throw fail("A database password cannot hold the character U+0000");
    uint8_t mask[4];
    passwordMask(format, storedPage, mask);
    for (size_t i = 0; i < l.passwordLength; ++i)
        storedPage[l.password + i] = uint8_t((i < bytes.size() ? bytes[i] : 0) ^ mask[i % 4]);
    toggleMask(format, storedPage);
}

uint32_t HeaderPage::randomDatabaseKey()
{
    std::random_device random;
    uint32_t key = 0;
    while (key == 0) key = uint32_t(random());
    return key;
}

std::array<uint8_t, kMaxPageSize> HeaderPage::build(const Format& format, DateTime created, uint16_t codePage,
                                                    uint32_t sortOrder)
{
    const Format::HeaderLayout& l = format.header;
    std::array<uint8_t, kMaxPageSize> page{};
    page[0] = 0x00;
    page[1] = 0x01;
    std::memcpy(page.data() + 4, format.ace ? kAceMagic : kJetMagic, 16);
    put32(page.data() + kVersionOffset, format.version);
    // The first bytes of the masked area read the same in every file.
    static const uint8_t kMaskedPrologue[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
    std::memcpy(page.data() + kMaskOffset, kMaskedPrologue, sizeof kMaskedPrologue);
    put16(page.data() + l.codePage, codePage);
    put32(page.data() + l.databaseKey, 0);
    if (l.sortOrderSize == 4) put32(page.data() + l.sortOrder, sortOrder);
    else put16(page.data() + l.sortOrder, uint16_t(sortOrder));
    if (l.creationDate != kAbsent) {
        putDouble(page.data() + l.creationDate, created.days);
        // No password: the stored bytes are the date mask itself.
        uint8_t mask[4];
        passwordMask(format, page.data(), mask);
        for (size_t i = 0; i < l.passwordLength; ++i) page[l.password + i] = mask[i % 4];
        std::memcpy(page.data() + 0x9C, "4.0", 4);
    } else {
        // What Access 97 keeps in a new file's header besides: 01 00 before
        // the sort order, and at 0x600 a table of 01 00 pairs that Access
        // itself starts with 01 01 09 01.
        page[0x38] = 0x01;
        static const uint8_t kStart[4] = {0x01, 0x01, 0x09, 0x01};
        std::memcpy(page.data() + 0x600, kStart, sizeof kStart);
        for (size_t o = 0x604; o + 1 < format.pageSize; o += 2) page[o + 1] = 0x01;
    }
    toggleMask(format, page.data());
    return page;
}

} // namespace jet
