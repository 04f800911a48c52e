// Date and time values (see datetime.h). Arithmetic runs on a count of
// seconds from a proleptic Gregorian day count, so it needs neither the C
// library's time zone nor its range of time_t.
#include "tabledata/values/datetime.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/log/platform.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"
#include "tabledata/values/valuetypes.h"

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t* year, int64_t* month, int64_t* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = yearOfEra + era * 400 + (*month <= 2);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The six fields of a date-time, missing parts as zeros.
struct Fields {
  int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

Fields FieldsOf(const OrvDateTime* dt) {
  Fields f;
  if (dt->date) {
    f.year = dt->date->year;
    f.month = dt->date->month;
    f.day = dt->date->day;
  }
  if (dt->time) {
    f.hour = dt->time->hour;
    f.minute = dt->time->minute;
    f.second = dt->time->second;
  }
  return f;
}

// Moves dt by a signed amount of a unit; false for an unknown unit or a year
// beyond 16 bits.
bool Shift(OrvDateTime* dt, int64_t amount, uint8_t unit) {
  static const int64_t kSecondsPer[] = {0, 0, 0, 0, 1, 60, 3600, 86400, 7 * 86400};
  int64_t seconds = 0;
  int64_t months = 0;
  switch (unit) {
    case ORV_NANOSECONDS: seconds = amount / 1000000000; break;
    case ORV_MICROSECONDS: seconds = amount / 1000000; break;
    case ORV_MILLISECONDS: seconds = amount / 1000; break;
    case ORV_SECONDS: case ORV_MINUTES: case ORV_HOURS: case ORV_DAYS: case ORV_WEEKS:
      seconds = amount * kSecondsPer[unit];
      break;
    case ORV_MONTHS: months = amount; break;
    default: return false;
  }
  Fields f = FieldsOf(dt);
  if (!dt->date) {  // a time alone moves around an arbitrary whole day
    f.year = 1970;
    f.month = 1;
    f.day = 1;
  }
  const int64_t monthIndex = f.year * 12 + (f.month - 1) + months;
  const int64_t days = DaysFromCivil(FloorDiv(monthIndex, 12), monthIndex - FloorDiv(monthIndex, 12) * 12 + 1, 1) +
                       (f.day - 1);
  const int64_t total = days * 86400 + f.hour * 3600 + f.minute * 60 + f.second + seconds;
  const int64_t newDays = FloorDiv(total, 86400);
  const int64_t secondOfDay = total - newDays * 86400;
  int64_t year = 0, month = 0, day = 0;
  CivilFromDays(newDays, &year, &month, &day);
  if (year < INT16_MIN || year > INT16_MAX) return false;
  if (dt->date) {
    dt->date->year = static_cast<int16_t>(year);
    dt->date->month = static_cast<uint8_t>(month);
    dt->date->day = static_cast<uint8_t>(day);
  }
  if (dt->time) {
    dt->time->hour = static_cast<uint8_t>(secondOfDay / 3600);
    dt->time->minute = static_cast<uint8_t>(secondOfDay / 60 % 60);
    dt->time->second = static_cast<uint8_t>(secondOfDay % 60);
  }
  return true;
}

// Which of the three text forms a text has, and its fields.
enum class TextForm { kNone, kDateTime, kDate, kTime };

TextForm ReadDateTimeText(const char* text, Fields* f) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  const bool dash = strchr(text, '-') != nullptr;
  const bool colon = strchr(text, ':') != nullptr;
  TextForm form = TextForm::kNone;
  if (dash && colon) {
    ScanText(text, "%d-%d-%d %d:%d:%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    form = TextForm::kDateTime;
  } else if (dash) {
    ScanText(text, "%d-%d-%d", &v[0], &v[1], &v[2]);
    form = TextForm::kDate;
  } else if (colon) {
    ScanText(text, "%d:%d:%d", &v[3], &v[4], &v[5]);
    form = TextForm::kTime;
  }
  f->year = v[0];
  f->month = v[1];
  f->day = v[2];
  f->hour = v[3];
  f->minute = v[4];
  f->second = v[5];
  return form;
}

OrvDate* DateOf(const Fields& f) {
  return CreateOrvDate(static_cast<int16_t>(f.year), static_cast<uint8_t>(f.month), static_cast<uint8_t>(f.day));
}
OrvTime* TimeOf(const Fields& f) {
  return CreateOrvTime(static_cast<uint8_t>(f.hour), static_cast<uint8_t>(f.minute), static_cast<uint8_t>(f.second));
}

// A date-time of the given parts (either may be null; both null -> null),
// taking ownership of them.
OrvDateTime* Assemble(OrvDate* date, OrvTime* time) {
  OrvDateTime* dt = static_cast<OrvDateTime*>(calloc(1, sizeof(OrvDateTime)));
  if (!dt) {
    free(date);
    free(time);
    return nullptr;
  }
  dt->date = date;
  dt->time = time;
  return dt;
}

}  // namespace

