// The support library's text and byte utilities (see strutil.h). Separators
// are found by one forward scan shared by counting, splitting and the
// before/after helpers, so all of them agree on where the separators are.
#include "tabledata/strutil.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "agent/log/logger.h"

namespace {

// Calls onMatch(start) for each separator found by the counting scan, in
// order; stops early when onMatch returns false. sepLen must be positive.
template <typename F>
void ScanSeparators(const char* text, const char* separator, size_t sepLen, F onMatch) {
  size_t pos = 0;
  for (size_t i = 0; text[i]; ++i) {
    if (text[i] == separator[pos]) {
      if (++pos == sepLen) {
        pos = 0;
        if (!onMatch(i + 1 - sepLen)) return;
      }
    } else {
      pos = 0;
    }
  }
}

// Start of the first separator found by the scan, or -1.
ptrdiff_t FirstSeparator(const char* text, const char* separator) {
  ptrdiff_t found = -1;
  ScanSeparators(text, separator, strlen(separator), [&](size_t start) {
    found = static_cast<ptrdiff_t>(start);
    return false;
  });
  return found;
}

char* CopyRange(const char* from, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  if (!copy) return nullptr;
  memcpy(copy, from, length);
  copy[length] = '\0';
  return copy;
}

int Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// The difference held to the range of the result type, keeping its sign.
int8_t Saturate(int diff) {
  if (diff > 127) return 127;
  if (diff < -128) return -128;
  return static_cast<int8_t>(diff);
}

template <typename Fold>
int8_t Compare(const char* a, const char* b, Fold fold) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b);
  for (;; ++pa, ++pb) {
    int ca = fold(*pa);
    int cb = fold(*pb);
    if (ca != cb) return Saturate(ca - cb);
    if (ca == 0) return 0;
  }
}

}  // namespace

int32_t ConvertToInteger(const void* bytes, int32_t length) {
  LogTrace("\n\t@@@@@ Inside ConvertToInteger() @@@@@ \n");
  if (length > 4 || length < 0) return -1;
  if (length == 0) return 0;
  if (!bytes) return -1;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  int64_t value = static_cast<int8_t>(b[0]);
  for (int32_t i = 1; i < length; ++i) value = value * 256 + b[i];
  return static_cast<int32_t>(value);
}

const char* SubString(const char* text, const char* part) {
  LogTrace("\n\t@@@@@ Inside SubString() @@@@@ \n");
  if (!text || !part) return nullptr;
  if (strlen(part) > strlen(text)) return nullptr;
  return strstr(text, part);
}

char* SubString(char* text, const char* part) {
  return const_cast<char*>(SubString(static_cast<const char*>(text), part));
}

bool FindSubString(const char* text, const char* part) {
  LogTrace("\n\t@@@@@ Inside FindSubString() @@@@@ \n");
  if (!text || !part) return false;
  return strstr(text, part) != nullptr;
}

int32_t GetIndex(const void* bytes, int32_t length, char byte) {
  LogTrace("\n\t@@@@@ Inside GetIndex() @@@@@ \n");
  if (!bytes || length <= 0) return -1;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (int32_t i = 0; i < length; ++i)
    if (b[i] == static_cast<unsigned char>(byte)) return i;
  return -1;
}

bool IsStringMatched(const void* bytes, int32_t length, const void* key, int32_t keyLength) {
  LogTrace("\n\t@@@@@ Inside IsStringMatched() @@@@@ \n");
  if (!bytes || length < 0 || keyLength < 0 || (!key && keyLength > 0)) return false;
  const char* b = static_cast<const char*>(bytes);
  int32_t start = 0;
  for (int32_t i = 0; i <= length; ++i) {
    if (i < length && b[i] != ',') continue;
    if (i - start == keyLength && (keyLength == 0 || memcmp(b + start, key, static_cast<size_t>(keyLength)) == 0))
      return true;
    start = i + 1;
  }
  return false;
}

void FreeStringArray(char** array, int16_t count) {
  LogTrace("\n\t@@@@@ Inside FreeStringArray() @@@@@ \n");
  if (!array) return;
  for (int16_t i = 0; i < count; ++i) free(array[i]);
  free(array);
}

int32_t DuplicateString(char** slot, const char* text) {
  LogTrace("\n\t@@@@@ Inside DuplicateString() @@@@@ \n");
  if (!slot) return 99;
  if (!text) {
    *slot = nullptr;
    return 1;
  }
  char* copy = CopyRange(text, strlen(text));
  if (!copy) return 99;
  *slot = copy;
  return 1;
}

