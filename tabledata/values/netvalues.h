// Conversions between the network-management value forms and texts: object
// identifiers, IP addresses, 64-bit counters, hex digits, the 8- and 11-byte
// octet date-and-time form (RFC 2579 DateAndTime), integers; plus the key
// scrambling, debug dumps and a folder check of the support library.
#pragma once
#include <cstddef>
#include <cstdint>

// A 64-bit counter as two words, high word first.
struct Counter64 {
  uint32_t high;
  uint32_t low;
};

// Ownership: texts and arrays handed out are malloc'd and the caller's (free()).
// Object identifiers are arrays of uint32_t sub-identifiers with a count.

// 0 to 15 for "0"-"9", "A"-"F", "a"-"f"; any other character unchanged (so the
// nibble values that ConvertToStringFromHex writes read back as themselves).
char GetHexValue(char c);
// As GetHexValue, but 0 for any other character.
char ConvertToDecimalFromHexa(char c);
// Replaces the text in place by the length / 2 bytes of its pairs of digits.
void ConvertToHexValue(char* text, int32_t length);
// Writes 2 x length values 0 to 15 into out (high half first): nibbles, not
// characters. out must hold 2 x length bytes.
void ConvertToStringFromHex(char* out, const void* bytes, int32_t length);

// kind 0: the decimal text of the 4-byte integer at value (length 4); kind 1:
// "TRUE" when value is given, else "FALSE"; null otherwise.
char* ToString(const void* value, int32_t length, uint8_t kind);
char* ConvertToStringFromInteger(int32_t value);
char* ConvertToStringFromUnsignedInteger(uint32_t value, int32_t* length);
// ".1.3.6" for the *length / 4 sub-identifiers; *length becomes the text length.
char* ConvertToStringFromOID(const uint32_t* subIds, int32_t* length);
// ".1.3.6" into out (outSize bytes with the final zero); false when it does
// not fit (out then holds an empty text) or for no values.
bool ConvertToStringFromOid(const uint32_t* values, int32_t count, char* out, size_t outSize);
// Dotted decimal of values[from] to values[to - 1] into out; false when the
// range is empty or the text does not fit.
bool ConvertToIpAddressFromOid(char* out, size_t outSize, const uint32_t* values, int32_t from, int32_t to);

// Reads ".1.3.6" (isIp false: as many sub-identifiers as dots) or "10.0.0.1"
// (isIp true: one more) into a new array at *out. Returns the count, 0 when the
// count is not the expected one, -1 for a text without dots or with a part
// that is not a number from 0 to 4294967295 (an optional sign and digits; an
// empty part included); *out is null unless the result is positive.
int32_t ConvertToOidOrIpFromString(uint32_t** out, const char* text, bool isIp);
// Dotted quad of four decimal parts from 0 to 255; a part of value 0 is zeros
// only. Looks at the first length bytes.
bool IsValidIPAddress(const char* text, int32_t length);
// Starts with "." and holds more than one ".".
bool IsValidOid(const char* text, int32_t length);
// Number of "." characters among the first length bytes.
int32_t GetOidLength(const char* text, int32_t length);

// 1 when a sorts after b, -1 before, 0 equal (element-wise, then longer after).
int32_t CompareOid(const uint32_t* a, int32_t countA, const uint32_t* b, int32_t countB);
void CopyOid(uint32_t* dst, const uint32_t* src, int32_t count);
// Copies count sub-identifiers to dst[offset] onwards.
void SetNOid(uint32_t* dst, const uint32_t* src, int32_t offset, int32_t count);
// The first element greater than value, else 0.
uint32_t GetNextSubId(uint32_t value, const uint32_t* oid, int32_t count);
// One sub-identifier per character: CopyStringToOid takes the bytes as signed,
// CopyStringToOID as unsigned.
void CopyStringToOid(int32_t* dst, const char* text, int32_t length);
void CopyStringToOID(uint32_t* dst, const char* text, int32_t length);
// out[i] = values[start + i] mod 255 for i < length, then a zero byte (out
// holds length + 1 bytes).
void ConvertToCharArray(char* out, const uint32_t* values, int32_t start, int32_t length);

// Replace *slot by a copy of length bytes (plus a zero byte), respectively of
// count sub-identifiers; 1, or 99 with ERROR when memory runs out (the old
// content then stays).
int32_t ReallocateAndSetString(char** slot, const void* bytes, int32_t length);
int32_t ReallocateAndSetOID(uint32_t** slot, int32_t* countSlot, const uint32_t* source, int32_t count);

// The octet date-and-time (length 8 or 11) as "Y-M-D,h:m:s.d" or
// "Y-M-D,h:m:s.d,+h:m"; *length becomes the text length. Null for another length.
char* ConvertToStringFromDateTime(const uint8_t* octets, int32_t* length);
// The reverse: 7 fields give 8 octets, 10 fields 11 (*length); else null.
uint8_t* ConvertToDateTimeFromString(const char* text, int32_t* length);

Counter64 ConvertToCounter64FromULongLong(uint64_t value);
uint64_t ConvertToULongLongFromCounter64(Counter64 value);
// A big-endian number of up to 8 bytes (of 9, the first is skipped): the last
// four bytes are the low word, those before them the high word. False for a
// longer or negative length.
bool ConvertToCounter64(Counter64* out, const uint8_t* bytes, int32_t length);
// Decimal text of the counter's unsigned value.
char* Counter64ToString(Counter64 value);

// XORs every byte with one byte derived from key; applying it twice restores
// the bytes. The caller supplies the key.
void EncryptDecryptKey(uint8_t* bytes, int32_t length, int32_t key);

// DEBUG dumps: each byte through format (one int argument), each
// sub-identifier as "%lu\t"; then a line end.
void PrintStream(const void* bytes, int32_t length, const char* format);
void PrintOid(const uint32_t* oid, int32_t count);

// Whether the path (UTF-8) exists and is a folder.
bool IsDirectory(const char* path);
