#pragma once
// Date-time values as days since 1899-12-30, the fraction being the time of day.
#include <string>

using TDateTime = double;

// Days since 1899-12-30 of a civil date (proleptic Gregorian calendar).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// Splits a value into its parts; the value is rounded to the millisecond first.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);
// The current local date and time, to the second.
TDateTime Now();
// The current date and time in UTC, to the second: the clock of the lifespans a file carries.
TDateTime NowUtc();

// The text a date-time goes to the database as, whatever the machine's regional settings:
// "yyyy-mm-dd", then " hh:nn:ss" unless hour, minute, second and millisecond are all 0, then ".zzz" when
// the millisecond is not 0; a value of whole seconds has no fraction in its text. The value 0 gives
// "1899-12-30".
std::string DateTimeToDbText(TDateTime value);

// The time of day in the user's locale long time format (as the log window shows it).
std::string TimeToLocaleText(TDateTime value);
