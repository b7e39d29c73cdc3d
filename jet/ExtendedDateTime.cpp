#include "jet/ExtendedDateTime.h"

#include "jet/JetError.h"

#include <cstdio>
#include <cstring>

namespace jet {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const int64_t kFirstDay = daysFromCivil(1, 1, 1);
const int64_t kLastDay = daysFromCivil(9999, 12, 31);

bool digits(const uint8_t* p, size_t n, uint64_t& value)
{
    value = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

void putDigits(uint8_t* p, size_t n, uint64_t value)
{
    for (size_t i = n; i-- > 0; value /= 10) p[i] = uint8_t('0' + value % 10);
}

std::u16string ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

// A run of exactly `n` decimal digits of `text` from `at`.
bool number(std::u16string_view text, size_t& at, size_t n, unsigned& value)
{
    value = 0;
    for (size_t i = 0; i < n; ++i, ++at) {
        if (at >= text.size() || text[at] < u'0' || text[at] > u'9') return false;
        value = value * 10 + unsigned(text[at] - u'0');
    }
    return true;
}

} // namespace

std::u16string ExtendedDateTime::text(const uint8_t* s, const std::string& where)
{
    uint64_t days = 0, seconds = 0, ticks = 0;
    if (!digits(s, 19, days) || s[19] != ':' || !digits(s + 20, 12, seconds) || !digits(s + 32, 7, ticks) ||
        s[39] != ':' || days > uint64_t(kLastDay - kFirstDay) || seconds >= 86400)
        throw JetError(where + ": an extended date/time value is damaged (not 'days:seconds' in digits)");
    int64_t year;
    unsigned month, day;
    civilFromDays(kFirstDay + int64_t(days), year, month, day);
    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u %02u:%02u:%02u.%07u", int(year), month, day, unsigned(seconds / 3600),
                  unsigned(seconds / 60 % 60), unsigned(seconds % 60), unsigned(ticks));
    return ascii(out);
}

bool ExtendedDateTime::encode(std::u16string_view text, uint8_t* stored)
{
    size_t at = 0;
    unsigned year, month, day, hour = 0, minute = 0, second = 0, ticks = 0;
    if (!number(text, at, 4, year) || at >= text.size() || text[at++] != u'-' || !number(text, at, 2, month) ||
        at >= text.size() || text[at++] != u'-' || !number(text, at, 2, day))
        return false;
    if (at < text.size()) {
        if ((text[at] != u' ' && text[at] != u'T') || !number(text, ++at, 2, hour) || at >= text.size() ||
            text[at++] != u':' || !number(text, at, 2, minute) || at >= text.size() || text[at++] != u':' ||
            !number(text, at, 2, second))
            return false;
        if (at < text.size()) {
            if (text[at++] != u'.' || at == text.size() || text.size() - at > 7) return false;
            size_t fractionDigits = text.size() - at;
            if (!number(text, at, fractionDigits, ticks)) return false;
            for (; fractionDigits < 7; ++fractionDigits) ticks *= 10;
        }
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
    int64_t y;
    unsigned m, d;
    const int64_t days = daysFromCivil(year, month, day);
    civilFromDays(days, y, m, d);
    if (m != month || d != day) return false; // 2023-02-30
    putDigits(stored, 19, uint64_t(days - kFirstDay));
    stored[19] = ':';
    putDigits(stored + 20, 12, hour * 3600u + minute * 60u + second);
    putDigits(stored + 32, 7, ticks);
    stored[39] = ':';
    stored[40] = '7';
    stored[41] = 0;
    return true;
}

std::u16string ExtendedDateTime::fromDateTime(DateTime value)
{
    CivilTime c = toCivil(value);
    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d.%07d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second, c.millisecond * 10000);
    return ascii(out);
}

} // namespace jet
