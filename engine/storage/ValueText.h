#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pixhold::engine {

// The minimum, maximum and default of a field descriptor are texts, checked
// against the field's type and converted to and from stored values.

// A value text that cannot be converted; the message names the text
// ("'x' is not a valid date").
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Day numbers count from 1 January of year 1 (day 1), Gregorian calendar.
struct CalendarDate {
    int year = 1;
    int month = 1;
    int day = 1;
};
bool IsValidDate(const CalendarDate& date);
std::int32_t DayNumberOf(const CalendarDate& date);
CalendarDate DateOfDayNumber(std::int32_t dayNumber);

inline constexpr std::int32_t kMillisecondsPerDay = 86400000;

// The moment CURRENT_DATE, CURRENT_TIME and CURRENT_TIMESTAMP stand for.
struct LocalMoment {
    std::int32_t dayNumber = 1;
    std::int32_t milliseconds = 0;  // since midnight
};
LocalMoment CurrentLocalMoment();

// Whether the text is valid for the type. An empty text is always valid, and
// so is any text for strings, bytes, variable bytes, BLOBs and unlisted types.
bool CheckValueText(std::uint8_t type, std::string_view text);

// Text to value. Each raises EConvertError with the type's message.
std::int32_t DateTextToDayNumber(std::string_view text, const LocalMoment& now);
std::int32_t TimeTextToMilliseconds(std::string_view text, const LocalMoment& now);
double DateTimeTextToMilliseconds(std::string_view text, const LocalMoment& now);
bool BooleanTextToValue(std::string_view text);

// Value to text: "YYYY-MM-DD" (year at least four digits); "HH:MM" with
// ":SS" and ".mmm" when needed; 12-hour form adds " AM" or " PM".
std::string DayNumberToText(std::int32_t dayNumber);
std::string MillisecondsToTimeText(std::int32_t milliseconds, bool twelveHour = false);
std::string DateTimeToText(double milliseconds, bool twelveHour = false);

// The stored value (physical size bytes, without the null flag) of a value
// text for a field of the type and physical size; nullopt for an empty text
// (no value). Raises EConvertError when the text is not valid.
std::optional<std::vector<std::uint8_t>> ValueTextToStored(std::uint8_t type, std::uint16_t physicalSize,
                                                           std::string_view text,
                                                           const LocalMoment& now = CurrentLocalMoment());
// The text of a stored value, as the value texts write it.
std::string StoredToValueText(std::uint8_t type, const std::vector<std::uint8_t>& stored);

// The packed decimal value: precision byte, sign-and-scale byte (sign in bit 7,
// decimal places in bits 0 to 5), 32 bytes of decimal digits, two per byte,
// high nibble first, left-aligned.
inline constexpr std::size_t kDecimalSize = 34;
std::vector<std::uint8_t> DecimalTextToStored(std::string_view text);
std::string DecimalStoredToText(const std::vector<std::uint8_t>& stored);

}  // namespace pixhold::engine
