#include "jet/Table.h"

#include "jet/ByteOrder.h"
#include "jet/DataPage.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "jet/Pager.h"
#include "jet/RowCodec.h"
#include "jet/RowView.h"
#include "jet/UsageMap.h"

namespace jet {

Table::Table(Database& db, TableDef def) : db_(db), def_(std::move(def))
{
    where_ = "'" + db_.path() + "', table '" + def_.name + "'";
}

std::vector<uint32_t> Table::mapPages()
{
    Pager& pager = db_.pager();
    std::vector<uint32_t> pages = UsageMap::read(pager, def_.usedPagesPointer, where()).pages();
    for (uint32_t p : pages)
        if (p >= pager.pageCount())
            throw JetError(where() + ": its usage map names page " + std::to_string(p) + ", past the end of the file");
    return pages;
}

std::vector<uint32_t> Table::dataPages()
{
    Pager& pager = db_.pager();
    UsageMap map = UsageMap::read(pager, def_.usedPagesPointer, where());
    std::vector<uint32_t> out;
    for (uint32_t p : map.pages()) {
        if (p >= pager.pageCount())
            throw JetError(where() + ": its usage map names page " + std::to_string(p) + ", past the end of the file");
        PageRef page = pager.read(p);
        if (page->data[0] == DataPage::kType && le32(page->data + DataPage::kOwnerOffset) == def_.firstPage)
            out.push_back(p);
    }
    return out;
}

std::optional<Table::RowBytes> Table::rowBytes(RowLocator at)
{
    Pager& pager = db_.pager();
    if (at.page == 0 || at.page >= pager.pageCount()) return std::nullopt;
    PageRef page = pager.read(at.page);
    if (page->data[0] != DataPage::kType || le32(page->data + DataPage::kOwnerOffset) != def_.firstPage)
        return std::nullopt;
    if (at.row >= DataPage::rowCount(page->data)) return std::nullopt;
    DataPage::Slot s = DataPage::slot(page->data, at.row, at.page, pager.path());
    if (s.deleted() || s.overflowRow()) return std::nullopt;
    if (s.overflowPointer()) {
        if (s.size() < 4)
            throw JetError(where() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           ": the overflow pointer is cut short");
        uint32_t target = le32(page->data + s.start);
        uint32_t tp = DataPage::pointerPage(target);
        unsigned tr = DataPage::pointerRow(target);
        if (tp == 0 || tp >= pager.pageCount())
            throw JetError(where() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           " points to page " + std::to_string(tp) + ", which does not exist");
        PageRef tpage = pager.read(tp);
        DataPage::Slot ts = DataPage::slot(tpage->data, tr, tp, pager.path());
        if (le32(tpage->data + DataPage::kOwnerOffset) != def_.firstPage || !ts.overflowRow())
            throw JetError(where() + ": page " + std::to_string(at.page) + ", row " + std::to_string(at.row) +
                           " points to a row that is not its overflow row (page " + std::to_string(tp) + ")");
        return RowBytes{tpage, tp, tpage->data + ts.start, ts.size()};
    }
    return RowBytes{page, at.page, page->data + s.start, s.size()};
}

void Table::scanViews(const RowViewVisitor& visit)
{
    Pager& pager = db_.pager();
    ReadScope scope(pager);
    // The pages are read once: the owner check happens here rather than in
    // dataPages(), which would read every page an extra time.
    for (uint32_t p : mapPages()) {
        PageRef page = pager.read(p);
        if (page->data[0] != DataPage::kType || le32(page->data + DataPage::kOwnerOffset) != def_.firstPage) continue;
        unsigned count = DataPage::rowCount(page->data);
        for (unsigned r = 0; r < count; ++r) {
            DataPage::Slot s = DataPage::slot(page->data, r, p, pager.path());
            if (s.deleted() || s.overflowRow()) continue;
            RowLocator at{p, uint8_t(r)};
            if (s.overflowPointer()) {
                auto rb = rowBytes(at);
                if (!rb) continue;
                if (!visit(at, RowView(def_, rb->data, rb->size, pager, RowPlace{&where_, rb->pageNumber, -1})))
                    return;
            } else if (!visit(at, RowView(def_, page->data + s.start, s.size(), pager, RowPlace{&where_, p, int(r)}))) {
                return;
            }
        }
    }
}

void Table::scan(const RowVisitor& visit, const std::vector<bool>* wanted)
{
    std::vector<Value> values;
    scanViews([&](RowLocator at, const RowView& row) {
        row.decode(values, wanted);
        return visit(at, values);
    });
}

std::optional<std::vector<Value>> Table::read(RowLocator at)
{
    ReadScope scope(db_.pager());
    auto rb = rowBytes(at);
    if (!rb) return std::nullopt;
    std::vector<Value> values;
    RowCodec::decode(def_, rb->data, rb->size, db_.pager(), RowPlace{&where_, rb->pageNumber, at.row}, values);
    return values;
}

} // namespace jet
