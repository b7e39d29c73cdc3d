#include "jet/HeaderPage.h"

#include "jet/ByteOrder.h"
#include "jet/JetError.h"
#include "jet/Rc4.h"

#include <cmath>
#include <cstring>

namespace jet {

namespace {
constexpr size_t kMaskOffset = 0x18;
constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B}; // 0x6B39DAC7, little-endian
const char kJetMagic[] = "Standard Jet DB";
const char kAceMagic[] = "Standard ACE DB";
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
    if (page[0] != 0x00 || std::memcmp(page + 4, kJetMagic, 15) != 0) {
        if (std::memcmp(page + 4, kAceMagic, 15) == 0)
            throw UnsupportedFormatError("'" + fileName +
                                         "' is an Access 2007 or later (.accdb) database; only Access 2000-2003 "
                                         "(Jet 4) files are supported");
        throw UnsupportedFormatError("'" + fileName + "' is not an Access database (no Jet header on page 0)");
    }
    HeaderPage h;
    h.version = le32(page + kVersionOffset);
    const Format* format = Format::forVersion(h.version);
    if (!format)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is an Access 2007 or later (ACE) database; only Access 97-2003 (Jet 3 and "
                                     "Jet 4) files are supported");
    const Format::HeaderLayout& l = format->header;
    toggleMask(*format, page);
    h.codePage = le16(page + l.codePage);
    h.databaseKey = le32(page + l.databaseKey);
    h.sortOrder = l.sortOrderSize == 4 ? le32(page + l.sortOrder) : le16(page + l.sortOrder);
    if (l.creationDate != kAbsent) h.creationDate = DateTime{leDouble(page + l.creationDate)};
    if (h.databaseKey != 0)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is encrypted (its pages are RC4-encoded with a database key); "
                                     "decrypt it in Access first");
    // Jet 4 masks the password with the creation date: with no password the
    // stored bytes are the mask itself. Jet 3 stores it as it is.
    uint8_t mask[4] = {};
    if (l.creationDate != kAbsent) {
        double created = h.creationDate.days;
        int32_t maskValue = std::isfinite(created) && std::fabs(created) < 2e9 ? int32_t(created) : 0;
        put32(mask, uint32_t(maskValue));
    }
    for (size_t i = 0; i < l.passwordLength; ++i) {
        if ((page[l.password + i] ^ mask[i % 4]) != 0) {
            h.hasPassword = true;
            break;
        }
    }
    if (h.hasPassword)
        throw UnsupportedFormatError("'" + fileName +
                                     "' is protected by a database password; remove the password in Access first");
    return h;
}

std::array<uint8_t, kMaxPageSize> HeaderPage::build(const Format& format, DateTime created, uint16_t codePage,
                                                    uint32_t sortOrder)
{
    const Format::HeaderLayout& l = format.header;
    std::array<uint8_t, kMaxPageSize> page{};
    page[0] = 0x00;
    page[1] = 0x01;
    std::memcpy(page.data() + 4, kJetMagic, 16);
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
        put32(mask, uint32_t(int32_t(created.days)));
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
