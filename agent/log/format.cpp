// printf-style formatting for the log (see format.h). Each conversion is handed
// to the C runtime's snprintf with its own argument, except wide texts, which are
// converted to UTF-8 here so that the log holds UTF-8 on every platform.
#include "agent/log/format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

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

std::string FormatTextV(const char* format, va_list args) {
  std::string out;
  if (!format) return out;
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
        width = -width;
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

std::string FormatText(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = FormatTextV(format, ap);
  va_end(ap);
  return s;
}
