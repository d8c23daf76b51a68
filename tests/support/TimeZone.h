#pragma once
// Runs a part of a test as if the machine were in another time zone: the process's TZ is set (a POSIX
// zone such as "EST5", which needs no zone files) and read again, and put back when the guard ends.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class TTimeZoneForTest {
public:
    explicit TTimeZoneForTest(const std::string& zone) {
        if (const char* old = std::getenv("TZ"))
            before = old;
        setenv("TZ", zone.c_str(), 1);
        tzset();
    }
    ~TTimeZoneForTest() {
        if (before)
            setenv("TZ", before->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TTimeZoneForTest(const TTimeZoneForTest&) = delete;
    TTimeZoneForTest& operator=(const TTimeZoneForTest&) = delete;

private:
    std::optional<std::string> before;
};

// Zones west and east of UTC without summer time, and their distance from it in hours.
struct TZoneCase {
    const char* zone;
    int hoursEastOfUtc;
};
inline constexpr TZoneCase kZonesAroundUtc[] = {{"EST5", -5}, {"JST-9", 9}, {"UTC0", 0}};
