#include "jet/HeaderPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Rc4.h"

#include <cmath>
#include <cstring>
#include <random>

namespace jet {

namespace {
constexpr size_t kMaskOffset = 0x18;
constexpr size_t kMaskLength = 128;
constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B}; // 0x6B39DAC7, little-endian
constexpr size_t kCodePageOffset = 0x3C;
constexpr size_t kDatabaseKeyOffset = 0x3E;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kPasswordLength = 40;
constexpr size_t kSortOrderOffset = 0x6E;
constexpr size_t kCreationDateOffset = 0x72;
const char kJetMagic[] = "Standard Jet DB";
const char kAceMagic[] = "Standard ACE DB";

// The password is kept XOR-ed with the whole days of the creation date, a
// 4-byte little-endian int repeated over its 40 bytes. `page` is unmasked.
void passwordMask(const uint8_t* page, uint8_t mask[4])
{
    double created = leDouble(page + kCreationDateOffset);
    int32_t days = std::isfinite(created) && std::fabs(created) < 2e9 ? int32_t(created) : 0;
    put32(mask, uint32_t(days));
}

// The database password of an unmasked page 0: UTF-16 up to its first NUL.
std::u16string storedPassword(const uint8_t* page)
{
    uint8_t mask[4];
    passwordMask(page, mask);
    std::u16string password;
    for (size_t i = 0; i + 1 < kPasswordLength; i += 2) {
        char16_t c = char16_t((page[kPasswordOffset + i] ^ mask[i % 4]) |
                              (page[kPasswordOffset + i + 1] ^ mask[(i + 1) % 4]) << 8);
        if (c == 0) break;
        password += c;
    }
    return password;
}
} // namespace

void HeaderPage::toggleMask(uint8_t* page)
{
    Rc4 rc4(kMaskKey, sizeof kMaskKey);
    rc4.apply(page + kMaskOffset, kMaskLength);
}

HeaderPage HeaderPage::parse(const uint8_t* raw, const std::string& fileName)
{
    uint8_t page[kMaxPageSize];
    std::memcpy(page, raw, kMaxPageSize);
    if (page[0] != 0x00 || std::memcmp(page + 4, kJetMagic, 15) != 0) {
        if (std::memcmp(page + 4, kAceMagic, 15) == 0)
            throw UnsupportedFormatError("'" + fileName +
                                         "' is an Access 2007 or later (.accdb) database; only Access 2000-2003 "
                                         "(Jet 4) files are supported");
        throw UnsupportedFormatError("'" + fileName + "' is not an Access database (no Jet header on page 0)");
    }
    HeaderPage h;
    h.version = le32(page + kVersionOffset);
    if (h.version == 0)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is an Access 97 (Jet 3) database; only Access 2000-2003 (Jet 4) files "
                                     "are supported");
    if (h.version != 1)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is an Access 2007 or later (ACE) database; only Access 2000-2003 (Jet 4) "
                                     "files are supported");
    toggleMask(page);
    h.codePage = le16(page + kCodePageOffset);
    h.databaseKey = le32(page + kDatabaseKeyOffset);
    h.sortOrder = le32(page + kSortOrderOffset);
    h.creationDate = DateTime{leDouble(page + kCreationDateOffset)};
    // The pages of an encoded file (non-zero database key) are decrypted by
    // the Pager, which reads the key itself before any page but this one.
    h.password = storedPassword(page);
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

uint32_t HeaderPage::storedDatabaseKey(const uint8_t* storedStart)
{
    static_assert(kKeyAreaSize >= kMaskOffset + kMaskLength);
    uint8_t area[kKeyAreaSize];
    std::memcpy(area, storedStart, sizeof area);
    toggleMask(area);
    return le32(area + kDatabaseKeyOffset);
}

void HeaderPage::setDatabaseKey(uint8_t* storedPage, uint32_t key)
{
    toggleMask(storedPage);
    put32(storedPage + kDatabaseKeyOffset, key);
    toggleMask(storedPage);
}

void HeaderPage::setPassword(uint8_t* storedPage, const std::u16string& password)
{
    if (password.size() > kPasswordLength / 2)
        throw JetError("A database password has at most " + std::to_string(kPasswordLength / 2) + " characters");
    if (password.find(u'\0') != std::u16string::npos)
        throw JetError("A database password cannot hold the character U+0000");
    toggleMask(storedPage);
    uint8_t mask[4];
    passwordMask(storedPage, mask);
    for (size_t i = 0; i < kPasswordLength; ++i) {
        char16_t c = i / 2 < password.size() ? password[i / 2] : u'\0';
        uint8_t byte = i % 2 == 0 ? uint8_t(c & 0xFF) : uint8_t(c >> 8);
        storedPage[kPasswordOffset + i] = byte ^ mask[i % 4];
    }
    toggleMask(storedPage);
}

uint32_t HeaderPage::randomDatabaseKey()
{
    std::random_device random;
    uint32_t key = 0;
    while (key == 0) key = uint32_t(random());
    return key;
}

std::array<uint8_t, kMaxPageSize> HeaderPage::build(DateTime created, uint16_t codePage, uint32_t sortOrder)
{
    std::array<uint8_t, kMaxPageSize> page{};
    page[0] = 0x00;
    page[1] = 0x01;
    std::memcpy(page.data() + 4, kJetMagic, 16);
    put32(page.data() + kVersionOffset, 1);
    // The first bytes of the masked area read the same in every Jet 4 file.
    static const uint8_t kMaskedPrologue[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
    std::memcpy(page.data() + kMaskOffset, kMaskedPrologue, sizeof kMaskedPrologue);
    put16(page.data() + kCodePageOffset, codePage);
    put32(page.data() + kDatabaseKeyOffset, 0);
    put32(page.data() + kSortOrderOffset, sortOrder);
    putDouble(page.data() + kCreationDateOffset, created.days);
    // No password: the stored bytes are the date mask itself.
    uint8_t mask[4];
    passwordMask(page.data(), mask);
    for (size_t i = 0; i < kPasswordLength; ++i) page[kPasswordOffset + i] = mask[i % 4];
    std::memcpy(page.data() + 0x9C, "4.0", 4);
    toggleMask(page.data());
    return page;
}

} // namespace jet
