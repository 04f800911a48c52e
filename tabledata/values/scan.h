// Bounded reading of numbers and words out of texts, for the date-time and
// value conversions and the data dictionary: nothing here can overflow a
// number or write past a buffer, whatever the text holds. Also the one way
// these conversions hand out a new text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define TW_SCANF(f, a) __attribute__((format(scanf, f, a)))
#else
#define TW_SCANF(f, a)
#endif

// An optional "+" or "-" followed by one or more decimal digits, spanning
// exactly the length bytes at text. The sign goes to *negative and the value
// without its sign to *magnitude. False for anything else, or a magnitude
// beyond 64 bits (the outputs are then unspecified).
bool ParseDecimal(const char* text, size_t length, bool* negative, uint64_t* magnitude);

// As ParseDecimal, then the number must fit a signed (isSigned) or unsigned
// integer of `bits` bits (1 to 64); *value gets it, a negative one as its
// two's complement in those bits (-1 -> 0xFF for 8). Out of range is false.
bool ParseIntegerOfWidth(const char* text, size_t length, int bits, bool isSigned, uint64_t* value);

// Reads a zero-terminated text by a subset of the scanf format language and
// returns the number of fields stored, stopping at the first mismatch:
//   " "    any run of white space, also none
//   "%d"   int*: white space, then an optional sign and digits; a number
//          outside the int range is a mismatch
//   "%Ns"  char* of N + 1 bytes (N required): white space, then a word of 1 to
//          N non-blank characters. When the format goes on with a literal, the
//          word ends there after at most N characters (as scanf does); before
//          white space or the end of the format a longer word is a mismatch.
//   "%c"   char*: the next character, white space included
//   other  the same character
int ScanText(const char* text, const char* format, ...) TW_SCANF(2, 3);

// A malloc'd copy of text for the caller to free(); null when memory runs out.
char* NewText(const std::string& text);
