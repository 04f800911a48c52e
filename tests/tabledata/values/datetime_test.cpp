// Date and time values: text forms both ways, calendar arithmetic without time
// zones, comparison, the flat row form, and the HTTP-style date texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tabledata/values/datetime.h"
#include "tests/support/logcheck.h"

namespace {

std::string Text(char* text) {
  std::string s = text ? text : "<none>";
  free(text);
  return s;
}

// "YYYY-MM-DD hh:mm:ss" -> a date-time with both parts.
OrvDateTime* Make(const char* text) { return ConvertStringToOrvDateTime(text); }

std::string Shifted(const char* start, uint32_t amount, uint8_t unit, bool add) {
  OrvDateTime* dt = Make(start);
  if (add)
    AddToOrvDateTime(dt, amount, unit);
  else
    SubtractFromOrvDateTime(dt, amount, unit);
  std::string s = Text(OrvDateTimeToString(dt));
  FreeOrvDateTime(dt);
  return s;
}

}  // namespace

TEST(OrvDateTimeText, LeadingZerosAndEachCombinationOfParts) {
  OrvDateTime* dt = CreateOrvDateTime(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(Text(OrvDateTimeToString(dt)), "2024-03-05 07:08:09");
  free(dt->time);
  dt->time = nullptr;
  EXPECT_EQ(Text(OrvDateTimeToString(dt)), "2024-03-05");
  free(dt->date);
  dt->date = nullptr;
  EXPECT_EQ(OrvDateTimeToString(dt), nullptr);
  dt->time = CreateOrvTime(23, 59, 0);
  EXPECT_EQ(Text(OrvDateTimeToString(dt)), "23:59:00");
  FreeOrvDateTime(dt);
  EXPECT_EQ(OrvDateTimeToString(nullptr), nullptr);
}

TEST(ConvertStringToOrvDateTime, ThreeFormsAlwaysBothParts) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"2024-03-05 07:08:09", "2024-03-05 07:08:09"},
      {"12:30:00", "0000-00-00 12:30:00"},
      {"2024-03-05", "2024-03-05 00:00:00"},
      {"2024-03-xx", "2024-03-00 00:00:00"},        // fields not read are 0
      {"99999999999-01-01", "0000-00-00 00:00:00"},  // a number beyond 32 bits is not read
      {"abc", "<none>"},
  };
  for (const Case& c : cases) {
    OrvDateTime* dt = ConvertStringToOrvDateTime(c.text);
    EXPECT_TRUE(!dt || (dt->date && dt->time)) << c.text;
    EXPECT_EQ(Text(OrvDateTimeToString(dt)), c.expected) << c.text;
    FreeOrvDateTime(dt);
  }
  twtest::LogCapture log;
  EXPECT_EQ(ConvertStringToOrvDateTime(nullptr), nullptr);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "datetimeStr NULL \n"));
}

TEST(ConvertStringToOrvGenDateTime, PartsAndTypeCodesFollowTheText) {
  OrvDateTime* dateOnly = ConvertStringToOrvGenDateTime("2024-03-05");
  OrvDateTime* timeOnly = ConvertStringToOrvGenDateTime("12:30:00");
  ASSERT_TRUE(dateOnly && timeOnly);
  EXPECT_EQ(dateOnly->time, nullptr);
  EXPECT_EQ(timeOnly->date, nullptr);
  EXPECT_EQ(Text(OrvDateTimeToString(timeOnly)), "12:30:00");
  FreeOrvDateTime(dateOnly);
  FreeOrvDateTime(timeOnly);

  uint8_t code = 0;
  void* v = ConvertStringToOrvDateOrTime("2024-03-05", &code);
  EXPECT_EQ(code, 16);
  EXPECT_EQ(static_cast<OrvDate*>(v)->day, 5);
  free(v);
  free(ConvertStringToOrvDateOrTime("07:08:09", &code));
  EXPECT_EQ(code, 17);
  FreeOrvDateTime(static_cast<OrvDateTime*>(ConvertStringToOrvDateOrTime("2024-03-05 07:08:09", &code)));
  EXPECT_EQ(code, 18);

  twtest::LogCapture log;
  EXPECT_EQ(ConvertStringToOrvGenDateTime("noon"), nullptr);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "The String is not a datetimeStr \n"));
}

