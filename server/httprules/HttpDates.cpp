#include "server/httprules/HttpDates.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace Corvan
{
namespace HttpRules
{

namespace
{

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

const char* const MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const DayNames[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"}; // 1970-01-01 was a Thursday

} // namespace

void FormatHttpDate(std::int64_t secondsSinceEpoch, char* pBuffer)
{
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t secondsOfDay = secondsSinceEpoch % 86400;
    if (secondsOfDay < 0)
        secondsOfDay += 86400, --days;
    const int weekday = static_cast<int>(((days % 7) + 7) % 7);
    // Civil date from days (inverse of DaysFromCivil).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    if (year < 0 || year > 9999)
    {
        std::snprintf(pBuffer, HttpDateSize, "%s, %02u %s %04" PRId64 " %02d:%02d:%02d GMT", DayNames[weekday], day,
                      MonthNames[month - 1], year, static_cast<int>(secondsOfDay / 3600),
                      static_cast<int>(secondsOfDay / 60 % 60), static_cast<int>(secondsOfDay % 60));
        return;
    }
    // Every file answer formats its time: by hand, a fraction of a printf.
    const auto put = [&pBuffer](const char* pText, std::size_t length)
    { pBuffer = std::copy_n(pText, length, pBuffer); };
    const auto putNumber = [&pBuffer](std::int64_t value, int digits)
    {
        for (int at = digits - 1; at >= 0; --at, value /= 10)
            pBuffer[at] = static_cast<char>('0' + value % 10);
        pBuffer += digits;
    };
    put(DayNames[weekday], 3);
    put(", ", 2);
    putNumber(day, 2);
    put(" ", 1);
    put(MonthNames[month - 1], 3);
    put(" ", 1);
    putNumber(year, 4);
    put(" ", 1);
    putNumber(secondsOfDay / 3600, 2);
    put(":", 1);
    putNumber(secondsOfDay / 60 % 60, 2);
    put(":", 1);
    putNumber(secondsOfDay % 60, 2);
    put(" GMT", 5); // with its NUL
}

bool ParseHttpDate(std::string_view text, std::int64_t& secondsSinceEpoch)
{
    // The date with a few blanks around it fits; a NUL would end the text early for sscanf.
    char buffer[64];
    if (text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos)
        return false;
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    const char* pText = buffer;
    char weekday[4] = {}, monthName[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (std::sscanf(pText, "%3s, %2d %3s %4d %2d:%2d:%2d GMT%n", weekday, &day, monthName, &year, &hour, &minute,
                    &second, &consumed) != 7 ||
        consumed == 0 || pText[consumed] != '\0')
        return false;
    for (unsigned month = 1; month <= 12; ++month)
    {
        if (std::strcmp(monthName, MonthNames[month - 1]) == 0)
        {
            if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
                return false;
            const std::int64_t seconds =
                DaysFromCivil(year, month, static_cast<unsigned>(day)) * 86400 + hour * 3600 + minute * 60 + second;
            // sscanf also takes "8" for "08", "-1" for an hour, 31 February and any weekday, which
            // name no date or another one: only the exact text of that instant is a valid date.
            char canonical[HttpDateSize];
            FormatHttpDate(seconds, canonical);
            while (std::isspace(static_cast<unsigned char>(*pText)))
                ++pText;
            if (std::strcmp(canonical, pText) != 0)
                return false;
            secondsSinceEpoch = seconds;
            return true;
        }
    }
    return false;
}

} // namespace HttpRules
} // namespace Corvan
