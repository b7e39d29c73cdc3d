#include "base/AccessDate.h"

#include "base/NameCase.h"

#include <cctype>

namespace base {

namespace {

struct Reader {
    std::string_view s;
    size_t i = 0;

    void skipSpaces()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    }
    bool atEnd() const { return i >= s.size(); }
    char peek() const { return i < s.size() ? s[i] : '\0'; }
    // Up to 4 digits; -1 when there is none.
    int number(int& digits)
    {
        int v = 0;
        digits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < 5) {
            v = v * 10 + (s[i] - '0');
            ++i;
            ++digits;
        }
        return digits == 0 || digits > 4 ? -1 : v;
    }
    bool word(std::string_view w)
    {
        if (s.size() - i < w.size() || !NameCase::equalUtf8(s.substr(i, w.size()), w)) return false;
        i += w.size();
        return true;
    }
};

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

int fullYear(int year, int digits)
{
    if (digits <= 2) return year < 30 ? 2000 + year : 1900 + year;
    return year;
}

// "H:MM[:SS] [AM|PM]" at the reader's position, through to the end.
bool readTime(Reader& r, AccessDate::Fields& c)
{
    int digits = 0;
    int hour = r.number(digits);
    if (hour < 0 || digits > 2 || r.peek() != ':') return false;
    ++r.i;
    int minute = r.number(digits);
    if (minute < 0 || digits != 2) return false;
    int second = 0;
    if (r.peek() == ':') {
        ++r.i;
        second = r.number(digits);
        if (second < 0 || digits != 2) return false;
    }
    r.skipSpaces();
    if (r.word("am") || r.word("a.m.")) {
        if (hour < 1 || hour > 12) return false;
        if (hour == 12) hour = 0;
    } else if (r.word("pm") || r.word("p.m.")) {
        if (hour < 1 || hour > 12) return false;
        if (hour != 12) hour += 12;
    }
    r.skipSpaces();
    if (!r.atEnd() || hour > 23 || minute > 59 || second > 59) return false;
    c.hour = hour;
    c.minute = minute;
    c.second = second;
    return true;
}

} // namespace

std::optional<AccessDate::Fields> AccessDate::parse(std::string_view text)
{
    Reader r{text};
    r.skipSpaces();
    AccessDate::Fields c;
    size_t start = r.i;
    int digits1 = 0;
    int first = r.number(digits1);
    if (first < 0) return std::nullopt;
    if (r.peek() == ':') {
        // A time alone.
        r.i = start;
        if (!readTime(r, c)) return std::nullopt;
        return c;
    }
    char sep = r.peek();
    if (sep != '-' && sep != '/') return std::nullopt;
    ++r.i;
    int digits2 = 0;
    int second = r.number(digits2);
    if (second < 0 || r.peek() != sep) return std::nullopt;
    ++r.i;
    int digits3 = 0;
    int third = r.number(digits3);
    if (third < 0) return std::nullopt;
    int year, month, day;
    if (digits1 > 2) {
        year = first, month = second, day = third;
        if (digits2 > 2 || digits3 > 2) return std::nullopt;
    } else {
        // Month first, as Jet reads dates in SQL whatever the locale.
        month = first, day = second, year = fullYear(third, digits3);
        if (digits2 > 2 || digits3 == 3) return std::nullopt;
    }
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return std::nullopt;
    c.year = year;
    c.month = month;
    c.day = day;
    r.skipSpaces();
    if (!r.atEnd() && !readTime(r, c)) return std::nullopt;
    return c;
}

} // namespace base