OrvDate* CreateOrvDate(int16_t year, uint8_t month, uint8_t day) {
  OrvDate* date = static_cast<OrvDate*>(malloc(sizeof(OrvDate)));
  if (!date) {
    LogError("OrvDate creation failed");
    return nullptr;
  }
  date->year = year;
  date->month = month;
  date->day = day;
  return date;
}

OrvTime* CreateOrvTime(uint8_t hour, uint8_t minute, uint8_t second) {
  OrvTime* time = static_cast<OrvTime*>(malloc(sizeof(OrvTime)));
  if (!time) {
    LogError("OrvTime creation failed");
    return nullptr;
  }
  time->hour = hour;
  time->minute = minute;
  time->second = second;
  return time;
}

OrvDateTime* CreateOrvDateTime(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                               uint8_t second) {
  OrvDate* date = CreateOrvDate(year, month, day);
  OrvTime* time = date ? CreateOrvTime(hour, minute, second) : nullptr;
  OrvDateTime* dt = time ? Assemble(date, time) : nullptr;  // Assemble frees the parts on failure
  if (!dt) {
    if (!time) free(date);
    LogError("OrvDateTime creation failed");
  }
  return dt;
}

void FreeOrvDateTime(OrvDateTime* dateTime) {
  if (!dateTime) return;
  free(dateTime->date);
  free(dateTime->time);
  free(dateTime);
}

char* OrvDateToString(const OrvDate* date) {
  if (!date) return nullptr;
  return NewText(FormatText("%04d-%02d-%02d", date->year, date->month, date->day));
}

char* OrvTimeToString(const OrvTime* time) {
  if (!time) return nullptr;
  return NewText(FormatText("%02d:%02d:%02d", time->hour, time->minute, time->second));
}

char* OrvDateTimeToString(const OrvDateTime* dateTime) {
  if (!dateTime) return nullptr;
  const OrvDate* d = dateTime->date;
  const OrvTime* t = dateTime->time;
  if (d && t)
    return NewText(FormatText("%04d-%02d-%02d %02d:%02d:%02d", d->year, d->month, d->day, t->hour, t->minute,
                              t->second));
  if (t) return OrvTimeToString(t);
  return OrvDateToString(d);
}

std::optional<std::string> DateTimeValueText(const void* value, uint8_t type) {
  char* text = nullptr;
  if (type == ORV_SQL_DATE) {
    OrvDate date;
    memcpy(&date, value, sizeof date);
    text = OrvDateToString(&date);
  } else if (type == ORV_SQL_TIME) {
    OrvTime time;
    memcpy(&time, value, sizeof time);
    text = OrvTimeToString(&time);
  } else if (OrvDateTime* dateTime = UnpackOrvDateTime(value, sizeof(OrvDateTimeValue))) {
    text = OrvDateTimeToString(dateTime);
    FreeOrvDateTime(dateTime);
  }
  if (!text) return std::nullopt;
  std::string out(text);
  free(text);
  return out;
}

