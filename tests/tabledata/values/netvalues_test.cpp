// Network-management value conversions: IP address and object-identifier
// texts, hex round trips, the octet date-and-time form, 64-bit counters,
// integer texts, the key scrambling, the message queue and the folder check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabledata/values/msgqueue.h"
#include "tabledata/values/netvalues.h"
#include "tests/support/logcheck.h"

namespace {

std::string Text(char* text) {
  std::string s = text ? text : "<none>";
  free(text);
  return s;
}

std::vector<uint32_t> Oid(const char* text, bool isIp, int32_t* result) {
  uint32_t* values = nullptr;
  *result = ConvertToOidOrIpFromString(&values, text, isIp);
  std::vector<uint32_t> out(values, values + (*result > 0 ? *result : 0));
  free(values);
  return out;
}

}  // namespace

TEST(IsValidIPAddress, FourDecimalPartsUpTo255) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"10.0.0.1", true},  {"0.0.0.0", true},   {"01.2.3.4", true},   {"255.255.255.255", true},
      {"00.0.0.0", true},  {"10.00.1", false},  {"256.1.1.1", false}, {"1..1.1", false},
      {".1.2.3", false},   {"1.2.3.4.", false}, {"1.2.3.4.5", false}, {"1.2.3.a", false},
      {"1.2.3.-1", false}, {"", false},         {"99999999999.1.1.1", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsValidIPAddress(c.text, static_cast<int32_t>(strlen(c.text))), c.valid) << c.text;
  // Only the given length counts.
  EXPECT_TRUE(IsValidIPAddress("1.2.3.4garbage", 7));
  EXPECT_FALSE(IsValidIPAddress(nullptr, 7));
}

TEST(ConvertToOidOrIpFromString, CountsAgainstTheDots) {
  struct Case {
    const char* text;
    bool isIp;
    int32_t result;
    std::vector<uint32_t> values;
  } cases[] = {
      {".1.3.6", false, 3, {1, 3, 6}},
      {"10.0.0.1", true, 4, {10, 0, 0, 1}},
      {".4294967295.0", false, 2, {4294967295u, 0}},
      {"1.3.6", false, 0, {}},  // an identifier starts with "."
      {".1..3", false, -1, {}},
      {".1.x", false, -1, {}},
      {".4294967296.1", false, -1, {}},
      {".-1.2", false, -1, {}},
      {"10.0.0.", true, -1, {}},
  };
  for (const Case& c : cases) {
    int32_t result = 0;
    EXPECT_EQ(Oid(c.text, c.isIp, &result), c.values) << c.text;
    EXPECT_EQ(result, c.result) << c.text;
  }
  twtest::LogCapture log;
  int32_t result = 0;
  Oid("10", true, &result);
  EXPECT_EQ(result, -1);
  Oid("1", false, &result);
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "Incorrect format of IpAddress\n"));
  EXPECT_TRUE(twtest::HasLine(log, "[ERROR]", "Incorrect format of OID\n"));
}

TEST(ObjectIdentifier, OrderTextsAndCopies) {
  const uint32_t a[] = {1, 3, 6, 1};
  const uint32_t b[] = {1, 3, 7};
  const uint32_t big[] = {4000000000u};
  EXPECT_EQ(CompareOid(a, 4, b, 3), -1);
  EXPECT_EQ(CompareOid(b, 3, a, 4), 1);
  EXPECT_EQ(CompareOid(a, 3, a, 4), -1);  // a prefix sorts first
  EXPECT_EQ(CompareOid(a, 4, a, 4), 0);
  EXPECT_EQ(CompareOid(big, 1, a, 1), 1);  // unsigned order
  EXPECT_EQ(GetNextSubId(3, a, 4), 6u);
  EXPECT_EQ(GetNextSubId(6, a, 4), 0u);
  EXPECT_TRUE(IsValidOid(".1.3", 4));
  EXPECT_FALSE(IsValidOid(".1", 2));
  EXPECT_FALSE(IsValidOid("1.3.6", 5));

  int32_t length = 12;  // bytes: three sub-identifiers
  EXPECT_EQ(Text(ConvertToStringFromOID(a, &length)), ".1.3.6");
  EXPECT_EQ(length, 6);
  char out[9];
  EXPECT_TRUE(ConvertToStringFromOid(a, 4, out, sizeof out));
  EXPECT_STREQ(out, ".1.3.6.1");
  EXPECT_FALSE(ConvertToStringFromOid(a, 4, out, 8));  // 8 characters need 9 bytes
  const uint32_t ip[] = {9, 192, 168, 0, 1, 9};
  char address[16];
  EXPECT_TRUE(ConvertToIpAddressFromOid(address, sizeof address, ip, 1, 5));
  EXPECT_STREQ(address, "192.168.0.1");
  EXPECT_FALSE(ConvertToIpAddressFromOid(address, 4, ip, 1, 5));

  int32_t signedIds[2];
  uint32_t unsignedIds[2];
  CopyStringToOid(signedIds, "A\xC8", 2);
  CopyStringToOID(unsignedIds, "A\xC8", 2);
  EXPECT_EQ(signedIds[1], -56);
  EXPECT_EQ(unsignedIds[1], 200u);
  const uint32_t values[] = {65, 255, 256, 510 + 66};
  char chars[4];
  ConvertToCharArray(chars, values, 1, 3);  // value mod 255, then a zero byte
  EXPECT_EQ(std::string(chars, 4), std::string("\0\x01" "B\0", 4));
}

