// Text to column value: one stored form per type code, integers within their
// type's range, the date-time forms, booleans, and the types without a form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabledata/dict/dictionary.h"
#include "tabledata/values/datetime.h"

namespace {

template <typename T>
std::vector<unsigned char> Bytes(T value) {
  std::vector<unsigned char> b(sizeof(T));
  memcpy(b.data(), &value, sizeof(T));
  return b;
}

std::vector<unsigned char> Text(const char* s) { return std::vector<unsigned char>(s, s + strlen(s)); }

}  // namespace

TEST(ConvertTextToColumnValue, OneFormPerType) {
  struct Case {
    const char* text;
    int32_t length;  // -1: the text's length
    uint8_t type;
    bool converted;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"42", -1, 1, true, Bytes<int32_t>(42)},
      {"-128", -1, 1, true, Bytes<int32_t>(-128)},   // sign-extended to 4 bytes
      {"128", -1, 1, true, Bytes<int32_t>(0)},       // out of range is not a number
      {"255", -1, 2, true, Bytes<int32_t>(255)},     // zero-extended
      {"-1", -1, 2, true, Bytes<int32_t>(0)},
      {"-32768", -1, 3, true, Bytes<int32_t>(-32768)},
      {"65535", -1, 4, true, Bytes<int32_t>(65535)},
      {"+7", -1, 5, true, Bytes<int32_t>(7)},
      {"12x", -1, 5, true, Bytes<int32_t>(0)},
      {"", -1, 5, true, Bytes<int32_t>(0)},
      {"2147483648", -1, 5, true, Bytes<int32_t>(0)},
      {"4294967295", -1, 6, true, Bytes<uint32_t>(4294967295u)},
      {"-9223372036854775808", -1, 7, true, Bytes<int64_t>(INT64_MIN)},
      {"9223372036854775808", -1, 7, true, Bytes<int64_t>(0)},
      {"18446744073709551615", -1, 8, true, Bytes<uint64_t>(UINT64_MAX)},
      {"123", 2, 5, true, Bytes<int32_t>(12)},  // only the given length
      {"1.5", -1, 9, true, Bytes<float>(1.5f)},
      {"-.25", -1, 11, true, Bytes<float>(-0.25f)},
      {"2.", -1, 10, true, Bytes<double>(2.0)},
      {"1e5", -1, 10, true, Bytes<double>(0.0)},
      {"1.2.3", -1, 9, true, Bytes<float>(0.0f)},
      {"abc", -1, 14, true, Text("abc")},
      {"abcdef", 3, 22, true, Text("abc")},
      {"ab\0cd", 5, 15, true, Text("ab")},  // a text ends at its zero byte
      {"12.50", -1, 12, true, Text("12.50")},
      {"blob", 2, 20, true, Text("bl")},
      {"raw", -1, 0, true, Text("raw")},
      {"TRUE", -1, 19, true, {1}},
      {"false", -1, 19, true, {0}},
      {"yes", -1, 19, false, {}},
      {"TRUEX", -1, 19, false, {}},
      {"x", -1, 23, false, {}},
      {"x", -1, 255, false, {}},
  };
  for (const Case& c : cases) {
    int32_t length = c.length < 0 ? static_cast<int32_t>(strlen(c.text)) : c.length;
    void* value = ConvertTextToColumnValue(c.text, &length, c.type);
    EXPECT_EQ(value != nullptr, c.converted) << c.text << " type " << int(c.type);
    if (value && c.converted) {
      const unsigned char* b = static_cast<const unsigned char*>(value);
      EXPECT_EQ(std::vector<unsigned char>(b, b + length), c.bytes) << c.text << " type " << int(c.type);
      EXPECT_EQ(b[length], 0) << "every value buffer ends with a zero byte";
    }
    free(value);
  }
}

TEST(ConvertTextToColumnValue, DateAndTimeRecords) {
  int32_t length = 10;
  void* v = ConvertTextToColumnValue("2024-03-05", &length, 16);
  ASSERT_EQ(length, 4);
  const OrvDate* date = static_cast<const OrvDate*>(v);
  EXPECT_EQ(date->year * 10000 + date->month * 100 + date->day, 20240305);
  free(v);
  length = 8;
  v = ConvertTextToColumnValue("12:30:07", &length, 17);
  ASSERT_EQ(length, 3);
  EXPECT_EQ(static_cast<const OrvTime*>(v)->second, 7);
  free(v);
  length = 3;
  EXPECT_EQ(ConvertTextToColumnValue("abc", &length, 18), nullptr);
  EXPECT_EQ(length, 3);  // unchanged when nothing is converted
  length = -1;
  EXPECT_EQ(ConvertTextToColumnValue("1", &length, 5), nullptr);
}
