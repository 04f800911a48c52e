// printf-style formatting for the log (see format.h). A format whose every
// conversion the C runtime renders as the log wants goes to vsnprintf whole;
// any other is taken apart here: each conversion is handed to snprintf with its
// own argument, except wide texts, which are converted to UTF-8 here so that the
// log holds UTF-8 on every platform, and absent texts, shown as "(null)".
#include "agent/log/format.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Formats one conversion whose argument has already been fetched.
template <typename T>
void AppendOne(std::string& out, const std::string& spec, T value) {
  char small[128];
  int n = snprintf(small, sizeof small, spec.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  snprintf(big.data(), big.size(), spec.c_str(), value);
  out.append(big.data(), static_cast<size_t>(n));
}

// Pads or cuts an already-converted text like %s with width and precision would.
void AppendText(std::string& out, const std::string& flags, int width, int precision, const char* text) {
  std::string spec(1, '%');
  spec += flags;
  if (width >= 0) spec += std::to_string(width);
  if (precision >= 0) { spec += '.'; spec += std::to_string(precision); }
  spec += "s";
  AppendOne(out, spec, text);
}

}  // namespace

std::string WideToUtf8Lossy(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  for (const wchar_t* p = text; *p; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    if constexpr (sizeof(wchar_t) == 2) {
      c &= 0xFFFF;
      if (c >= 0xD800 && c <= 0xDBFF) {
        uint32_t lo = static_cast<uint32_t>(p[1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
          ++p;
        } else {
          c = 0xFFFD;
        }
      } else if (c >= 0xDC00 && c <= 0xDFFF) {
        c = 0xFFFD;
      }
    } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

namespace {

// True when the C runtime renders every conversion of `format` exactly as the
// conversion-by-conversion formatter below would: no wide texts (%S, %ls, %ws,
// %C, %lc), no Windows-only length modifiers, no %n, nothing unknown, and no
// null %s (glibc prints "" or "(null)" depending on the precision, the Windows
// runtimes "(null)" cut by it). Walks a copy of the arguments to see the texts.
bool IsPlainFormat(const char* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  bool plain = true;
  for (const char* p = strchr(format, '%'); plain && p; p = strchr(p, '%')) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    while (*p && strchr("-+ #0", *p)) ++p;
    if (*p == '*') {
      (void)va_arg(ap, int);
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        (void)va_arg(ap, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') ++p;
      }
    }
    const char* lengthStart = p;
    while (*p && strchr("hljztL", *p)) ++p;
    const std::string_view length(lengthStart, static_cast<size_t>(p - lengthStart));
    const char conv = *p;
    if (conv) ++p;
    switch (conv) {
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        if (length.empty() || length == "h" || length == "hh") (void)va_arg(ap, int);
        else if (length == "l") (void)va_arg(ap, long);
        else if (length == "ll" || length == "j") (void)va_arg(ap, long long);
        else if (length == "z" || length == "t") (void)va_arg(ap, size_t);
        else plain = false;
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (length.empty() || length == "l") (void)va_arg(ap, double);
        else if (length == "L") (void)va_arg(ap, long double);
        else plain = false;
        break;
      case 'c':
        if (length.empty()) (void)va_arg(ap, int);
        else plain = false;
        break;
      case 's':
        plain = length.empty() && va_arg(ap, const char*) != nullptr;
        break;
      case 'p':
        if (length.empty()) (void)va_arg(ap, void*);
        else plain = false;
        break;
      default:  // wide, Windows-only, %n, unknown, or a lone '%' at the end
        plain = false;
        break;
    }
  }
  va_end(ap);
  return plain;
}

// Conversion by conversion (see the top of the file).
std::string FormatPieces(const char* format, va_list args) {
  std::string out;
  va_list ap;
  va_copy(ap, args);
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* q = strchr(p, '%');
      size_t len = q ? static_cast<size_t>(q - p) : strlen(p);
      out.append(p, len);
      p += len;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string flags;
    while (*p && strchr("-+ #0", *p)) flags += *p++;
    int width = -1, precision = -1;
    if (*p == '*') {
      width = va_arg(ap, int);
      if (width < 0) {
        flags += '-';
        width = width == INT_MIN ? INT_MAX : -width;
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') width = (width < 0 ? 0 : width * 10) + (*p++ - '0');
    }
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(ap, int);
        if (precision < 0) precision = -1;  // a negative precision counts as none
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
      }
    }
    // Length modifiers; "w" and "I64"/"I32" are the Windows runtime's spellings.
    std::string length;
    bool wide = false;
    for (;;) {
      if (*p == 'h' || *p == 'l' || *p == 'j' || *p == 'z' || *p == 't' || *p == 'L') {
        length += *p++;
      } else if (*p == 'w') {
        wide = true;
        ++p;
      } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        length = "ll";
        p += 3;
      } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
        length.clear();
        p += 3;
      } else {
        break;
      }
    }
    char conv = *p;
    if (!conv) {  // a lone '%' at the end is written as it stands
      out.append(start);
      break;
    }
    ++p;
    std::string spec(1, '%');
    spec += flags;
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) { spec += '.'; spec += std::to_string(precision); }
    switch (conv) {
      case 'd':
      case 'i':
        spec += length + conv;
        if (length == "ll" || length == "j") AppendOne(out, spec, va_arg(ap, long long));
        else if (length == "l") AppendOne(out, spec, va_arg(ap, long));
        else if (length == "z" || length == "t") AppendOne(out, spec, va_arg(ap, ptrdiff_t));
        else AppendOne(out, spec, va_arg(ap, int));
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        spec += length + conv;
        if (length == "ll" || length == "j") AppendOne(out, spec, va_arg(ap, unsigned long long));
        else if (length == "l") AppendOne(out, spec, va_arg(ap, unsigned long));
        else if (length == "z" || length == "t") AppendOne(out, spec, va_arg(ap, size_t));
        else AppendOne(out, spec, va_arg(ap, unsigned int));
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (length == "L") {
          spec += std::string("L") + conv;
          AppendOne(out, spec, va_arg(ap, long double));
        } else {
          spec += conv;
          AppendOne(out, spec, va_arg(ap, double));
        }
        break;
      case 'c':
        if (wide || length == "l") {
          wchar_t w[2] = {static_cast<wchar_t>(va_arg(ap, int)), 0};
          AppendText(out, flags, width, -1, WideToUtf8Lossy(w).c_str());
        } else {
          spec += 'c';
          AppendOne(out, spec, va_arg(ap, int));
        }
        break;
      case 'C': {
        wchar_t w[2] = {static_cast<wchar_t>(va_arg(ap, int)), 0};
        AppendText(out, flags, width, -1, WideToUtf8Lossy(w).c_str());
        break;
      }
      case 's':
        if (wide || length == "l") {
          const wchar_t* w = va_arg(ap, const wchar_t*);
          AppendText(out, flags, width, precision, w ? WideToUtf8Lossy(w).c_str() : "(null)");
        } else {
          const char* s = va_arg(ap, const char*);
          AppendText(out, flags, width, precision, s ? s : "(null)");
        }
        break;
      case 'S': {
        const wchar_t* w = va_arg(ap, const wchar_t*);
        AppendText(out, flags, width, precision, w ? WideToUtf8Lossy(w).c_str() : "(null)");
        break;
      }
      case 'p':
        spec += 'p';
        AppendOne(out, spec, va_arg(ap, void*));
        break;
      case 'n':
        (void)va_arg(ap, void*);  // never written through
        break;
      default:
        out.append(start, static_cast<size_t>(p - start));
        break;
    }
  }
  va_end(ap);
  return out;
}

}  // namespace

char* FormatTextInto(char* buf, size_t cap, std::string& spill, size_t& length, const char* format,
                     va_list args) {
  length = 0;
  if (!format) {
    if (cap > 0) buf[0] = '\0';
    return buf;
  }
  if (IsPlainFormat(format, args)) {
    va_list ap;
    va_copy(ap, args);
    const int n = vsnprintf(buf, cap, format, ap);
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) < cap) {
      length = static_cast<size_t>(n);
      return buf;
    }
    if (n >= 0) {
      spill.assign(static_cast<size_t>(n), '\0');
      va_copy(ap, args);
      vsnprintf(spill.data(), spill.size() + 1, format, ap);
      va_end(ap);
      length = spill.size();
      return spill.data();
    }
  }
  spill = FormatPieces(format, args);
  length = spill.size();
  return spill.data();
}

std::string FormatTextV(const char* format, va_list args) {
  char small[256];
  std::string spill;
  size_t length = 0;
  const char* text = FormatTextInto(small, sizeof small, spill, length, format, args);
  if (text == small) return std::string(small, length);
  return spill;
}

std::string FormatText(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = FormatTextV(format, ap);
  va_end(ap);
  return s;
}
