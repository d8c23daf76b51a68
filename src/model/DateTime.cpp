#include "model/DateTime.h"

#include <QLocale>
#include <QTime>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {
// Days from 1970-01-01 of a civil date (H. Hinnant's algorithm).
constexpr long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kEpochOffset = DaysFromCivil(1899, 12, 30); // days from 1970 to 1899-12-30 (negative)
constexpr long long kMsPerDay = 86400000LL;
} // namespace

TDateTime EncodeDate(int year, int month, int day) {
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                               kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / kMsPerDay;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
    // Negative values count the date backwards but the time of day forwards (as the fraction's absolute
    // value); the system never produces them from NAS data, they are handled only so nothing breaks.
    const double days = std::trunc(value);
    const long long msOfDay = std::llround(std::fabs(value - days) * kMsPerDay);
    long long dayNumber = static_cast<long long>(days);
    long long ms = msOfDay;
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        dayNumber += value >= 0 ? 1 : -1;
    }
    CivilFromDays(dayNumber + kEpochOffset, year, month, day);
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    millisecond = static_cast<int>(ms % 1000);
}

namespace {

// To the second: the moments the system stores for itself (log rows, a deleted version's end) keep the
// whole-second text they always had.
TDateTime FromCivil(const std::tm& t) {
    return EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) +
           EncodeTime(t.tm_hour, t.tm_min, t.tm_sec, 0);
}

} // namespace

TDateTime Now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return FromCivil(local);
}

TDateTime NowUtc() {
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    return FromCivil(utc);
}

namespace {

void PutDigits(char* at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        at[i] = static_cast<char>('0' + value % 10);
}

} // namespace

std::string DateTimeToDbText(TDateTime value) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    // Every feature sends two of these and more: the usual years without going through printf.
    if (y >= 0 && y <= 9999) {
        char text[] = "0000-00-00 00:00:00.000";
        PutDigits(text, y, 4);
        PutDigits(text + 5, mo, 2);
        PutDigits(text + 8, d, 2);
        if (h == 0 && mi == 0 && s == 0 && ms == 0)
            return std::string(text, 10);
        PutDigits(text + 11, h, 2);
        PutDigits(text + 14, mi, 2);
        PutDigits(text + 17, s, 2);
        if (ms == 0)
            return std::string(text, 19);
        PutDigits(text + 20, ms, 3);
        return std::string(text, 23);
    }
    char buf[48];
    if (h == 0 && mi == 0 && s == 0 && ms == 0)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
    else if (ms == 0)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return buf;
}

std::string TimeToLocaleText(TDateTime value) {
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    // Qt's long format ends with the time zone ("t"), which the desktop's long time format does not show.
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(QTime(h, mi, s), format.trimmed()).toStdString();
}
