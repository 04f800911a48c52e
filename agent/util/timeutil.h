// Time conversions and the short date/time texts used in file names, log lines
// and download bookkeeping. The formatting takes the time as an argument so it
// can be checked for any date; the argument-less forms read the clock.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Seconds since 1970-01-01 00:00:00, the given time taken as UTC. false (and
// `out` untouched) when the time is not a valid date.
bool SystemTimeToUnixSeconds(const SYSTEMTIME& time, int64_t& out);

// The local time counted as seconds since 1970 plus the runtime's time-zone
// offset (seconds west of UTC, no daylight correction); logs the value.
int32_t GetTimeInSeconds(const SYSTEMTIME& localTime);
int32_t GetTimeInSeconds();  // now

// Milliseconds since 1970 of a UTC time, as decimal UTF-16 text; also printed
// to standard output.
std::wstring CurrentTimeMillisText(const SYSTEMTIME& utcTime);
std::wstring CurrentTimeMillisText();  // now

// Tens and units digit of n ("05").
std::string TwoDigits(int n);
// "YY-MM-DD".
std::string DateStamp(const SYSTEMTIME& localTime);
std::string DateStamp();
// "Jan" .. "Dec" for 0 .. 11; "" for any other index.
const char* MonthName(int index);
// "Mar 05,2019 09:05AM": 12-hour clock in which 12:xx is 00:xx PM.
std::string LongDateTime(const SYSTEMTIME& localTime);
std::string LongDateTime();
// "hh:mm:ss", 24-hour clock.
std::string TimeStamp(const SYSTEMTIME& localTime);
std::string TimeStamp();
