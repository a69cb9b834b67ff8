#include "ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "ByteCodec.h"
#include "DataFile.h"

namespace pixhold::engine {
namespace {

using namespace bytes;

// ---- small text helpers ---------------------------------------------------

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool IsDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An unsigned decimal of digits only, at most `limit`.
std::optional<std::int64_t> ParseDigits(std::string_view s, std::int64_t limit) {
    if (!IsDigits(s)) return std::nullopt;
    std::int64_t value = 0;
    for (char c : s) {
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

// A decimal integer with an optional sign, within [low, high].
std::optional<std::int64_t> ParseInteger(std::string_view s, std::int64_t low, std::int64_t high) {
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (!IsDigits(s)) return std::nullopt;
    // Accumulate as a negative number so that the lowest 64-bit value fits.
    std::int64_t value = 0;
    for (char c : s) {
        const int digit = c - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
        value = -value;
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

// [sign] digits [. digits] [exponent], at least one digit.
std::optional<double> ParseFloat(std::string_view s, bool allowExponent) {
    std::string_view rest = s;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest.remove_prefix(1);
    std::size_t i = 0;
    std::size_t digits = 0;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i, ++digits;
    if (i < rest.size() && rest[i] == '.') {
        ++i;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
        if (!allowExponent) return std::nullopt;
        ++i;
        if (i < rest.size() && (rest[i] == '-' || rest[i] == '+')) ++i;
        if (!IsDigits(rest.substr(i))) return std::nullopt;
        i = rest.size();
    }
    if (i != rest.size()) return std::nullopt;
    std::string plain(s);
    if (!plain.empty() && plain.front() == '+') plain.erase(0, 1);
    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string Quoted(std::string_view text, const char* tail) {
    return "'" + std::string(text) + "' " + tail;
}

// ---- dates and times --------------------------------------------------------

// Days since 1970-01-01 of a Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

const std::int64_t kDayOneOffset = DaysFromCivil(1, 1, 1) - 1;

std::optional<std::int32_t> ParseDate(std::string_view text) {
    const std::size_t first = text.find('-');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = text.find('-', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto y = ParseDigits(text.substr(0, first), 9999);
    const auto m = ParseDigits(text.substr(first + 1, second - first - 1), 12);
    const auto d = ParseDigits(text.substr(second + 1), 31);
    if (!y || !m || !d) return std::nullopt;
    const CalendarDate date{static_cast<int>(*y), static_cast<int>(*m), static_cast<int>(*d)};
    if (!IsValidDate(date)) return std::nullopt;
    return DayNumberOf(date);
}

std::optional<std::int32_t> ParseTime(std::string_view text) {
    std::string s(TrimBlanks(text));
    // An "AM" or "PM" anywhere, in any case, makes the hours 12-hour.
    int meridiem = 0;  // 0 none, 1 AM, 2 PM
    for (const auto& [mark, kind] : {std::pair{"PM", 2}, std::pair{"AM", 1}}) {
        for (std::size_t i = 0; i + 1 < s.size(); ++i) {
            if (AsciiUpper(s[i]) == mark[0] && AsciiUpper(s[i + 1]) == mark[1]) {
                s.erase(i, 2);
                meridiem = kind;
                break;
            }
        }
        if (meridiem != 0) break;
    }
    std::string_view t = TrimBlanks(s);
    const std::size_t c1 = t.find(':');
    if (c1 == std::string_view::npos) return std::nullopt;
    const std::size_t c2 = t.find(':', c1 + 1);
    const std::string_view hours = t.substr(0, c1);
    std::string_view minutes = t.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1);
    std::string_view seconds, millis;
    if (c2 != std::string_view::npos) {
        std::string_view rest = t.substr(c2 + 1);
        const std::size_t dot = rest.find('.');
        seconds = rest.substr(0, dot);
        if (dot != std::string_view::npos) {
            millis = rest.substr(dot + 1);
            if (millis.empty()) return std::nullopt;
        }
        if (seconds.empty()) return std::nullopt;
    }
    auto h = ParseDigits(hours, meridiem == 0 ? 23 : 12);
    const auto m = ParseDigits(minutes, 59);
    const auto sec = seconds.empty() ? std::optional<std::int64_t>(0) : ParseDigits(seconds, 59);
    const auto ms = millis.empty() ? std::optional<std::int64_t>(0) : ParseDigits(millis, 999);
    if (!h || !m || !sec || !ms) return std::nullopt;
    if (meridiem == 1 && *h == 12) *h = 0;
    if (meridiem == 2 && *h != 12) *h += 12;
    return static_cast<std::int32_t>(((*h * 60 + *m) * 60 + *sec) * 1000 + *ms);
}

std::optional<double> ParseDateTime(std::string_view text, const LocalMoment& now) {
    constexpr double kDay = kMillisecondsPerDay;
    if (EqualsNoCase(text, "CURRENT_TIMESTAMP")) return now.dayNumber * kDay + now.milliseconds;
    if (EqualsNoCase(text, "CURRENT_DATE")) return now.dayNumber * kDay;
    if (EqualsNoCase(text, "CURRENT_TIME")) return static_cast<double>(now.milliseconds);
    const std::size_t blank = text.find(' ');
    if (blank != std::string_view::npos) {
        const auto day = ParseDate(text.substr(0, blank));
        const auto time = ParseTime(text.substr(blank + 1));
        if (!day || !time) return std::nullopt;
        return *day * kDay + *time;
    }
    if (text.find(':') != std::string_view::npos) {
        const auto time = ParseTime(text);
        if (!time) return std::nullopt;
        return static_cast<double>(*time);
    }
    const auto day = ParseDate(text);
    if (!day) return std::nullopt;
    return *day * kDay;
}

std::string TwoDigits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

// ---- decimals ---------------------------------------------------------------

constexpr int kDecimalPlaces = 4;
constexpr std::size_t kDecimalDigits = 64;

struct DecimalDigits {
    bool negative = false;
    std::string digits;  // without leading zeros of the integer part
    int places = 0;      // how many of the digits are after the point
};

std::optional<DecimalDigits> ParseDecimal(std::string_view s) {
    DecimalDigits d;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        d.negative = s.front() == '-';
        s.remove_prefix(1);
    }
    const std::size_t dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if ((!whole.empty() && !IsDigits(whole)) || (!fraction.empty() && !IsDigits(fraction))) return std::nullopt;
    // Round to four places, half away from zero.
    std::string digits = std::string(whole) + std::string(fraction.substr(0, kDecimalPlaces));
    int places = static_cast<int>(std::min<std::size_t>(fraction.size(), kDecimalPlaces));
    if (fraction.size() > kDecimalPlaces && fraction[kDecimalPlaces] >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') digits[static_cast<std::size_t>(i--)] = '0';
        if (i >= 0) {
            ++digits[static_cast<std::size_t>(i)];
        } else {
            digits.insert(digits.begin(), '1');
        }
    }
    while (places > 0 && digits.back() == '0') {
        digits.pop_back();
        --places;
    }
    const std::size_t wholeLength = digits.size() - static_cast<std::size_t>(places);
    std::size_t lead = 0;
    while (lead < wholeLength && digits[lead] == '0') ++lead;
    digits.erase(0, lead);
    if (digits.empty()) {
        d.negative = false;
        digits = "0";
    }
    if (digits.size() > kDecimalDigits) return std::nullopt;
    d.digits = digits;
    d.places = places;
    return d;
}

}  // namespace

// ---- calendar ---------------------------------------------------------------

bool IsValidDate(const CalendarDate& date) {
    if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
    const int days = kDays[date.month - 1] + (date.month == 2 && leap ? 1 : 0);
    return date.day <= days;
}

std::int32_t DayNumberOf(const CalendarDate& date) {
    return static_cast<std::int32_t>(DaysFromCivil(date.year, static_cast<unsigned>(date.month),
                                                   static_cast<unsigned>(date.day)) -
                                     kDayOneOffset);
}

CalendarDate DateOfDayNumber(std::int32_t dayNumber) {
    // Civil from days since 1970-01-01.
    std::int64_t z = dayNumber + kDayOneOffset + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

LocalMoment CurrentLocalMoment() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    LocalMoment now;
    now.dayNumber = DayNumberOf({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
    now.milliseconds = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
                       static_cast<std::int32_t>(ts.tv_nsec / 1000000);
    return now;
}

// ---- checks and conversions -------------------------------------------------

bool CheckValueText(std::uint8_t type, std::string_view text) {
    if (text.empty()) return true;
    const LocalMoment now{};
    switch (type) {
        case fieldtype::Date: return EqualsNoCase(text, "CURRENT_DATE") || ParseDate(text).has_value();
        case fieldtype::Time: return EqualsNoCase(text, "CURRENT_TIME") || ParseTime(text).has_value();
        case fieldtype::DateTime: return ParseDateTime(text, now).has_value();
        case fieldtype::Boolean: return EqualsNoCase(text, "TRUE") || EqualsNoCase(text, "FALSE");
        case fieldtype::SmallInt: return ParseInteger(text, -32768, 32767).has_value();
        case fieldtype::Integer:
            return ParseInteger(text, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max()).has_value();
        case fieldtype::Word: return ParseInteger(text, 0, 65535).has_value();
        case fieldtype::LargeInt:
            return ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max()).has_value();
        case fieldtype::Float: return ParseFloat(text, true).has_value();
        case fieldtype::Decimal: return ParseDecimal(text).has_value();
        default: return true;
    }
}

std::int32_t DateTextToDayNumber(std::string_view text, const LocalMoment& now) {
    if (EqualsNoCase(text, "CURRENT_DATE")) return now.dayNumber;
    const auto day = ParseDate(text);
    if (!day) throw EConvertError(Quoted(text, "is not a valid date"));
    return *day;
}

std::int32_t TimeTextToMilliseconds(std::string_view text, const LocalMoment& now) {
    if (EqualsNoCase(text, "CURRENT_TIME")) return now.milliseconds;
    const auto ms = ParseTime(text);
    if (!ms) throw EConvertError(Quoted(text, "is not a valid time"));
    return *ms;
}

double DateTimeTextToMilliseconds(std::string_view text, const LocalMoment& now) {
    const auto ms = ParseDateTime(text, now);
    if (!ms) throw EConvertError(Quoted(text, "is not a valid date and time"));
    return *ms;
}

bool BooleanTextToValue(std::string_view text) {
    if (EqualsNoCase(text, "TRUE")) return true;
    if (EqualsNoCase(text, "FALSE")) return false;
    throw EConvertError(Quoted(text, "is not a valid boolean"));
}

std::string DayNumberToText(std::int32_t dayNumber) {
    const CalendarDate date = DateOfDayNumber(dayNumber);
    std::string year = std::to_string(date.year);
    if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
    return year + "-" + TwoDigits(date.month) + "-" + TwoDigits(date.day);
}

std::string MillisecondsToTimeText(std::int32_t milliseconds, bool twelveHour) {
    int rest = milliseconds;
    const int ms = rest % 1000;
    rest /= 1000;
    const int seconds = rest % 60;
    rest /= 60;
    const int minutes = rest % 60;
    int hours = rest / 60;
    const bool pm = hours >= 12;
    if (twelveHour) {
        if (hours >= 12) hours -= 12;
        if (hours == 0) hours = 12;
    }
    std::string text = TwoDigits(hours) + ":" + TwoDigits(minutes);
    // Seconds are written when they or the milliseconds are not zero, so that
    // every time converts back to itself.
    if (seconds != 0 || ms != 0) text += ":" + TwoDigits(seconds);
    if (ms != 0) text += "." + std::to_string(ms);
    if (twelveHour) text += pm ? " PM" : " AM";
    return text;
}

std::string DateTimeToText(double milliseconds, bool twelveHour) {
    const double rounded = std::floor(milliseconds + 0.5);
    const auto day = static_cast<std::int32_t>(std::floor(rounded / kMillisecondsPerDay));
    const auto ms = static_cast<std::int32_t>(rounded - static_cast<double>(day) * kMillisecondsPerDay);
    return DayNumberToText(day) + " " + MillisecondsToTimeText(ms, twelveHour);
}

std::vector<std::uint8_t> DecimalTextToStored(std::string_view text) {
    const auto d = ParseDecimal(text);
    if (!d) throw EConvertError(Quoted(text, "is not a valid BCD value"));
    std::vector<std::uint8_t> out(kDecimalSize, 0);
    out[0] = static_cast<std::uint8_t>(d->digits.size());
    out[1] = static_cast<std::uint8_t>((d->negative ? 0x80 : 0) | (d->places & 0x3F));
    for (std::size_t i = 0; i < d->digits.size(); ++i) {
        const auto digit = static_cast<std::uint8_t>(d->digits[i] - '0');
        out[2 + i / 2] |= (i % 2 == 0) ? static_cast<std::uint8_t>(digit << 4) : digit;
    }
    return out;
}

std::string DecimalStoredToText(const std::vector<std::uint8_t>& stored) {
    if (stored.size() < kDecimalSize) return "0";
    const std::size_t precision = std::min<std::size_t>(stored[0], kDecimalDigits);
    const std::size_t places = std::min<std::size_t>(stored[1] & 0x3F, precision);
    std::string digits;
    for (std::size_t i = 0; i < precision; ++i) {
        const std::uint8_t b = stored[2 + i / 2];
        const int digit = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
        digits += static_cast<char>('0' + std::min(digit, 9));
    }
    std::string whole = digits.substr(0, precision - places);
    std::string fraction = digits.substr(precision - places);
    while (whole.size() > 1 && whole.front() == '0') whole.erase(0, 1);
    if (whole.empty()) whole = "0";
    std::string text = whole;
    if (!fraction.empty()) text += "." + fraction;
    const bool zero = std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
    if ((stored[1] & 0x80) != 0 && !zero) text.insert(0, "-");
    return text;
}

std::optional<std::vector<std::uint8_t>> ValueTextToStored(std::uint8_t type, std::uint16_t physicalSize,
                                                           std::string_view text, const LocalMoment& now) {
    if (text.empty()) return std::nullopt;
    // Fixed-size types have their own size; the sized ones take the field's.
    const std::size_t size = TypeHasDeclaredSize(type) ? physicalSize : PhysicalSizeOf(type, 0);
    std::vector<std::uint8_t> out(size, 0);
    std::uint8_t* p = out.data();
    auto invalid = [&](const char* what) { return EConvertError(Quoted(text, what)); };
    switch (type) {
        case fieldtype::Date: PutI32(p, 0, DateTextToDayNumber(text, now)); break;
        case fieldtype::Time: PutI32(p, 0, TimeTextToMilliseconds(text, now)); break;
        case fieldtype::DateTime: PutF64(p, 0, DateTimeTextToMilliseconds(text, now)); break;
        case fieldtype::Boolean: PutU16(p, 0, BooleanTextToValue(text) ? 1 : 0); break;
        case fieldtype::SmallInt: {
            const auto v = ParseInteger(text, -32768, 32767);
            if (!v) throw invalid("is not a valid integer value");
            PutI16(p, 0, static_cast<std::int16_t>(*v));
            break;
        }
        case fieldtype::Integer: {
            const auto v = ParseInteger(text, std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::max());
            if (!v) throw invalid("is not a valid integer value");
            PutI32(p, 0, static_cast<std::int32_t>(*v));
            break;
        }
        case fieldtype::Word: {
            const auto v = ParseInteger(text, 0, 65535);
            if (!v) throw invalid("is not a valid integer value");
            PutU16(p, 0, static_cast<std::uint16_t>(*v));
            break;
        }
        case fieldtype::LargeInt: {
            const auto v = ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                                        std::numeric_limits<std::int64_t>::max());
            if (!v) throw invalid("is not a valid integer value");
            PutI64(p, 0, *v);
            break;
        }
        case fieldtype::Float: {
            const auto v = ParseFloat(text, true);
            if (!v) throw invalid("is not a valid floating point value");
            PutF64(p, 0, *v);
            break;
        }
        case fieldtype::Decimal: out = DecimalTextToStored(text); break;
        case fieldtype::String: {
            // Zero-terminated within the physical size.
            const std::size_t n = std::min<std::size_t>(text.size(), physicalSize > 0 ? physicalSize - 1u : 0u);
            std::memcpy(p, text.data(), n);
            break;
        }
        case fieldtype::Bytes:
        case fieldtype::VarBytes: {
            const std::size_t n = std::min<std::size_t>(text.size(), physicalSize);
            std::memcpy(p, text.data(), n);
            break;
        }
        default: return std::nullopt;  // BLOBs and unknown types have no stored text value
    }
    return out;
}

std::string StoredToValueText(std::uint8_t type, const std::vector<std::uint8_t>& stored) {
    const std::uint8_t* p = stored.data();
    const std::size_t n = stored.size();
    switch (type) {
        case fieldtype::Date: return n >= 4 ? DayNumberToText(GetI32(p, 0)) : std::string{};
        case fieldtype::Time: return n >= 4 ? MillisecondsToTimeText(GetI32(p, 0)) : std::string{};
        case fieldtype::DateTime: return n >= 8 ? DateTimeToText(GetF64(p, 0)) : std::string{};
        case fieldtype::Boolean: return n >= 2 ? (GetU16(p, 0) != 0 ? "TRUE" : "FALSE") : std::string{};
        case fieldtype::SmallInt: return n >= 2 ? std::to_string(GetI16(p, 0)) : std::string{};
        case fieldtype::Integer: return n >= 4 ? std::to_string(GetI32(p, 0)) : std::string{};
        case fieldtype::Word: return n >= 2 ? std::to_string(GetU16(p, 0)) : std::string{};
        case fieldtype::LargeInt: return n >= 8 ? std::to_string(GetI64(p, 0)) : std::string{};
        case fieldtype::Float: {
            if (n < 8) return {};
            char buffer[64];
            const auto r = std::to_chars(buffer, buffer + sizeof buffer, GetF64(p, 0));
            return std::string(buffer, r.ptr);
        }
        case fieldtype::Decimal: return DecimalStoredToText(stored);
        case fieldtype::String: {
            const auto end = std::find(stored.begin(), stored.end(), std::uint8_t{0});
            return std::string(stored.begin(), end);
        }
        case fieldtype::Bytes:
        case fieldtype::VarBytes: return std::string(stored.begin(), stored.end());
        default: return {};
    }
}

}  // namespace pixhold::engine
