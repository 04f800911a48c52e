// The support library's text and byte utilities: copying, comparing, searching,
// splitting and small conversions over plain zero-terminated C texts.
#pragma once
#include <cstdint>

// Ownership: every text or array these functions hand out is malloc'd and owned
// by the caller, who releases it with free() (or FreeStringArray /
// FreeSplitString for arrays), except where a comment says the result points
// into an argument. Null stands for a missing text throughout.

// Big-endian integer of up to 4 bytes, the first byte taken as signed
// (FF -> -1, 01 00 -> 256). -1 for more than 4 bytes, a negative length or
// null bytes; 0 for length 0.
int32_t ConvertToInteger(const void* bytes, int32_t length);

// The first occurrence of part in text (a pointer into text), or null when
// either is null or part is longer than text.
const char* SubString(const char* text, const char* part);
char* SubString(char* text, const char* part);
// Whether part occurs in text (case-sensitive); false when either is null.
bool FindSubString(const char* text, const char* part);
// Position of the first occurrence of byte among the first length bytes, or -1.
int32_t GetIndex(const void* bytes, int32_t length, char byte);
// Splits the first length bytes at every "," and tells whether one piece has
// exactly keyLength bytes equal to key.
bool IsStringMatched(const void* bytes, int32_t length, const void* key, int32_t keyLength);

// Frees the first count texts of array (none when count is 0 or negative) and
// the array itself.
void FreeStringArray(char** array, int16_t count);

// Stores a malloc'd copy of text in *slot. Returns 1; 99 when the allocation
// fails or slot is null (the slot is then left as it was). A null text stores
// null and returns 1.
int32_t DuplicateString(char** slot, const char* text);
// Stores a malloc'd block of length + 1 bytes, the bytes and a final zero, in
// *slot. Returns 1; 99 with ERROR "Unable to allocate memory\n" when the
// allocation fails; 99 for a null slot, a negative length, or null bytes with a
// positive length.
int32_t DuplicateBytes(char** slot, const void* bytes, int32_t length);
// Length of text; 0 for null.
int32_t StringLength(const char* text);

// Compares byte by byte (as unsigned): 0 when equal, else the difference of
// the first differing bytes, held to -128..127 so that its sign always gives
// the order. Both null -> 0, a null -> -1, b null -> 1.
int8_t CompareStrings(const char* a, const char* b);
// As CompareStrings with the letters A to Z taken as a to z on both sides.
int8_t CompareStringsNoCase(const char* a, const char* b);
// Reverses the first length bytes of text in place.
void ReverseString(char* text, int32_t length);
// The value of an optional "+" or "-" followed by decimal digits only; -1 for
// anything else, including null, no digits, or a value outside 32 bits.
int32_t ParseSignedDigits(const char* text);

// Counting separators: the text is scanned once with a running match position
// in the separator that advances on equal bytes and goes back to the start on
// a mismatch (the mismatching byte is not tried again as a new start); each
// complete match counts and scanning restarts after it. For one-character
// separators this is the exact number of occurrences. -1 when either is null
// or the separator is empty.
int32_t CountSubstring(const char* text, const char* separator);
// A new text holding what comes before the first occurrence of separator
// (empty when there is none). Null when either argument is null, the
// separator is empty, or out of memory.
char* GetTextBefore(const char* text, const char* separator);
// A new text holding what follows the first occurrence of separator (empty
// when there is none). Null as for GetTextBefore.
char* GetTextAfter(const char* text, const char* separator);

// Splits text at every occurrence of separator (found as CountSubstring does)
// into a malloc'd array of the count + 1 pieces followed by null: "a:b" at ":"
// gives "a", "b", null.
//
// Ownership: the pieces are new malloc'd texts, EXCEPT that a text without any
// separator comes back as the single piece pieces[0] == text itself (not a
// copy; treat it as read-only through the array). Release the result only with
// FreeSplitString(pieces, text), which frees every piece that is not text and
// then the array; never with FreeStringArray.
// Null when either argument is null, the separator is empty, or out of memory.
char** SplitString(const char* text, const char* separator);
// Frees what SplitString(text, ...) returned; text itself is left alone.
void FreeSplitString(char** pieces, const char* text);