OrvDateTime* ConvertStringToOrvDateTime(const char* text) {
  LogTrace("Inside ConvertStringToOrvDateTime \n");
  if (!text) {
    LogError("datetimeStr NULL \n");
    return nullptr;
  }
  Fields f;
  if (ReadDateTimeText(text, &f) == TextForm::kNone) return nullptr;
  return CreateOrvDateTime(static_cast<int16_t>(f.year), static_cast<uint8_t>(f.month), static_cast<uint8_t>(f.day),
                           static_cast<uint8_t>(f.hour), static_cast<uint8_t>(f.minute),
                           static_cast<uint8_t>(f.second));
}

void* ConvertStringToOrvDateOrTime(const char* text, uint8_t* typeCode) {
  if (!text) {
    LogError("datetimeStr NULL \n");
    return nullptr;
  }
  Fields f;
  uint8_t code = 0;
  void* value = nullptr;
  switch (ReadDateTimeText(text, &f)) {
    case TextForm::kDateTime:
      code = 18;
      value = CreateOrvDateTime(static_cast<int16_t>(f.year), static_cast<uint8_t>(f.month),
                                static_cast<uint8_t>(f.day), static_cast<uint8_t>(f.hour),
                                static_cast<uint8_t>(f.minute), static_cast<uint8_t>(f.second));
      break;
    case TextForm::kDate:
      code = 16;
      value = DateOf(f);
      break;
    case TextForm::kTime:
      code = 17;
      value = TimeOf(f);
      break;
    case TextForm::kNone: break;
  }
  if (value && typeCode) *typeCode = code;
  return value;
}

OrvDateTime* ConvertStringToOrvGenDateTime(const char* text) {
  LogTrace("Inside ConvertStringToOrvGenDateTime \n");
  if (!text) {
    LogError("datetimeStr NULL \n");
    return nullptr;
  }
  Fields f;
  const TextForm form = ReadDateTimeText(text, &f);
  if (form == TextForm::kNone) {
    LogError("The String is not a datetimeStr \n");
    return nullptr;
  }
  OrvDate* date = nullptr;
  OrvTime* time = nullptr;
  if (form != TextForm::kTime && !(date = DateOf(f))) return nullptr;
  if (form != TextForm::kDate && !(time = TimeOf(f))) {
    free(date);
    return nullptr;
  }
  return Assemble(date, time);
}

OrvDateTime* AddToOrvDateTime(OrvDateTime* dateTime, uint32_t amount, uint8_t unit) {
  if (dateTime) Shift(dateTime, amount, unit);
  return dateTime;
}

OrvDateTime* SubtractFromOrvDateTime(OrvDateTime* dateTime, uint32_t amount, uint8_t unit) {
  if (dateTime) Shift(dateTime, -static_cast<int64_t>(amount), unit);
  return dateTime;
}

bool IsLaterOrvDateTime(const OrvDateTime* a, const OrvDateTime* b) {
  if (!a || !b) return false;
  const Fields fa = FieldsOf(a);
  const Fields fb = FieldsOf(b);
  const int64_t ka[] = {fa.year, fa.month, fa.day, fa.hour, fa.minute, fa.second};
  const int64_t kb[] = {fb.year, fb.month, fb.day, fb.hour, fb.minute, fb.second};
  for (int i = 0; i < 6; ++i)
    if (ka[i] != kb[i]) return ka[i] > kb[i];
  return false;
}

OrvDateTime* GetCurrentOrvDateTime() {
  const twplat::LocalTime now = twplat::Now();
  OrvDateTime* dt = static_cast<OrvDateTime*>(calloc(1, sizeof(OrvDateTime)));
  if (!dt) {
    LogError("MEMORY ALLOCATION FAILURE FOR dateTimePtr");
    return nullptr;
  }
  dt->date = CreateOrvDate(static_cast<int16_t>(now.year), static_cast<uint8_t>(now.month),
                           static_cast<uint8_t>(now.day));
  if (!dt->date) {
    LogError("CreateOrvDate Failed");
    free(dt);
    return nullptr;
  }
  dt->time = CreateOrvTime(static_cast<uint8_t>(now.hour), static_cast<uint8_t>(now.minute),
                           static_cast<uint8_t>(now.second));
  if (!dt->time) {
    LogError("CreateOrvTime Failed");
    FreeOrvDateTime(dt);
    return nullptr;
  }
  return dt;
}