TEST(AddToOrvDateTime, CalendarArithmeticWithoutTimeZones) {
  struct Case {
    const char* start;
    uint32_t amount;
    uint8_t unit;
    bool add;
    const char* expected;
  } cases[] = {
      {"2024-01-31 00:00:00", 1, ORV_MONTHS, true, "2024-03-02 00:00:00"},  // month overflow normalised
      {"2023-01-31 00:00:00", 1, ORV_MONTHS, true, "2023-03-03 00:00:00"},
      {"2024-03-31 00:00:00", 1, ORV_MONTHS, false, "2024-03-02 00:00:00"},
      {"2024-02-29 10:00:00", 12, ORV_MONTHS, true, "2025-03-01 10:00:00"},
      {"2024-05-06 07:08:09", 1500, ORV_MILLISECONDS, true, "2024-05-06 07:08:10"},
      {"2024-05-06 07:08:09", 999999, ORV_MICROSECONDS, true, "2024-05-06 07:08:09"},
      {"2024-05-06 07:08:09", 2000000000, ORV_NANOSECONDS, true, "2024-05-06 07:08:11"},
      // Summer dates and the spring-forward hour move by exactly what was asked.
      {"2024-07-15 12:00:00", 1, ORV_DAYS, true, "2024-07-16 12:00:00"},
      {"2024-03-31 01:30:00", 1, ORV_HOURS, true, "2024-03-31 02:30:00"},
      {"2024-10-27 02:30:00", 60, ORV_MINUTES, false, "2024-10-27 01:30:00"},
      {"2023-12-31 23:59:59", 1, ORV_SECONDS, true, "2024-01-01 00:00:00"},
      {"2024-01-01 00:00:00", 1, ORV_SECONDS, false, "2023-12-31 23:59:59"},
      {"2024-12-31 12:00:00", 1, ORV_DAYS, true, "2025-01-01 12:00:00"},
      {"2023-02-28 00:00:00", 1, ORV_DAYS, true, "2023-03-01 00:00:00"},
      {"2024-02-28 00:00:00", 1, ORV_DAYS, true, "2024-02-29 00:00:00"},
      {"2024-01-01 00:00:00", 2, ORV_WEEKS, true, "2024-01-15 00:00:00"},
      {"2024-01-01 00:00:00", 5, 10, true, "2024-01-01 00:00:00"},           // unknown unit
      {"2024-01-01 00:00:00", 4294967295u, ORV_MONTHS, true, "2024-01-01 00:00:00"},  // year beyond 16 bits
      {"2024-01-01 00:00:00", 4294967295u, ORV_WEEKS, false, "2024-01-01 00:00:00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Shifted(c.start, c.amount, c.unit, c.add), c.expected)
        << c.start << (c.add ? " + " : " - ") << c.amount << " unit " << int(c.unit);
}

TEST(AddToOrvDateTime, OnlyThePartsPresentChange) {
  OrvDateTime* date = ConvertStringToOrvGenDateTime("2024-03-05");
  AddToOrvDateTime(date, 25, ORV_HOURS);
  EXPECT_EQ(Text(OrvDateTimeToString(date)), "2024-03-06");
  OrvDateTime* time = ConvertStringToOrvGenDateTime("23:00:00");
  AddToOrvDateTime(time, 2, ORV_HOURS);
  EXPECT_EQ(Text(OrvDateTimeToString(time)), "01:00:00");
  FreeOrvDateTime(date);
  FreeOrvDateTime(time);
  EXPECT_EQ(AddToOrvDateTime(nullptr, 1, ORV_DAYS), nullptr);
}

TEST(IsLaterOrvDateTime, FieldByFieldAndNeverForEqualOrAbsent) {
  struct Case {
    const char* a;
    const char* b;
    bool later;
  } cases[] = {
      {"2024-03-05 07:08:10", "2024-03-05 07:08:09", true},
      {"2024-03-05 07:08:09", "2024-03-05 07:08:10", false},
      {"2024-03-05 07:08:09", "2024-03-05 07:08:09", false},
      {"2025-01-01 00:00:00", "2024-12-31 23:59:59", true},
      {"2024-02-01 00:00:00", "2024-01-31 23:59:59", true},
  };
  for (const Case& c : cases) {
    OrvDateTime* a = Make(c.a);
    OrvDateTime* b = Make(c.b);
    EXPECT_EQ(IsLaterOrvDateTime(a, b), c.later) << c.a << " vs " << c.b;
    FreeOrvDateTime(a);
    FreeOrvDateTime(b);
  }
  OrvDateTime* a = Make("2024-01-01 00:00:00");
  EXPECT_FALSE(IsLaterOrvDateTime(a, nullptr));
  EXPECT_FALSE(IsLaterOrvDateTime(nullptr, a));
  FreeOrvDateTime(a);
}

TEST(OrvDateTimeValue, FlatElevenBytesSurviveAByteCopy) {
  OrvDateTime* dt = CreateOrvDateTime(-300, 12, 31, 23, 59, 58);
  const OrvDateTimeValue packed = PackOrvDateTime(dt);
  unsigned char copy[11];
  memcpy(copy, &packed, sizeof copy);
  FreeOrvDateTime(dt);
  dt = UnpackOrvDateTime(copy, 11);
  EXPECT_EQ(Text(OrvDateTimeToString(dt)), "-300-12-31 23:59:58");
  FreeOrvDateTime(dt);
  EXPECT_EQ(UnpackOrvDateTime(copy, 10), nullptr);
}

TEST(GetCurrentOrvDateTime, BothPartsOfAPlausibleNow) {
  OrvDateTime* now = GetCurrentOrvDateTime();
  ASSERT_TRUE(now && now->date && now->time);
  EXPECT_GE(now->date->year, 2024);
  FreeOrvDateTime(now);
}

TEST(ParseMonth, ThreeLettersInAnyCase) {
  struct Case {
    const char* name;
    int32_t index;
  } cases[] = {{"Dec", 11}, {"jan", 0}, {"MAY", 4}, {"January", -1}, {"", -1}, {"Ja", -1}, {nullptr, -1}};
  for (const Case& c : cases) EXPECT_EQ(ParseMonth(c.name), c.index) << (c.name ? c.name : "null");
}

TEST(ParseDateTime, ThreeHttpFormsAndTheirOrder) {
  struct Case {
    const char* text;
    bool parsed;
    int year, month, day, hour, minute, second;
  } cases[] = {
      {"Tue, 05 Mar 2024 07:08:09 GMT", true, 124, 2, 5, 7, 8, 9},
      {"Tuesday, 05-Mar-24 07:08:09 GMT", true, 24, 2, 5, 7, 8, 9},  // two-digit year as written
      {"Tue Mar  5 07:08:09 2024", true, 124, 2, 5, 7, 8, 9},
      {"Tue, 05 Foo 2024 07:08:09 GMT", false, 0, 0, 0, 0, 0, 0},
      {"Tue, 05 Mar 2024 07:08 GMT", false, 0, 0, 0, 0, 0, 0},
      {"yesterday", false, 0, 0, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0, 0, 0},
      // A word longer than its field gives nothing.
      {"Tue, 05 Mar 2024 07:08:09 GMTxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", false, 0, 0, 0, 0, 0, 0},
      {"Tuesdayyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy, 05 Mar 2024 07:08:09 GMT", false, 0, 0, 0, 0, 0, 0},
      {"Tue, 05 Mar 99999999999 07:08:09 GMT", false, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::tm* tm = ParseDateTime(c.text);
    EXPECT_EQ(tm != nullptr, c.parsed) << c.text;
    if (tm && c.parsed) {
      EXPECT_EQ(tm->tm_year, c.year) << c.text;
      EXPECT_EQ(tm->tm_mon, c.month) << c.text;
      EXPECT_EQ(tm->tm_mday, c.day) << c.text;
      EXPECT_EQ(tm->tm_hour, c.hour) << c.text;
      EXPECT_EQ(tm->tm_min, c.minute) << c.text;
      EXPECT_EQ(tm->tm_sec, c.second) << c.text;
    }
    free(tm);
  }
  std::tm* a = ParseDateTime("Tue, 05 Mar 2024 07:08:09 GMT");
  std::tm* b = ParseDateTime("Tue, 05 Mar 2024 07:08:10 GMT");
  EXPECT_EQ(CompareTime(a, b), 0);  // 1 when not earlier
  EXPECT_EQ(CompareTime(b, a), 1);
  EXPECT_EQ(CompareTime(a, a), 1);
  free(a);
  free(b);
}
