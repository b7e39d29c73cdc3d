#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace jet {

// Column data types as stored in the column definition of a table.
enum class ColumnType : uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    OLE = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Numeric = 0x10,
    // Access 2007 and later:
    Complex = 0x12,     // attachments, multi-value, version history: a 4-byte key of its rows in a hidden table
    BigInt = 0x13,      // Access 2016's Large Number: 8 bytes, signed
    ExtDateTime = 0x14, // Access 2019's Date/Time Extended: 42 ASCII bytes, to 100 ns
};

// Codes the engine does not know (0x11 in Access 2000's MSysAccessObjects,
// for one) are kept as they are: such columns read as their raw bytes and
// refuse writes.
//
// Values of the later types: a complex column reads as its key (int64_t),
// a large number as int64_t, an extended date/time as the text
// "YYYY-MM-DD HH:MM:SS.fffffff" (ExtendedDateTime.h), which holds it
// exactly where a Date/Time double would not.
const char* columnTypeName(ColumnType type);
bool isKnownColumnType(uint8_t code);
inline bool isKnownColumnType(ColumnType type) { return isKnownColumnType(uint8_t(type)); }
bool isLongValueType(ColumnType type);   // Memo, OLE
bool isTextType(ColumnType type);        // Text, Memo

// Currency: a 64-bit integer counting ten-thousandths.
struct Currency {
    int64_t units = 0;
    bool operator==(const Currency&) const = default;
};

// Date/Time: days since 1899-12-30, the fraction being the time of day.
// Negative values count days backwards while the fraction still runs forward
// from midnight, as in OLE automation dates.
struct DateTime {
    double days = 0;
    bool operator==(const DateTime&) const = default;
};

// Replication ID, kept as its 16 stored bytes.
struct Guid {
    std::array<uint8_t, 16> bytes{};
    bool operator==(const Guid&) const = default;
};

// Numeric (decimal): a 96-bit magnitude in a 128-bit field, sign and scale.
struct Decimal {
    bool negative = false;
    uint8_t scale = 0;
    uint8_t precision = 18;
    uint64_t high = 0;   // upper 64 bits of the 128-bit magnitude
    uint64_t low = 0;    // lower 64 bits
    bool operator==(const Decimal&) const = default;
};

using Bytes = std::vector<uint8_t>;

// One column value. Byte, Integer and Long are held as int64_t; Single as
// double (the stored float converted exactly); Text and Memo as UTF-16.
using Value = std::variant<std::monostate, bool, int64_t, double, Currency, DateTime,
                           std::u16string, Bytes, Guid, Decimal>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Text helpers shared by the engine, the SQL layer and the tools.
std::string toUtf8(const std::u16string& s);
void appendUtf8(std::string& out, std::u16string_view s);
std::u16string fromUtf8(const std::string& s);

// "[-]digits[.digits]" exactly, and the nearest double (base/DecimalNumber.h).
std::string decimalToString(const Decimal& d);
double nearestDouble(const Decimal& d);
std::string currencyToString(const Currency& c);
std::string guidToString(const Guid& g);

// Calendar conversion of a Date/Time value, keeping milliseconds.
struct CivilTime {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};
CivilTime toCivil(DateTime dt);
DateTime fromCivil(const CivilTime& c);
// The text of an Access #date# literal (between the # signs) as
// base::AccessDate reads it; nothing when it is not a date.
std::optional<DateTime> fromAccessDateText(std::string_view text);
// "YYYY-MM-DD HH:MM:SS", seconds rounded as mdbtools' strftime output does (truncated).
std::string formatIsoDateTime(DateTime dt);

} // namespace jet