OrvDateTimeValue PackOrvDateTime(const OrvDateTime* dateTime) {
  OrvDateTimeValue v;
  memset(&v, 0, sizeof v);
  if (!dateTime) return v;
  if (const OrvDate* d = dateTime->date) {
    memcpy(v.year, &d->year, sizeof v.year);
    v.month = d->month;
    v.day = d->day;
    v.parts |= kOrvDatePart;
  }
  if (const OrvTime* t = dateTime->time) {
    v.hour = t->hour;
    v.minute = t->minute;
    v.second = t->second;
    v.parts |= kOrvTimePart;
  }
  memcpy(v.extra, dateTime->extra, sizeof v.extra);
  return v;
}

OrvDateTime* UnpackOrvDateTime(const void* bytes, int32_t length) {
  if (!bytes || length != static_cast<int32_t>(sizeof(OrvDateTimeValue))) return nullptr;
  OrvDateTimeValue v;
  memcpy(&v, bytes, sizeof v);
  OrvDate* date = nullptr;
  OrvTime* time = nullptr;
  if (v.parts & kOrvDatePart) {
    int16_t year = 0;
    memcpy(&year, v.year, sizeof year);
    if (!(date = CreateOrvDate(year, v.month, v.day))) return nullptr;
  }
  if ((v.parts & kOrvTimePart) && !(time = CreateOrvTime(v.hour, v.minute, v.second))) {
    free(date);
    return nullptr;
  }
  OrvDateTime* dt = Assemble(date, time);
  if (dt) memcpy(dt->extra, v.extra, sizeof v.extra);
  return dt;
}

int32_t CompareTime(const std::tm* a, const std::tm* b) {
  if (!a || !b) return 0;
  const int ka[] = {a->tm_year, a->tm_mon, a->tm_mday, a->tm_hour, a->tm_min, a->tm_sec};
  const int kb[] = {b->tm_year, b->tm_mon, b->tm_mday, b->tm_hour, b->tm_min, b->tm_sec};
  for (int i = 0; i < 6; ++i)
    if (ka[i] != kb[i]) return ka[i] > kb[i] ? 1 : 0;
  return 1;
}

int32_t ParseMonth(const char* name) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (!name) return -1;
  for (int32_t i = 0; i < 12; ++i)
    if (CompareStringsNoCase(name, kMonths[i]) == 0) return i;
  return -1;
}

std::tm* ParseDateTime(const char* text) {
  if (!text) return nullptr;
  char weekday[32], month[32], zone[32];
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  bool matched = false;
  // RFC 1123, then RFC 850 (two-digit year kept as written), then asctime.
  if (ScanText(text, "%31s %d %31s %d %d:%d:%d %31s", weekday, &day, month, &year, &hour, &minute, &second,
               zone) == 8) {
    matched = year >= INT_MIN + 1900;
    year -= matched ? 1900 : 0;
  } else if (ScanText(text, "%31s %d-%3s-%d %d:%d:%d %31s", weekday, &day, month, &year, &hour, &minute,
                      &second, zone) == 8) {
    matched = true;
  } else if (ScanText(text, "%31s %31s %d %d:%d:%d %d", weekday, month, &day, &hour, &minute, &second, &year) ==
             7) {
    matched = year >= INT_MIN + 1900;
    year -= matched ? 1900 : 0;
  }
  if (!matched) return nullptr;
  const int32_t monthIndex = ParseMonth(month);
  if (monthIndex < 0) return nullptr;
  std::tm* tm = static_cast<std::tm*>(calloc(1, sizeof(std::tm)));
  if (!tm) return nullptr;
  tm->tm_sec = second;
  tm->tm_min = minute;
  tm->tm_hour = hour;
  tm->tm_mday = day;
  tm->tm_mon = monthIndex;
  tm->tm_year = year;
  return tm;
}
