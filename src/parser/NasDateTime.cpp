// The lifespan date-time of NAS texts: an xs:dateTime such as "2010-02-12T10:07:36Z" or a day alone
// ("2010-02-12"), read exactly.
#include <string_view>

#include "parser/BrenkoSaxReader.h"

namespace {

constexpr long long kMsPerDay = 86'400'000LL;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsXmlBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads exactly `digits` digits at `i`.
bool ReadDigits(std::string_view s, std::size_t& i, int digits, int& value) {
    if (s.size() - i < static_cast<std::size_t>(digits))
        return false;
    value = 0;
    for (int k = 0; k < digits; ++k, ++i) {
        if (!IsDigit(s[i]))
            return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

bool ReadChar(std::string_view s, std::size_t& i, char c) {
    if (i >= s.size() || s[i] != c)
        return false;
    ++i;
    return true;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool ValidDate(int y, int m, int d) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    return d <= days[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

// Milliseconds since 1899-12-30 00:00 of a day and a time of day.
long long MsOf(int y, int m, int d, long long msOfDay) {
    return static_cast<long long>(EncodeDate(y, m, d)) * kMsPerDay + msOfDay;
}

// The date-time of a count of milliseconds since 1899-12-30 00:00. Before that day the whole days count
// backwards but the time of day forwards, so the fraction is taken away instead of added.
TDateTime FromMs(long long ms) {
    long long day = ms / kMsPerDay;
    long long rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    const double fraction = static_cast<double>(rest) / kMsPerDay;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

// The time of day "hh:mm:ss[.fraction]" at `i`, in milliseconds (24:00:00 is the midnight that ends the
// day); false for anything else.
bool ReadTimeOfDay(std::string_view s, std::size_t& i, long long& msOfDay) {
    int h = 0, mi = 0, sec = 0;
    if (!ReadDigits(s, i, 2, h) || !ReadChar(s, i, ':') || !ReadDigits(s, i, 2, mi) || !ReadChar(s, i, ':') ||
        !ReadDigits(s, i, 2, sec))
        return false;
    // A fraction of a second is kept to the millisecond; further digits are dropped.
    int millis = 0;
    bool fractionZero = true;
    if (ReadChar(s, i, '.')) {
        const std::size_t first = i;
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            if (i - first < 3)
                millis = millis * 10 + (s[i] - '0');
            fractionZero = fractionZero && s[i] == '0';
        }
        if (i == first)
            return false;
        for (std::size_t k = i - first; k < 3; ++k)
            millis *= 10;
    }
    const bool endOfDay = h == 24 && mi == 0 && sec == 0 && fractionZero;
    if ((h > 23 && !endOfDay) || mi > 59 || sec > 59)
        return false;
    msOfDay = ((h * 60LL + mi) * 60 + sec) * 1000 + millis;
    return true;
}

// "YYYY-MM-DDThh:mm:ss[.fraction][Z|(+|-)hh:mm]", or the date alone "YYYY-MM-DD[Z|(+|-)hh:mm]" as that
// day's midnight, into milliseconds since 1899-12-30 00:00 UTC (a value without zone as written); false
// for anything else.
bool ReadXsDateTime(std::string_view s, long long& ms) {
    std::size_t i = 0;
    int y = 0, mo = 0, d = 0;
    // The year has exactly four digits: a sign or a fifth digit makes the text no date of this kind.
    if (!ReadDigits(s, i, 4, y) || !ReadChar(s, i, '-') || !ReadDigits(s, i, 2, mo) || !ReadChar(s, i, '-') ||
        !ReadDigits(s, i, 2, d))
        return false;
    if (!ValidDate(y, mo, d))
        return false;
    // Files give a begin or an end as a day now and then: it is the day's first moment.
    long long msOfDay = 0;
    if (ReadChar(s, i, 'T') && !ReadTimeOfDay(s, i, msOfDay))
        return false;
    long long offsetMinutes = 0;
    if (i < s.size() && s[i] == 'Z') {
        ++i;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        const int sign = s[i] == '-' ? -1 : 1;
        ++i;
        int oh = 0, om = 0;
        if (!ReadDigits(s, i, 2, oh) || !ReadChar(s, i, ':') || !ReadDigits(s, i, 2, om) || om > 59 ||
            oh * 60 + om > 14 * 60)
            return false;
        offsetMinutes = sign * (oh * 60 + om);
    }
    if (i != s.size())
        return false;
    ms = MsOf(y, mo, d, msOfDay) - offsetMinutes * 60'000;
    // What an offset or 24:00 moved out of the years 0001 to 9999 is none of them.
    return ms >= MsOf(1, 1, 1, 0) && ms < MsOf(9999, 12, 31, kMsPerDay);
}

} // namespace

TDateTime NasTextToDateTime(const std::string& text) {
    std::string_view s = text;
    while (!s.empty() && IsXmlBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsXmlBlank(s.back()))
        s.remove_suffix(1);
    long long ms = 0;
    if (!ReadXsDateTime(s, ms))
        throw EConvertError("'" + text + "' ist keine gültige Datums- und Uhrzeitangabe");
    return FromMs(ms);
}
