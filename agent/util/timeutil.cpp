// Time conversions and date/time texts (see timeutil.h).
#include "agent/util/timeutil.h"

#include <cstdio>
#include <ctime>
#include <limits>

#include "agent/log/logger.h"
#include "agent/util/textconv.h"

namespace {
// 100-nanosecond intervals between 1601-01-01 (file time origin) and 1970-01-01.
constexpr int64_t kUnixEpochFileTime = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

SYSTEMTIME LocalNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return t;
}

// The runtime's time-zone offset in seconds west of UTC, standard time.
long RuntimeTimeZoneOffset() {
  _tzset();
  return _timezone;
}
}  // namespace

bool SystemTimeToUnixSeconds(const SYSTEMTIME& time, int64_t& out) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&time, &ft)) return false;
  ULARGE_INTEGER ticks;
  ticks.LowPart = ft.dwLowDateTime;
  ticks.HighPart = ft.dwHighDateTime;
  out = static_cast<int64_t>(ticks.QuadPart) / kTicksPerSecond - kUnixEpochFileTime / kTicksPerSecond;
  return true;
}

int32_t GetTimeInSeconds(const SYSTEMTIME& localTime) {
  int64_t seconds = 0;
  SystemTimeToUnixSeconds(localTime, seconds);
  seconds += RuntimeTimeZoneOffset();
  char text[32];
  snprintf(text, sizeof text, "%lld", static_cast<long long>(seconds));
  LogDebug("GetTimeInSeconds : retDate :: %s\n", text);
  // Read back as a 32-bit integer: out-of-range values saturate instead of wrapping.
  if (seconds > std::numeric_limits<int32_t>::max()) seconds = std::numeric_limits<int32_t>::max();
  if (seconds < std::numeric_limits<int32_t>::min()) seconds = std::numeric_limits<int32_t>::min();
  int32_t result = static_cast<int32_t>(seconds);
  LogInfo("GetTimeInSeconds : Time in Second : %d\n", static_cast<int>(result));
  return result;
}

int32_t GetTimeInSeconds() { return GetTimeInSeconds(LocalNow()); }

std::wstring CurrentTimeMillisText(const SYSTEMTIME& utcTime) {
  int64_t seconds = 0;
  SystemTimeToUnixSeconds(utcTime, seconds);
  long long millis = static_cast<long long>(seconds) * 1000 + utcTime.wMilliseconds;
  wchar_t text[32];
  swprintf(text, sizeof text / sizeof text[0], L"%lld", millis);
  std::wstring result = text;
  std::string narrow;
  ChangeWideToUtf8Str(result.c_str(), narrow);
  printf("\nTime = %s", narrow.c_str());
  return result;
}

std::wstring CurrentTimeMillisText() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return CurrentTimeMillisText(t);
}

std::string TwoDigits(int n) {
  if (n < 0) n = -n;
  std::string text(2, '0');
  text[0] = static_cast<char>('0' + (n / 10) % 10);
  text[1] = static_cast<char>('0' + n % 10);
  return text;
}

std::string DateStamp(const SYSTEMTIME& localTime) {
  return TwoDigits(localTime.wYear % 100) + "-" + TwoDigits(localTime.wMonth) + "-" + TwoDigits(localTime.wDay);
}

std::string DateStamp() { return DateStamp(LocalNow()); }

const char* MonthName(int index) {
  static const char* const kNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (index < 0 || index > 11) return "";
  return kNames[index];
}

std::string LongDateTime(const SYSTEMTIME& localTime) {
  int hour = localTime.wHour;
  bool afternoon = hour >= 12;
  if (afternoon) hour -= 12;
  char year[8];
  snprintf(year, sizeof year, "%04d", static_cast<int>(localTime.wYear) % 10000);
  return std::string(MonthName(localTime.wMonth - 1)) + " " + TwoDigits(localTime.wDay) + "," + year + " " +
         TwoDigits(hour) + ":" + TwoDigits(localTime.wMinute) + (afternoon ? "PM" : "AM");
}

std::string LongDateTime() { return LongDateTime(LocalNow()); }

std::string TimeStamp(const SYSTEMTIME& localTime) {
  return TwoDigits(localTime.wHour) + ":" + TwoDigits(localTime.wMinute) + ":" + TwoDigits(localTime.wSecond);
}

std::string TimeStamp() { return TimeStamp(LocalNow()); }
