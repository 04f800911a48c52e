// Text and byte utilities: splitting and its ownership rule, separator
// counting, byte-to-integer conversion, piece matching, digit parsing,
// comparison order, copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabledata/strutil.h"
#include "tests/support/scratch.h"

namespace {

std::vector<std::string> Pieces(char** pieces) {
  std::vector<std::string> out;
  for (char** p = pieces; *p; ++p) out.emplace_back(*p);
  return out;
}

int32_t Bytes(std::initializer_list<unsigned char> b) {
  std::vector<unsigned char> v(b);
  return ConvertToInteger(v.data(), static_cast<int32_t>(v.size()));
}

}  // namespace

TEST(SplitString, PiecesBetweenSeparatorsAndTheUnsplitTextItself) {
  const char* text = "a:b:c";
  char** pieces = SplitString(text, ":");
  ASSERT_NE(pieces, nullptr);
  EXPECT_EQ(Pieces(pieces), (std::vector<std::string>{"a", "b", "c"}));
  FreeSplitString(pieces, text);

  char* whole = strdup("abc");
  pieces = SplitString(whole, ":");
  ASSERT_NE(pieces, nullptr);
  EXPECT_EQ(pieces[0], whole);  // the same text, not a copy
  EXPECT_EQ(pieces[1], nullptr);
  FreeSplitString(pieces, whole);
  EXPECT_STREQ(whole, "abc");  // still the caller's
  free(whole);

  pieces = SplitString(":a::", ":");
  EXPECT_EQ(Pieces(pieces), (std::vector<std::string>{"", "a", "", ""}));
  FreeSplitString(pieces, nullptr);
  pieces = SplitString("k=>v=>w", "=>");
  EXPECT_EQ(Pieces(pieces), (std::vector<std::string>{"k", "v", "w"}));
  FreeSplitString(pieces, nullptr);

  EXPECT_EQ(SplitString(nullptr, ":"), nullptr);
  EXPECT_EQ(SplitString("a", nullptr), nullptr);
  EXPECT_EQ(SplitString("a", ""), nullptr);
}

TEST(CountSubstring, RepeatedAndOverlappingSeparators) {
  EXPECT_EQ(CountSubstring(",,,", ","), 3);
  EXPECT_EQ(CountSubstring("a,b,", ","), 2);
  EXPECT_EQ(CountSubstring("aaaa", "aa"), 2);  // a match restarts after itself
  EXPECT_EQ(CountSubstring("aaa", "aa"), 1);
  EXPECT_EQ(CountSubstring("abab", "ab"), 2);
  // The byte that breaks a partial match is not tried again as a new start.
  EXPECT_EQ(CountSubstring("aab", "ab"), 0);
  EXPECT_EQ(CountSubstring("", ","), 0);
  EXPECT_EQ(CountSubstring(nullptr, ","), -1);
  EXPECT_EQ(CountSubstring("a", nullptr), -1);

  char* before = GetTextBefore("name=value=x", "=");
  char* after = GetTextAfter("name=value=x", "=");
  EXPECT_STREQ(before, "name");
  EXPECT_STREQ(after, "value=x");
  free(before);
  free(after);
  before = GetTextBefore("novalue", "=");
  after = GetTextAfter("novalue", "=");
  EXPECT_STREQ(before, "");
  EXPECT_STREQ(after, "");
  free(before);
  free(after);
  EXPECT_EQ(GetTextBefore(nullptr, "="), nullptr);
}

TEST(ConvertToInteger, BigEndianWithSignedFirstByte) {
  EXPECT_EQ(Bytes({0x01, 0x00}), 256);
  EXPECT_EQ(Bytes({0x01, 0x02, 0x03, 0x04, 0x05}), -1);
  EXPECT_EQ(Bytes({0xFF}), -1);
  EXPECT_EQ(Bytes({0xFF, 0xFE}), -2);
  EXPECT_EQ(Bytes({0x00, 0xFF}), 255);
  EXPECT_EQ(Bytes({0x80, 0x00, 0x00, 0x00}), INT32_MIN);
  EXPECT_EQ(Bytes({0x7F, 0xFF, 0xFF, 0xFF}), INT32_MAX);
  EXPECT_EQ(ConvertToInteger("", 0), 0);
}

