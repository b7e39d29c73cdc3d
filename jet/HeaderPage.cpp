#include "jet/HeaderPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Rc4.h"

#include <cmath>
#include <cstring>

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
    if (h.databaseKey != 0)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is encrypted (its pages are RC4-encoded with a database key); "
                                     "decrypt it in Access first");
    double created = h.creationDate.days;
    int32_t maskValue = std::isfinite(created) && std::fabs(created) < 2e9 ? int32_t(created) : 0;
    uint8_t mask[4];
    put32(mask, uint32_t(maskValue));
    for (size_t i = 0; i < kPasswordLength; ++i) {
        if ((page[kPasswordOffset + i] ^ mask[i % 4]) != 0) {
            h.hasPassword = true;
            break;
        }
    }
    if (h.hasPassword)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is protected by a database password; remove the password in Access first");
    return h;
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
    put32(mask, uint32_t(int32_t(created.days)));
    for (size_t i = 0; i < kPasswordLength; ++i) page[kPasswordOffset + i] = mask[i % 4];
    std::memcpy(page.data() + 0x9C, "4.0", 4);
    toggleMask(page.data());
    return page;
}

} // namespace jet
