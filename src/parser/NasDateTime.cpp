// The lifespan date-time rule of NAS texts ("2010-02-12T10:07:36Z" and the forms around it).
#include <cctype>
#include <ctime>

#include "parser/BrenkoSaxReader.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void SkipBlanks(const std::string& s, std::size_t& i) {
    while (i < s.size() && s[i] == ' ')
        ++i;
}

// Reads a decimal number at `i`: digits while the value read so far is below 1000 (so at most four
// significant digits). `digits` gets the number of digits read.
bool ReadNumber(const std::string& s, std::size_t& i, int& value, int& digits) {
    SkipBlanks(s, i);
    value = 0;
    digits = 0;
    while (i < s.size() && IsDigit(s[i]) && value < 1000) {
        value = value * 10 + (s[i] - '0');
        ++digits;
        ++i;
    }
    return digits > 0;
}

bool ReadSeparator(const std::string& s, std::size_t& i, char sep) {
    SkipBlanks(s, i);
    if (i < s.size() && s[i] == sep) {
        ++i;
        return true;
    }
    return false;
}

bool ReadDate(const std::string& s, std::size_t& i, int& y, int& m, int& d, int& yearDigits) {
    int digits = 0;
    return ReadNumber(s, i, y, yearDigits) && ReadSeparator(s, i, '-') && ReadNumber(s, i, m, digits) &&
           ReadSeparator(s, i, '-') && ReadNumber(s, i, d, digits);
}

// hours, optionally ":" minutes, optionally ":" seconds.
bool ReadTime(const std::string& s, std::size_t& i, int& h, int& mi, int& sec) {
    int digits = 0;
    mi = sec = 0;
    if (!ReadNumber(s, i, h, digits))
        return false;
    std::size_t at = i;
    if (ReadSeparator(s, at, ':')) {
        if (!ReadNumber(s, at, mi, digits))
            return false;
        i = at;
        if (ReadSeparator(s, at, ':')) {
            if (!ReadNumber(s, at, sec, digits))
                return false;
            i = at;
        }
    }
    return true;
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool ValidDate(int y, int m, int d) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    return d <= days[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

bool ValidTime(int h, int mi, int s) {
    return h < 24 && mi < 60 && s < 60;
}

int CurrentCentury() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return (local.tm_year + 1900) / 100 * 100;
}

[[noreturn]] void Fail(const std::string& text) {
    throw EConvertError("'" + text + "' ist keine gültige Datums- und Uhrzeitangabe");
}

} // namespace

TDateTime NasTextToDateTime(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && !IsDigit(text[i]))
        ++i;
    int y = 0, m = 0, d = 0, yearDigits = 0;
    if (i < text.size() && ReadDate(text, i, y, m, d, yearDigits)) {
        if (yearDigits <= 2)
            y += CurrentCentury();
        if (!ValidDate(y, m, d))
            Fail(text);
        const TDateTime date = EncodeDate(y, m, d);
        while (i < text.size() && !IsDigit(text[i]))
            ++i;
        if (i + 1 >= text.size())
            return date;
        int h = 0, mi = 0, s = 0;
        if (!ReadTime(text, i, h, mi, s) || !ValidTime(h, mi, s))
            Fail(text);
        return date + EncodeTime(h, mi, s, 0);
    }
    // No date at all: the whole text must be a time.
    i = 0;
    int h = 0, mi = 0, s = 0;
    if (!ReadTime(text, i, h, mi, s) || !ValidTime(h, mi, s))
        Fail(text);
    SkipBlanks(text, i);
    if (i != text.size())
        Fail(text);
    return EncodeTime(h, mi, s, 0);
}