TEST(HexValues, DigitsNibblesAndRoundTrips) {
  struct Case {
    char c;
    int hex;
    int decimal;
  } cases[] = {{'0', 0, 0}, {'9', 9, 9}, {'A', 10, 10}, {'f', 15, 15}, {'g', 'g', 0}, {'\x05', 5, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(GetHexValue(c.c), c.hex) << c.c;
    EXPECT_EQ(ConvertToDecimalFromHexa(c.c), c.decimal) << c.c;
  }
  char text[] = "0aFF7c1";  // the odd last digit is left over
  ConvertToHexValue(text, 7);
  EXPECT_EQ(std::vector<unsigned char>(text, text + 3), (std::vector<unsigned char>{0x0A, 0xFF, 0x7C}));

  // Bytes to nibbles and back gives the same bytes.
  const unsigned char bytes[] = {0x00, 0x7F, 0x80, 0xFF, 0x5A};
  char nibbles[10];
  ConvertToStringFromHex(nibbles, bytes, 5);
  EXPECT_EQ(nibbles[2], 7);
  EXPECT_EQ(nibbles[3], 15);
  ConvertToHexValue(nibbles, 10);
  EXPECT_EQ(memcmp(nibbles, bytes, 5), 0);
}

TEST(OctetDateAndTime, TextFormsBothWays) {
  const uint8_t eight[] = {0x07, 0xE8, 0x03, 0x05, 0x07, 0x08, 0x09, 0x00};
  int32_t length = 8;
  EXPECT_EQ(Text(ConvertToStringFromDateTime(eight, &length)), "2024-3-5,7:8:9.0");
  EXPECT_EQ(length, 16);
  const uint8_t eleven[] = {0x07, 0xE8, 0x0C, 0x1F, 0x17, 0x3B, 0x3B, 0x09, '-', 5, 30};
  length = 11;
  EXPECT_EQ(Text(ConvertToStringFromDateTime(eleven, &length)), "2024-12-31,23:59:59.9,-5:30");
  length = 9;
  EXPECT_EQ(ConvertToStringFromDateTime(eleven, &length), nullptr);

  uint8_t* octets = ConvertToDateTimeFromString("2024-3-5,7:8:9.0", &length);
  ASSERT_EQ(length, 8);
  EXPECT_EQ(memcmp(octets, eight, 8), 0);
  free(octets);
  octets = ConvertToDateTimeFromString("2024-12-31,23:59:59.9,-5:30", &length);
  ASSERT_EQ(length, 11);
  EXPECT_EQ(memcmp(octets, eleven, 11), 0);
  free(octets);
  EXPECT_EQ(ConvertToDateTimeFromString("2024-3-5,7:8:9.0,+5", &length), nullptr);  // 9 fields
  EXPECT_EQ(ConvertToDateTimeFromString("2024-3-5", &length), nullptr);
}

TEST(Counter64, WordsBytesAndText) {
  const Counter64 c = ConvertToCounter64FromULongLong(0x0102030405060708ULL);
  EXPECT_EQ(c.high, 0x01020304u);
  EXPECT_EQ(c.low, 0x05060708u);
  EXPECT_EQ(ConvertToULongLongFromCounter64(c), 0x0102030405060708ULL);

  const uint8_t nine[] = {0xEE, 1, 2, 3, 4, 5, 6, 7, 8};
  Counter64 out{0, 0};
  ASSERT_TRUE(ConvertToCounter64(&out, nine, 9));  // the first of nine bytes is skipped
  EXPECT_EQ(ConvertToULongLongFromCounter64(out), 0x0102030405060708ULL);
  ASSERT_TRUE(ConvertToCounter64(&out, nine + 6, 3));
  EXPECT_EQ(out.high, 0u);
  EXPECT_EQ(out.low, 0x060708u);
  const uint8_t ten[10] = {};
  EXPECT_FALSE(ConvertToCounter64(&out, ten, 10));

  EXPECT_EQ(Text(Counter64ToString(ConvertToCounter64FromULongLong(~0ULL))), "18446744073709551615");
  EXPECT_EQ(Text(Counter64ToString(Counter64{1, 0})), "4294967296");
}

TEST(IntegerTexts, SignedUnsignedAndKinds) {
  EXPECT_EQ(Text(ConvertToStringFromInteger(-2147483647 - 1)), "-2147483648");
  int32_t length = 0;
  EXPECT_EQ(Text(ConvertToStringFromUnsignedInteger(4294967295u, &length)), "4294967295");
  EXPECT_EQ(length, 10);
  const int32_t v = -42;
  EXPECT_EQ(Text(ToString(&v, 4, 0)), "-42");
  EXPECT_EQ(ToString(&v, 2, 0), nullptr);
  EXPECT_EQ(Text(ToString(&v, 4, 1)), "TRUE");
  EXPECT_EQ(Text(ToString(nullptr, 0, 1)), "FALSE");
  EXPECT_EQ(ToString(&v, 4, 2), nullptr);
}

TEST(EncryptDecryptKey, TwiceRestoresAndKeysNeverOverflow) {
  struct Case {
    int32_t key;
    uint8_t xorByte;
  } cases[] = {
      {0, 9}, {246, 255}, {247, 1}, {2147483638, 2147483647 % 255}, {2147483647, 0x08}, {-9, 0}, {-2147483647 - 1, 9},
  };
  for (const Case& c : cases) {
    uint8_t bytes[] = {0x00, 0xFF, 0x5A};
    EncryptDecryptKey(bytes, 3, c.key);
    EXPECT_EQ(bytes[0], c.xorByte) << c.key;
    EncryptDecryptKey(bytes, 3, c.key);
    EXPECT_EQ(bytes[1], 0xFF) << c.key;
    EXPECT_EQ(bytes[2], 0x5A) << c.key;
  }
}

TEST(ReallocateAndSet, ReplacesTheOldContent) {
  char* text = strdup("old");
  EXPECT_EQ(ReallocateAndSetString(&text, "new\0x", 5), 1);
  EXPECT_EQ(memcmp(text, "new\0x\0", 6), 0);
  free(text);
  uint32_t* oid = nullptr;
  int32_t count = 0;
  const uint32_t src[] = {1, 3, 6};
  EXPECT_EQ(ReallocateAndSetOID(&oid, &count, src, 3), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(oid[2], 6u);
  free(oid);
}

TEST(MessageQueue, FirstInFirstOut) {
  Vector queue;
  InitVector(&queue, nullptr);
  EXPECT_EQ(ReadMsgFromQueueForProcessing(&queue), nullptr);
  EXPECT_TRUE(AddRcvdMsgToQueue(&queue, "one"));
  EXPECT_TRUE(AddRcvdMsgToQueue(&queue, "two"));
  EXPECT_EQ(Text(ReadMsgFromQueueForProcessing(&queue)), "one");
  EXPECT_TRUE(AddRcvdMsgToQueue(&queue, "three"));
  EXPECT_EQ(Text(ReadMsgFromQueueForProcessing(&queue)), "two");
  EXPECT_EQ(Text(ReadMsgFromQueueForProcessing(&queue)), "three");
  EXPECT_EQ(ReadMsgFromQueueForProcessing(&queue), nullptr);
  EXPECT_EQ(queue.count, 0);
  EXPECT_EQ(queue.tail, nullptr);
  EXPECT_FALSE(AddRcvdMsgToQueue(&queue, nullptr));
}

TEST(IsDirectory, FoldersOnly) {
  const std::string dir = twtest::MakeScratchDir("isdir");
  const std::string file = twtest::Join(dir, "file.txt");
  twtest::WriteFile(file, "x");
  EXPECT_TRUE(IsDirectory(dir.c_str()));
  EXPECT_FALSE(IsDirectory(file.c_str()));
  EXPECT_FALSE(IsDirectory(twtest::Join(dir, "missing").c_str()));
  EXPECT_FALSE(IsDirectory(nullptr));
  twtest::RemoveTree(dir);
}