int32_t DuplicateBytes(char** slot, const void* bytes, int32_t length) {
  LogTrace("\n\t@@@@@ Inside DuplicateBytes() @@@@@ \n");
  if (!slot || length < 0 || (!bytes && length > 0)) return 99;
  char* copy = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (!copy) {
    LogError("Unable to allocate memory\n");
    return 99;
  }
  if (length > 0) memcpy(copy, bytes, static_cast<size_t>(length));
  copy[length] = '\0';
  *slot = copy;
  return 1;
}

int32_t StringLength(const char* text) {
  LogTrace("\n\t@@@@@ Inside StringLength() @@@@@ \n");
  if (!text) return 0;
  size_t n = strlen(text);
  return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

int8_t CompareStrings(const char* a, const char* b) {
  LogTrace("\n\t@@@@@ Inside CompareStrings() @@@@@ \n");
  return Compare(a, b, [](unsigned char c) { return static_cast<int>(c); });
}

int8_t CompareStringsNoCase(const char* a, const char* b) {
  LogTrace("\n\t@@@@@ Inside CompareStringsNoCase() @@@@@ \n");
  return Compare(a, b, Lower);
}

void ReverseString(char* text, int32_t length) {
  LogTrace("\n\t@@@@@ Inside ReverseString() @@@@@ \n");
  if (!text || length < 2) return;
  for (int32_t i = 0, j = length - 1; i < j; ++i, --j) {
    char t = text[i];
    text[i] = text[j];
    text[j] = t;
  }
}

int32_t ParseSignedDigits(const char* text) {
  LogTrace("\n\t@@@@@ Inside ParseSignedDigits() @@@@@ \n");
  if (!text) return -1;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  if (!*text) return -1;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return -1;
    value = value * 10 + (*text - '0');
    if (value > limit) return -1;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

int32_t CountSubstring(const char* text, const char* separator) {
  LogTrace("\n\t@@@@@ Inside CountSubstring() @@@@@ \n");
  if (!text || !separator || !*separator) return -1;
  int32_t count = 0;
  ScanSeparators(text, separator, strlen(separator), [&](size_t) {
    ++count;
    return true;
  });
  return count;
}

char* GetTextBefore(const char* text, const char* separator) {
  LogTrace("\n\t@@@@@ Inside GetTextBefore() @@@@@ \n");
  if (!text || !separator || !*separator) return nullptr;
  ptrdiff_t at = FirstSeparator(text, separator);
  return CopyRange(text, at < 0 ? 0 : static_cast<size_t>(at));
}

char* GetTextAfter(const char* text, const char* separator) {
  LogTrace("\n\t@@@@@ Inside GetTextAfter() @@@@@ \n");
  if (!text || !separator || !*separator) return nullptr;
  ptrdiff_t at = FirstSeparator(text, separator);
  if (at < 0) return CopyRange(text, 0);
  const char* rest = text + at + strlen(separator);
  return CopyRange(rest, strlen(rest));
}

char** SplitString(const char* text, const char* separator) {
  LogTrace("\n\t@@@@@ Inside SplitString() @@@@@ \n");
  if (!text || !separator || !*separator) return nullptr;
  const size_t sepLen = strlen(separator);
  size_t count = 0;
  ScanSeparators(text, separator, sepLen, [&](size_t) {
    ++count;
    return true;
  });
  char** pieces = static_cast<char**>(calloc(count + 2, sizeof(char*)));
  if (!pieces) return nullptr;
  if (count == 0) {
    pieces[0] = const_cast<char*>(text);
    return pieces;
  }
  size_t k = 0;
  size_t pieceStart = 0;
  bool ok = true;
  ScanSeparators(text, separator, sepLen, [&](size_t start) {
    pieces[k] = CopyRange(text + pieceStart, start - pieceStart);
    if (!pieces[k]) return ok = false;
    ++k;
    pieceStart = start + sepLen;
    return true;
  });
  if (ok) {
    pieces[k] = CopyRange(text + pieceStart, strlen(text + pieceStart));
    ok = pieces[k] != nullptr;
  }
  if (!ok) {
    for (size_t i = 0; i < k; ++i) free(pieces[i]);
    free(pieces);
    return nullptr;
  }
  return pieces;
}

void FreeSplitString(char** pieces, const char* text) {
  if (!pieces) return;
  for (char** p = pieces; *p; ++p)
    if (*p != text) free(*p);
  free(pieces);
}
