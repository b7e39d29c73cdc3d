#include "jet/RowView.h"

#include "jet/ByteOrder.h"
#include "jet/CalculatedValue.h"
#include "jet/ExtendedDateTime.h"
#include "jet/JetError.h"
#include "jet/LongValue.h"
#include "jet/RowCodec.h"
#include "jet/TextCodec.h"

namespace jet {

void RowView::damaged(const std::string& what) const
{
    throw JetError(where_.str() + ": " + what);
}

void RowView::pastTheEnd(const ColumnDef& c) const
{
    damaged("column '" + c.utf8Name + "' lies past the end of the row");
}

void RowView::damagedOffsets(const ColumnDef& c, size_t start, size_t end) const
{
    damaged("column '" + c.utf8Name + "' has damaged offsets (" + std::to_string(start) + ".." + std::to_string(end) +
            ")");
}

int64_t RowView::otherInteger(const ColumnDef& c) const
{
    if (c.type != ColumnType::Byte && c.type != ColumnType::Integer && c.type != ColumnType::Long &&
        c.type != ColumnType::BigInt && c.type != ColumnType::Complex)
        throw JetError(where_.str() + ": column '" + c.utf8Name + "' is not a whole number");
    Value v;
    decodeInto(size_t(&c - def_.columns.data()), v);
    return std::get<int64_t>(v);
}

double RowView::otherReal(const ColumnDef& c) const
{
    if (c.type != ColumnType::Single && c.type != ColumnType::Double && c.type != ColumnType::DateTime)
        throw JetError(where_.str() + ": column '" + c.utf8Name + "' is not a real number or date");
    Value v;
    decodeInto(size_t(&c - def_.columns.data()), v);
    if (auto d = std::get_if<DateTime>(&v)) return d->days;
    return std::get<double>(v);
}

bool RowView::textBytes(size_t column, const uint8_t*& data, size_t& size) const
{
    const ColumnDef& c = def_.columns[column];
    if (c.type != ColumnType::Text) throw JetError(where_.str() + ": column '" + c.utf8Name + "' is not text");
    if (!columnBytes(c, data, size)) return false;
    if (c.isCalculated()) CalculatedValue::unwrap(data, size);
    return true;
}

bool RowView::calculatedBoolean(const ColumnDef& c) const
{
    Value v;
    decodeCalculated(c, v);
    const bool* b = std::get_if<bool>(&v);
    return b && *b;
}

bool RowView::calculatedIsNull(const ColumnDef& c) const
{
    Value v;
    decodeCalculated(c, v);
    return jet::isNull(v);
}

void RowView::decodeCalculated(const ColumnDef& c, Value& v) const
{
    Span s{};
    if (!present(c.number) || !variableBytes(c, s)) {
        v = c.type == ColumnType::Boolean ? Value{false} : Value{};
        return;
    }
    const std::string where = where_.str();
    if (c.type == ColumnType::Memo) {
        Bytes wrapped = LongValue::read(pager_, s.data, s.size, where + ", column '" + c.utf8Name + "'");
        const uint8_t* data = wrapped.data();
        size_t size = wrapped.size();
        CalculatedValue::unwrap(data, size);
        v = CalculatedValue::decode(def_, c, data, size, where);
        return;
    }
    CalculatedValue::unwrap(s.data, s.size);
    v = CalculatedValue::decode(def_, c, s.data, s.size, where);
}

Value RowView::value(size_t column) const
{
    Value v;
    decodeInto(column, v);
    return v;
}

void RowView::decode(std::vector<Value>& out, const std::vector<bool>* wanted) const
{
    out.resize(def_.columns.size());
    for (size_t i = 0; i < def_.columns.size(); ++i) {
        if (wanted && !(*wanted)[i]) {
            if (!std::holds_alternative<std::monostate>(out[i])) out[i] = std::monostate{};
            continue;
        }
        decodeInto(i, out[i]);
    }
}

bool RowView::columnBytes(const ColumnDef& c, const uint8_t*& data, size_t& size) const
{
    if ((c.type == ColumnType::Boolean && !c.isCalculated()) || !present(c.number)) return false;
    if (c.isFixed()) {
        size = def_.fixedWidth(c);
        data = fixedBytes(c, size);
        return true;
    }
    Span s{};
    if (!variableBytes(c, s)) return false;
    data = s.data;
    size = s.size;
    return true;
}

void RowView::decodeColumns(std::vector<Value>& out, const std::vector<size_t>& columns) const
{
    out.resize(def_.columns.size());
    for (size_t column : columns) decodeInto(column, out[column]);
}

void RowView::decodeInto(size_t column, Value& v) const
{
    const ColumnDef& c = def_.columns[column];
    auto setNull = [&v]() {
        if (!std::holds_alternative<std::monostate>(v)) v = std::monostate{};
    };
    if (c.isCalculated()) {
        decodeCalculated(c, v);
        return;
    }
    if (c.type == ColumnType::Boolean) {
        v = present(c.number);
        return;
    }
    if (!present(c.number)) {
        setNull();
        return;
    }
    if (c.isFixed()) {
        const uint8_t* p = fixedBytes(c, def_.fixedWidth(c));
        // The common types go straight into the value, without a temporary.
        switch (c.type) {
        case ColumnType::Byte: v.emplace<int64_t>(p[0]); break;
        case ColumnType::Integer: v.emplace<int64_t>(int16_t(le16(p))); break;
        case ColumnType::Long: v.emplace<int64_t>(int32_t(le32(p))); break;
        case ColumnType::Double: v.emplace<double>(leDouble(p)); break;
        case ColumnType::DateTime: v.emplace<DateTime>(DateTime{leDouble(p)}); break;
        case ColumnType::ExtDateTime: v = ExtendedDateTime::text(p, where_.str() + ", column '" + c.utf8Name + "'"); break;
        default: v = RowCodec::decodeFixed(def_, c, p);
        }
        return;
    }
    Span s{};
    if (!variableBytes(c, s)) {
        setNull();
        return;
    }
    switch (c.type) {
    case ColumnType::Text: {
        auto* text = std::get_if<std::u16string>(&v);
        if (!text) text = &v.emplace<std::u16string>();
        def_.text->decodeInto(s.data, s.size, *text);
        break;
    }
    case ColumnType::Memo: {
        Bytes b = LongValue::read(pager_, s.data, s.size, where_.str() + ", column '" + c.utf8Name + "'");
        v = def_.text->decode(b.data(), b.size());
        break;
    }
    case ColumnType::OLE: v = LongValue::read(pager_, s.data, s.size, where_.str() + ", column '" + c.utf8Name + "'"); break;
    case ColumnType::Binary: v = Bytes(s.data, s.data + s.size); break;
    default:
        if (!isKnownColumnType(c.type)) {
            v = Bytes(s.data, s.data + s.size);
            break;
        }
        // A fixed type stored in the variable area (seen with replication columns).
        if (s.size >= def_.fixedWidth(c))
            v = RowCodec::decodeFixed(def_, c, s.data);
        else
            damaged("column '" + c.utf8Name + "' is shorter than its type");
    }
}

} // namespace jet
