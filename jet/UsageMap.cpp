#include "jet/UsageMap.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/JetError.h"
#include "jet/Pager.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {
constexpr uint8_t kMapPageType = 0x05;
} // namespace

UsageMap UsageMap::read(Pager& pager, uint32_t rowPointer, const std::string& where)
{
    return read(pager, rowPointer, where, false);
}

UsageMap UsageMap::readFreePages(Pager& pager, const std::string& where)
{
    return read(pager, kFreePages, where, true);
}

UsageMap UsageMap::read(Pager& pager, uint32_t rowPointer, const std::string& where, bool slotsMayPassEnd)
{
    UsageMap m;
    m.rowPointer_ = rowPointer;
    m.where_ = where;
    m.pagesPerMapPage_ = pager.format().pagesPerMapPage();
    uint32_t pageNo = DataPage::pointerPage(rowPointer);
    unsigned row = DataPage::pointerRow(rowPointer);
    PageRef page = pager.read(pageNo);
    DataPage::Slot s = DataPage::slot(pager.format(), page->data, row, pageNo, pager.path());
    if (s.deleted() || s.size() < 1)
        throw JetError(where + ": its page usage map (page " + std::to_string(pageNo) + ", row " +
                       std::to_string(row) + ") is missing");
    const uint8_t* p = page->data + s.start;
    m.rowSize_ = s.size();
    m.type_ = p[0];
    if (m.type_ == 0) {
        if (s.size() < 5) throw JetError(where + ": its page usage map is cut short");
        m.startPage_ = le32(p + 1);
        m.bitmap_.assign(p + 5, p + s.size());
    } else if (m.type_ == 1) {
        for (size_t o = 1; o + 4 <= s.size(); o += 4) {
            uint32_t mp = le32(p + o);
            if (mp >= pager.pageCount() && slotsMayPassEnd) {
                m.slotsPastEnd_.push_back(Slot{m.mapPages_.size(), mp});
                mp = 0;
            }
            if (mp != 0) {
                if (mp >= pager.pageCount())
                    throw JetError(where + ": its page usage map names map page " + std::to_string(mp) +
                                   ", past the end of the file");
                PageRef mpage = pager.read(mp);
                if (mpage->data[0] != kMapPageType)
                    throw JetError(where + ": page " + std::to_string(mp) + " should be a usage map page but has type " +
                                   std::to_string(mpage->data[0]));
                m.mapBits_.emplace_back(mpage->data + pager.format().mapPageBitmap, mpage->data + pager.pageSize());
            } else {
                m.mapBits_.emplace_back();
            }
            m.mapPages_.push_back(mp);
        }
    } else {
        throw JetError(where + ": its page usage map (page " + std::to_string(pageNo) + ") has unknown type " +
                       std::to_string(m.type_));
    }
    return m;
}

uint32_t UsageMap::appendInline(Pager& pager, uint32_t pageNumber, const std::vector<uint32_t>& pages)
{
    Bytes row(kInlineRowSize, 0);
    row[0] = 0x00;
    put32(row.data() + 1, 0); // the bitmap starts at page 0
    for (uint32_t p : pages) {
        if (p >= (kInlineRowSize - 5) * 8)
            throw JetError("internal error: a new usage map cannot name page " + std::to_string(p));
        row[5 + p / 8] |= uint8_t(1 << (p % 8));
    }
    unsigned slot = DataPage::append(pager.format(), pager.modify(pageNumber), row.data(), row.size(), 0);
    return DataPage::makeRowPointer(pageNumber, slot);
}

std::vector<uint32_t> UsageMap::pages() const
{
    std::vector<uint32_t> out;
    auto collect = [&out](const std::vector<uint8_t>& bits, uint32_t first) {
        for (size_t i = 0; i < bits.size(); ++i) {
            if (!bits[i]) continue;
            for (int b = 0; b < 8; ++b)
                if (bits[i] & (1 << b)) out.push_back(first + uint32_t(i * 8 + b));
        }
    };
    if (type_ == 0) {
        collect(bitmap_, startPage_);
    } else {
        for (size_t k = 0; k < mapBits_.size(); ++k) collect(mapBits_[k], uint32_t(k * pagesPerMapPage_));
    }
    return out;
}