TEST(IsStringMatched, WholePiecesBetweenCommasOnly) {
  EXPECT_TRUE(IsStringMatched("ab,cd", 5, "cd", 2));
  EXPECT_TRUE(IsStringMatched("ab,cd", 5, "ab", 2));
  EXPECT_FALSE(IsStringMatched("ab,cd", 5, "c", 1));
  EXPECT_FALSE(IsStringMatched("ab,cd", 5, "ab,cd", 5));
  EXPECT_TRUE(IsStringMatched("ab,cdX", 5, "cd", 2));  // only the first length bytes count
  EXPECT_FALSE(IsStringMatched("ab,cd", 4, "cd", 2));

  EXPECT_EQ(GetIndex("ab,cd", 5, ','), 2);
  EXPECT_EQ(GetIndex("ab,cd", 2, ','), -1);
  EXPECT_EQ(GetIndex("a\xe9z", 3, '\xe9'), 1);

  const char* text = "find the needle here";
  EXPECT_EQ(SubString(text, "needle"), text + 9);
  EXPECT_EQ(SubString("short", "much longer part"), nullptr);
  EXPECT_TRUE(FindSubString(text, "the"));
  EXPECT_FALSE(FindSubString(text, "The"));
}

TEST(ParseSignedDigits, OptionalSignThenDigitsOnly) {
  EXPECT_EQ(ParseSignedDigits("123"), 123);
  EXPECT_EQ(ParseSignedDigits("-45"), -45);
  EXPECT_EQ(ParseSignedDigits("+7"), 7);
  EXPECT_EQ(ParseSignedDigits("007"), 7);
  EXPECT_EQ(ParseSignedDigits("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseSignedDigits("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "+", "-", "12a", " 1", "1 ", "--1", "2147483648", "99999999999"})
    EXPECT_EQ(ParseSignedDigits(bad), -1) << bad;
  EXPECT_EQ(ParseSignedDigits(nullptr), -1);
}

TEST(CompareStrings, SignGivesByteOrderEvenAboveAscii) {
  EXPECT_EQ(CompareStrings(nullptr, nullptr), 0);
  EXPECT_EQ(CompareStrings(nullptr, "a"), -1);
  EXPECT_EQ(CompareStrings("a", nullptr), 1);
  EXPECT_EQ(CompareStrings("abc", "abc"), 0);
  EXPECT_EQ(CompareStrings("abc", "abd"), -1);
  EXPECT_EQ(CompareStrings("b", "a"), 1);
  EXPECT_EQ(CompareStrings("ab", "a"), 'b');
  EXPECT_GT(CompareStrings("\xc3\xa9", ""), 0);
  EXPECT_GT(CompareStrings("\xff", "\x01"), 0);
  EXPECT_LT(CompareStrings("\x7f", "\x80"), 0);

  EXPECT_EQ(CompareStringsNoCase("Table_A", "tABLE_a"), 0);
  EXPECT_LT(CompareStringsNoCase("ABC", "abd"), 0);
  EXPECT_EQ(CompareStringsNoCase("[", "A"), '[' - 'a');
}

TEST(Copies, DuplicateStringBytesAndReverse) {
  twtest::LogCapture log(4);
  char* copy = nullptr;
  const char* text = "copy me";
  ASSERT_EQ(DuplicateString(&copy, text), 1);
  EXPECT_NE(copy, text);
  EXPECT_STREQ(copy, text);
  free(copy);
  copy = reinterpret_cast<char*>(1);
  EXPECT_EQ(DuplicateString(&copy, nullptr), 1);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(DuplicateString(nullptr, "x"), 99);

  char* bytes = nullptr;
  ASSERT_EQ(DuplicateBytes(&bytes, "a\0b", 3), 1);
  EXPECT_EQ(std::string(bytes, 4), std::string("a\0b\0", 4));
  free(bytes);
  EXPECT_EQ(DuplicateBytes(&bytes, nullptr, 2), 99);

  char word[] = "abcdef";
  ReverseString(word, 3);
  EXPECT_STREQ(word, "cbadef");
  EXPECT_EQ(StringLength(nullptr), 0);
  EXPECT_EQ(StringLength(word), 6);

  char** array = static_cast<char**>(malloc(2 * sizeof(char*)));
  array[0] = strdup("one");
  array[1] = strdup("two");
  FreeStringArray(array, 2);

  EXPECT_NE(SubString("haystack", "st"), nullptr);
  std::string logged = log.Text();
  logged.erase(std::remove(logged.begin(), logged.end(), '\r'), logged.end());
  EXPECT_NE(logged.find("[TRACE] \n\t@@@@@ Inside SubString() @@@@@ \n"), std::string::npos);
}
