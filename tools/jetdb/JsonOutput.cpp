#include "JsonOutput.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace jetdb {

void appendJsonString(std::string& out, std::string_view s)
{
    out += '"';
    size_t plain = 0; // start of the run of characters that need no escape
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s, plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default: {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        }
        }
    }
    out.append(s, plain, s.size() - plain);
    out += '"';
}

std::string jsonString(const std::string& s)
{
    std::string out;
    out.reserve(s.size() + 2);
    appendJsonString(out, s);
    return out;
}

static std::string number(double d)
{
    if (!std::isfinite(d)) return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    // Prefer the shortest text that reads back as the same double.
    for (int prec = 6; prec < 17; ++prec) {
        char shorter[40];
        std::snprintf(shorter, sizeof shorter, "%.*g", prec, d);
        if (std::strtod(shorter, nullptr) == d) return shorter;
    }
    return buf;
}

static std::string base64(const jet::Bytes& b);

// Binary, OLE and unknown-type values as mdb-json prints them: base64 in a
// $binary object (raw bytes in a JSON string would not be UTF-8).
static std::string binaryJson(const jet::Bytes& b) { return "{\"$binary\": \"" + base64(b) + "\", \"$type\": \"00\"}"; }

static std::string valueToJson(const jet::Value& v)
{
    struct Visitor {
        std::string operator()(std::monostate) const { return "null"; }
        std::string operator()(bool b) const { return b ? "1" : "0"; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return number(d); }
        std::string operator()(const jet::Currency& c) const { return jet::currencyToString(c); }
        std::string operator()(const jet::DateTime& d) const { return jsonString(jet::formatIsoDateTime(d)); }
        std::string operator()(const std::u16string& s) const { return jsonString(jet::toUtf8(s)); }
        std::string operator()(const jet::Bytes& b) const { return binaryJson(b); }
        std::string operator()(const jet::Guid& g) const { return jsonString(jet::guidToString(g)); }
        std::string operator()(const jet::Decimal& d) const { return jet::decimalToString(d); }
    };
    return std::visit(Visitor{}, v);
}

static std::string base64(const jet::Bytes& b)
{
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < b.size(); i += 3) {
        uint32_t n = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? uint32_t(b[i + 1]) << 8 : 0) |
                     (i + 2 < b.size() ? uint32_t(b[i + 2]) : 0);
        out += abc[(n >> 18) & 63];
        out += abc[(n >> 12) & 63];
        out += i + 1 < b.size() ? abc[(n >> 6) & 63] : '=';
        out += i + 2 < b.size() ? abc[n & 63] : '=';
    }
    return out;
}

void appendRowJson(std::string& out, const std::vector<std::string>& keys, const jet::RowView& row, RowJsonScratch& scratch,
                   const std::vector<const ComplexJson*>* complex)
{
    out += '{';
    bool first = true;
    for (size_t c = 0; c < keys.size() && c < row.columnCount(); ++c) {
        const jet::ColumnType type = row.type(c);
        if (type != jet::ColumnType::Boolean && row.isNull(c)) continue;
        if (!first) out += ',';
        first = false;
        out += keys[c];
        if (type == jet::ColumnType::Complex && complex && c < complex->size() && (*complex)[c]) {
            const ComplexJson& values = *(*complex)[c];
            out += '[';
            auto it = values.values.find(row.integer(c));
            if (it != values.values.end())
                for (size_t k = 0; k < it->second.size(); ++k) out += (k ? "," : "") + rowToJson(values.names, it->second[k]);
            out += ']';
            continue;
        }
        switch (type) {
        case jet::ColumnType::Boolean: out += row.boolean(c) ? '1' : '0'; continue;
        case jet::ColumnType::Byte:
        case jet::ColumnType::Integer:
        case jet::ColumnType::Long: {
            char digits[24];
            auto end = std::to_chars(digits, digits + sizeof digits, row.integer(c)).ptr;
            out.append(digits, size_t(end - digits));
            continue;
        }
        case jet::ColumnType::DateTime:
            out += '"';
            out += jet::formatIsoDateTime(jet::DateTime{row.real(c)});
            out += '"';
            continue;
        case jet::ColumnType::Text: {
            const uint8_t* bytes;
            size_t size;
            if (row.textBytes(c, bytes, size)) {
                scratch.text.resize(size);
                scratch.text.resize(row.textCoding().decodeTo(bytes, size, scratch.text.data()));
                scratch.utf8.clear();
                jet::appendUtf8(scratch.utf8, scratch.text);
                appendJsonString(out, scratch.utf8);
                continue;
            }
            break;
        }
        default: break;
        }
        out += valueToJson(row.value(c));
    }
    out += '}';
}

std::string rowToJson(const std::vector<std::string>& names, const std::vector<jet::Value>& values)
{
    std::string out = "{";
    bool first = true;
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
        if (jet::isNull(values[i])) continue;
        if (!first) out += ",";
        first = false;
        out += jsonString(names[i]) + ":" + valueToJson(values[i]);
    }
    return out + "}";
}

} // namespace jetdb
