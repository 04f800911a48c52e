// Bounded number and word reading (see scan.h).
#include "tabledata/values/scan.h"

#include <cstdarg>
#include <cstdlib>

#include "tabledata/strutil.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

// Reads a signed int at p (after white space); advances p. False when there
// is no number or it does not fit 32 bits.
bool ReadInt(const char*& p, int* out) {
  const char* start = SkipBlanks(p);
  const char* end = start;
  if (*end == '+' || *end == '-') ++end;
  while (*end >= '0' && *end <= '9') ++end;
  uint64_t bits = 0;
  if (!ParseIntegerOfWidth(start, static_cast<size_t>(end - start), 32, true, &bits)) return false;
  *out = static_cast<int32_t>(static_cast<uint32_t>(bits));
  p = end;
  return true;
}

// Reads a word of 1 to width non-blank characters into out; advances p.
// `strict`: the word must end within width characters.
bool ReadWord(const char*& p, size_t width, bool strict, char* out) {
  const char* start = SkipBlanks(p);
  size_t n = 0;
  while (n < width && start[n] && !IsBlank(start[n])) ++n;
  if (n == 0) return false;
  if (strict && start[n] && !IsBlank(start[n])) return false;
  for (size_t i = 0; i < n; ++i) out[i] = start[i];
  out[n] = '\0';
  p = start + n;
  return true;
}

}  // namespace

bool ParseDecimal(const char* text, size_t length, bool* negative, uint64_t* magnitude) {
  if (!text) return false;
  size_t i = 0;
  *negative = false;
  if (length > 0 && (text[0] == '+' || text[0] == '-')) {
    *negative = text[0] == '-';
    i = 1;
  }
  if (i == length) return false;
  uint64_t value = 0;
  for (; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *magnitude = value;
  return true;
}

bool ParseIntegerOfWidth(const char* text, size_t length, int bits, bool isSigned, uint64_t* value) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (bits < 1 || bits > 64 || !ParseDecimal(text, length, &negative, &magnitude)) return false;
  const uint64_t mask = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  const uint64_t signedMax = mask >> 1;
  const uint64_t limit = !isSigned ? (negative ? 0 : mask) : (negative ? signedMax + 1 : signedMax);
  if (magnitude > limit) return false;
  *value = (negative ? 0 - magnitude : magnitude) & mask;
  return true;
}

int ScanText(const char* text, const char* format, ...) {
  if (!text || !format) return 0;
  va_list ap;
  va_start(ap, format);
  int stored = 0;
  const char* p = text;
  for (const char* f = format; *f;) {
    if (IsBlank(*f)) {
      p = SkipBlanks(p);
      while (IsBlank(*f)) ++f;
      continue;
    }
    if (*f != '%') {
      if (*p != *f) break;
      ++p;
      ++f;
      continue;
    }
    ++f;
    if (*f == 'd') {
      ++f;
      if (!ReadInt(p, va_arg(ap, int*))) break;
    } else if (*f == 'c') {
      ++f;
      if (!*p) break;
      *va_arg(ap, char*) = *p++;
    } else {
      size_t width = 0;
      while (*f >= '0' && *f <= '9' && width < 4096) width = width * 10 + static_cast<size_t>(*f++ - '0');
      if (*f != 's' || width == 0) break;
      ++f;
      const bool strict = !*f || IsBlank(*f) || *f == '%';
      if (!ReadWord(p, width, strict, va_arg(ap, char*))) break;
    }
    ++stored;
  }
  va_end(ap);
  return stored;
}

char* NewText(const std::string& text) {
  char* copy = nullptr;
  DuplicateBytes(&copy, text.data(), static_cast<int32_t>(text.size()));
  return copy;
}