bool UsageMap::contains(uint32_t page) const
{
    if (type_ != 0) {
        size_t k = page / pagesPerMapPage_;
        uint32_t bit = page % pagesPerMapPage_;
        return k < mapBits_.size() && bit / 8 < mapBits_[k].size() && (mapBits_[k][bit / 8] & (1 << (bit % 8)));
    }
    if (page < startPage_) return false;
    uint32_t bit = page - startPage_;
    if (bit / 8 >= bitmap_.size()) return false;
    return bitmap_[bit / 8] & (1 << (bit % 8));
}

void UsageMap::writeInline(Pager& pager)
{
    uint32_t pageNo = DataPage::pointerPage(rowPointer_);
    uint8_t* page = pager.modify(pageNo);
    DataPage::Slot s = DataPage::slot(pager.format(), page, DataPage::pointerRow(rowPointer_), pageNo, pager.path());
    uint8_t* p = page + s.start;
    p[0] = 0;
    put32(p + 1, startPage_);
    std::memcpy(p + 5, bitmap_.data(), bitmap_.size());
}

void UsageMap::add(Pager& pager, uint32_t page)
{
    if (type_ == 1) {
        setBitInMapPages(pager, page, true);
        return;
    }
    uint32_t capacity = uint32_t(bitmap_.size() * 8);
    if (page >= startPage_ && page - startPage_ < capacity) {
        uint32_t bit = page - startPage_;
        bitmap_[bit / 8] |= uint8_t(1 << (bit % 8));
        writeInline(pager);
        return;
    }
    // Move the window when every page, old and new, still fits into it.
    std::vector<uint32_t> all = pages();
    all.push_back(page);
    auto [lo, hi] = std::minmax_element(all.begin(), all.end());
    uint32_t start = *lo - (*lo % 8);
    if (*hi - start < capacity) {
        std::fill(bitmap_.begin(), bitmap_.end(), 0);
        startPage_ = start;
        for (uint32_t p : all) bitmap_[(p - start) / 8] |= uint8_t(1 << ((p - start) % 8));
        writeInline(pager);
        return;
    }
    convertToPageBitmap(pager);
    setBitInMapPages(pager, page, true);
}

void UsageMap::remove(Pager& pager, uint32_t page)
{
    if (type_ == 1) {
        setBitInMapPages(pager, page, false);
        return;
    }
    if (!contains(page)) return;
    uint32_t bit = page - startPage_;
    bitmap_[bit / 8] &= uint8_t(~(1 << (bit % 8)));
    writeInline(pager);
}

void UsageMap::convertToPageBitmap(Pager& pager)
{
    std::vector<uint32_t> existing = pages();
    type_ = 1;
    mapPages_.assign((rowSize_ - 1) / 4, 0);
    mapBits_.assign(mapPages_.size(), {});
    uint32_t pageNo = DataPage::pointerPage(rowPointer_);
    uint8_t* page = pager.modify(pageNo);
    DataPage::Slot s = DataPage::slot(pager.format(), page, DataPage::pointerRow(rowPointer_), pageNo, pager.path());
    std::memset(page + s.start, 0, s.size());
    page[s.start] = 1;
    for (uint32_t p : existing) setBitInMapPages(pager, p, true);
}

void UsageMap::setBitInMapPages(Pager& pager, uint32_t page, bool on)
{
    size_t index = page / pagesPerMapPage_;
    if (index >= mapPages_.size()) throw JetError(where_ + ": page " + std::to_string(page) + " is beyond what its usage map can hold");
    if (mapPages_[index] == 0) {
        if (!on) return;
        uint32_t mp = pager.allocate();
        uint8_t* m = pager.modify(mp);
        m[0] = kMapPageType;
        m[1] = 0x01;
        mapPages_[index] = mp;
        mapBits_[index].assign(pager.pageSize() - pager.format().mapPageBitmap, 0);
        uint32_t pageNo = DataPage::pointerPage(rowPointer_);
        uint8_t* rowPage = pager.modify(pageNo);
        DataPage::Slot s = DataPage::slot(pager.format(), rowPage, DataPage::pointerRow(rowPointer_), pageNo, pager.path());
        put32(rowPage + s.start + 1 + index * 4, mp);
    }
    uint8_t* m = pager.modify(mapPages_[index]);
    uint32_t bit = page % pagesPerMapPage_;
    uint8_t& byte = m[pager.format().mapPageBitmap + bit / 8];
    if (on)
        byte |= uint8_t(1 << (bit % 8));
    else
        byte &= uint8_t(~(1 << (bit % 8)));
    mapBits_[index][bit / 8] = byte;
}

} // namespace jet
