#include "CsvExport.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace jetdb {

std::string CsvExport::header(const jet::TableDef& table) const
{
    std::string out;
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (i) out += delimiter;
        out += table.columns[i].utf8Name;
    }
    return out;
}

void CsvExport::appendQuoted(std::string& out, const char* bytes, size_t size) const
{
    out += quote;
    if (quote.empty()) {
        out.append(bytes, size);
        return;
    }
    std::string_view rest(bytes, size);
    for (size_t at; (at = rest.find(quote)) != std::string_view::npos;) {
        out.append(rest.substr(0, at));
        out += quote;
        out += quote;
        rest.remove_prefix(at + quote.size());
    }
    out.append(rest);
    out += quote;
}

std::string CsvExport::formatDate(jet::DateTime date) const
{
    if (!std::isfinite(date.days) || std::fabs(date.days) > 3e6) return std::string();
    // The day is the whole part (towards zero), the fraction the time of
    // day, rounded to the second; a time that rounds up to midnight is the
    // next day's.
    double whole = std::trunc(date.days);
    long long seconds = std::llround(std::floor(std::fabs(date.days - whole) * 86400.0 + 0.5));
    if (seconds >= 86400) {
        seconds -= 86400;
        whole += 1;
    }
    const jet::CivilTime day = jet::toCivil(jet::DateTime{whole});
    std::tm t{};
    t.tm_year = day.year - 1900;
    t.tm_mon = day.month - 1;
    t.tm_mday = day.day;
    t.tm_hour = int(seconds / 3600);
    t.tm_min = int(seconds / 60 % 60);
    t.tm_sec = int(seconds % 60);
    // 1899-12-30 was a Saturday.
    t.tm_wday = int(((int64_t(whole) % 7 + 7) % 7 + 6) % 7);
    static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (day.year % 4 == 0 && day.year % 100 != 0) || day.year % 400 == 0;
    t.tm_yday = before[day.month - 1] + day.day - 1 + (leap && day.month > 2 ? 1 : 0);
    t.tm_isdst = -1;
    char text[512];
    const size_t size = std::strftime(text, sizeof text, dateFormat.c_str(), &t);
    return std::string(text, size);
}

void CsvExport::appendField(std::string& out, jet::ColumnType type, const jet::Value& value) const
{
    using jet::ColumnType;
    if (jet::isNull(value)) return;
    char buf[64];
    if (auto b = std::get_if<bool>(&value)) {
        out += *b ? '1' : '0';
    } else if (auto n = std::get_if<int64_t>(&value)) {
        out += std::to_string(*n);
    } else if (auto d = std::get_if<double>(&value)) {
        std::snprintf(buf, sizeof buf, type == ColumnType::Single ? "%.8g" : "%.16g", *d);
        out += buf;
    } else if (auto c = std::get_if<jet::Currency>(&value)) {
        const uint64_t magnitude = c->units < 0 ? uint64_t(0) - uint64_t(c->units) : uint64_t(c->units);
        std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%04u", c->units < 0 ? "-" : "", magnitude / 10000,
                      unsigned(magnitude % 10000));
        out += buf;
    } else if (auto date = std::get_if<jet::DateTime>(&value)) {
        const std::string text = formatDate(*date);
        appendQuoted(out, text.data(), text.size());
    } else if (auto s = std::get_if<std::u16string>(&value)) {
        if (s->empty()) return;
        const std::string text = jet::toUtf8(*s);
        appendQuoted(out, text.data(), text.size());
    } else if (auto bytes = std::get_if<jet::Bytes>(&value)) {
        if (bytes->empty()) return;
        appendQuoted(out, reinterpret_cast<const char*>(bytes->data()), bytes->size());
    } else if (auto g = std::get_if<jet::Guid>(&value)) {
        // The first three groups are stored little-endian, the rest in order.
        const auto& b = g->bytes;
        std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X%02X%02X}", b[3],
                      b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
        appendQuoted(out, buf, std::strlen(buf));
    } else if (auto decimal = std::get_if<jet::Decimal>(&value)) {
        out += jet::decimalToString(*decimal);
    }
}

} // namespace jetdb
