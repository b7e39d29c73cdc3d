#include "jet/DefaultValue.h"

#include "jet/JetError.h"

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace jet {

namespace {
std::string trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}
} // namespace

DateTime currentDateTime()
{
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now); // standard C; the engine writes from one thread
    CivilTime c;
    c.year = local.tm_year + 1900;
    c.month = local.tm_mon + 1;
    c.day = local.tm_mday;
    c.hour = local.tm_hour;
    c.minute = local.tm_min;
    c.second = std::min(local.tm_sec, 59);
    return fromCivil(c);
}

Value evaluateDefault(const std::u16string& expression, const ColumnDef& column, const std::string& where)
{
    std::string text = trim(toUtf8(expression));
    if (!text.empty() && text[0] == '=') text = trim(text.substr(1));
    std::string l = lower(text);
    auto refuse = [&]() {
        return JetError(where + ": column '" + column.utf8Name + "' has the default value " + text +
                        ", which this program cannot compute; give the column a value");
    };
    if (l.empty() || l == "null") return Value{};
    if (l == "now()") return currentDateTime();
    if (l == "date()") {
        DateTime now = currentDateTime();
        return DateTime{std::floor(now.days)};
    }
    if (l == "true" || l == "yes" || l == "on") return column.type == ColumnType::Boolean ? Value{true} : Value{int64_t(-1)};
    if (l == "false" || l == "no" || l == "off") return column.type == ColumnType::Boolean ? Value{false} : Value{int64_t(0)};
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
        std::string inner;
        char q = text[0];
        for (size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == q && i + 2 < text.size() && text[i + 1] == q) ++i;
            inner += text[i];
        }
        return fromUtf8(inner);
    }
    if (text.size() >= 2 && text[0] == '#' && text.back() == '#') {
        const std::optional<DateTime> date = fromAccessDateText(std::string_view(text).substr(1, text.size() - 2));
        if (!date) throw refuse();
        return *date;
    }
    // A number.
    char* end = nullptr;
    if (text.find_first_of(".eE") == std::string::npos) {
        long long n = std::strtoll(text.c_str(), &end, 10);
        if (end && *end == '\0') return int64_t(n);
    } else {
        double d = std::strtod(text.c_str(), &end);
        if (end && *end == '\0') return d;
    }
    throw refuse();
}

} // namespace jet
