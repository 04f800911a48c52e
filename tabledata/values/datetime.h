// The support library's date and time values (column types 16, 17 and 18 of
// the table-data store): records, text forms, calendar arithmetic, comparison,
// and the broken-down times read from HTTP-style date texts.
#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct OrvDate {
  int16_t year;
  uint8_t month;  // 1 to 12
  uint8_t day;
};

struct OrvTime {
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
};

// A date, a time, or both; owns its parts (either may be null). The three
// extra bytes are kept for the record's full form and are zero here.
struct OrvDateTime {
  OrvDate* date;
  OrvTime* time;
  uint8_t extra[3];
};

// The form of a type-18 value inside a row, a default or a converted text:
// eleven bytes without pointers, so that copying the bytes copies the value and
// freeing the buffer frees it. The year is an int16_t in the machine's byte
// order, as in OrvDate.
struct OrvDateTimeValue {
  uint8_t year[2];
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
  uint8_t extra[3];
  uint8_t parts;  // kOrvDatePart | kOrvTimePart
};
static_assert(sizeof(OrvDateTimeValue) == 11, "a type-18 value is 11 bytes");
constexpr uint8_t kOrvDatePart = 1;
constexpr uint8_t kOrvTimePart = 2;

// Units of AddToOrvDateTime / SubtractFromOrvDateTime.
enum OrvTimeUnit : uint8_t {
  ORV_NANOSECONDS = 1,
  ORV_MICROSECONDS = 2,
  ORV_MILLISECONDS = 3,
  ORV_SECONDS = 4,
  ORV_MINUTES = 5,
  ORV_HOURS = 6,
  ORV_DAYS = 7,
  ORV_WEEKS = 8,
  ORV_MONTHS = 9,
};

// Ownership: every record or text handed out is malloc'd and the caller's:
// free() an OrvDate, OrvTime, text or std::tm, FreeOrvDateTime an OrvDateTime.

// New records; null with ERROR "OrvDate creation failed" (and the like) when
// memory runs out.
OrvDate* CreateOrvDate(int16_t year, uint8_t month, uint8_t day);
OrvTime* CreateOrvTime(uint8_t hour, uint8_t minute, uint8_t second);
OrvDateTime* CreateOrvDateTime(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                               uint8_t second);
void FreeOrvDateTime(OrvDateTime* dateTime);

// "YYYY-MM-DD", "hh:mm:ss", and "YYYY-MM-DD hh:mm:ss" (or the one part there
// is); null for null or a date-time with neither part.
char* OrvDateToString(const OrvDate* date);
char* OrvTimeToString(const OrvTime* time);
char* OrvDateTimeToString(const OrvDateTime* dateTime);
// The same texts for a value of column type 16, 17 or 18 (ORV_SQL_DATE, _TIME,
// _DATETIME) in its row form: an OrvDate, an OrvTime or an OrvDateTimeValue,
// read without alignment assumptions; the caller makes sure value holds that
// many bytes. None for a date-time with neither part.
std::optional<std::string> DateTimeValueText(const void* value, uint8_t type);

// Reads "Y-M-D h:m:s" (a text with "-" and ":"), "Y-M-D" (only "-") or
// "h:m:s" (only ":"): always both parts, fields not read are 0. Null for a
// null text or one with neither separator.
OrvDateTime* ConvertStringToOrvDateTime(const char* text);
// The same forms, answered as an OrvDateTime (*typeCode 18), OrvDate (16) or
// OrvTime (17); null as above.
void* ConvertStringToOrvDateOrTime(const char* text, uint8_t* typeCode);
// As ConvertStringToOrvDateTime, but the part that the text lacks is null.
OrvDateTime* ConvertStringToOrvGenDateTime(const char* text);

// Plain calendar arithmetic, no time zones: moves dateTime by amount units
// (OrvTimeUnit; sub-second units count whole seconds only) and normalises the
// fields (January 31 plus one month is March 2 or 3). A missing time counts as
// 00:00:00; only the parts present are written back. Another unit, or a result
// whose year does not fit 16 bits, leaves the value as it was. Returns dateTime.
OrvDateTime* AddToOrvDateTime(OrvDateTime* dateTime, uint32_t amount, uint8_t unit);
OrvDateTime* SubtractFromOrvDateTime(OrvDateTime* dateTime, uint32_t amount, uint8_t unit);

// Whether a is later than b (year, month, ..., second; a missing part counts
// as zeros); false when equal or either is null.
bool IsLaterOrvDateTime(const OrvDateTime* a, const OrvDateTime* b);
// The local time now.
OrvDateTime* GetCurrentOrvDateTime();

// The flat row form of a date-time, and back (null unless length is 11).
OrvDateTimeValue PackOrvDateTime(const OrvDateTime* dateTime);
OrvDateTime* UnpackOrvDateTime(const void* bytes, int32_t length);

// 1 when broken-down time a is not earlier than b (year to second), else 0
// (also for a null).
int32_t CompareTime(const std::tm* a, const std::tm* b);
// "Jan" to "Dec" in any case -> 0 to 11; -1 for anything else.
int32_t ParseMonth(const char* name);
// Reads "Tue, 05 Mar 2024 07:08:09 GMT", "Tuesday, 05-Mar-24 07:08:09 GMT"
// (year stored as written: yy means 1900 + yy) or "Tue Mar 5 07:08:09 2024"
// into a new broken-down time; null when none of them matches.
std::tm* ParseDateTime(const char* text);
