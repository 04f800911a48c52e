// Text helpers (see textutil.h).
#include "agent/util/textutil.h"

#include <cstdio>
#include <cstring>

#include "agent/log/logger.h"

namespace {
std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

OptText AfterLast(const char* text, char separator) {
  if (!text) return std::nullopt;
  const char* last = strrchr(text, separator);
  return std::string(last ? last + 1 : text);
}
}  // namespace

OptText FindAndReplaceWithNoCase(const char* input, const char* oldText, const char* newText) {
  printf("FindAndReplaceWithNoCase : Input String : %s \n", input ? input : "(null)");
  printf("FindAndReplaceWithNoCase : oldString String : %s \n", oldText ? oldText : "(null)");
  printf("FindAndReplaceWithNoCase : newString String : %s \n", newText ? newText : "(null)");
  if (!input || strlen(input) < 2) {
    printf("FindAndReplaceWithNoCase : The input string is either NULL or empty string \n");
    return input ? OptText(input) : std::nullopt;
  }
  if (!oldText || strlen(oldText) < 2) {
    printf("FindAndReplaceWithNoCase : The string to find is either NULL or empty string \n");
    return std::string(input);
  }
  // A missing replacement would silently delete every occurrence: keep the input.
  if (!newText) return std::string(input);
  const std::string lowerOld = AsciiLower(oldText);
  if (lowerOld == AsciiLower(newText)) {
    printf("FindAndReplaceWithNoCase : Both the old string and new strings are same , we are sending the input "
           "string as output ..\n");
    return std::string(input);
  }

  std::string result = input;
  std::string search = AsciiLower(input);
  const std::string replacement = newText;
  // Searching again at a replacement that itself holds the old text would find
  // it forever; then the search goes on after the inserted text.
  const bool skipInserted = replacement.find(lowerOld) != std::string::npos;
  size_t pos = 0;
  while ((pos = search.find(lowerOld, pos)) != std::string::npos) {
    result.replace(pos, lowerOld.size(), replacement);
    search.replace(pos, lowerOld.size(), replacement);
    if (skipInserted) pos += replacement.size();
  }
  return result;
}

OptText GetLastFileName(const char* path) {
  LogDebug("GetLastFileName Function Called with %s...!\n", path);
  return AfterLast(path, '\\');
}

OptText GetLastUrlFileName(const char* url) {
  LogDebug("GetLastUrlFileName Function Called with %s...!\n", url);
  return AfterLast(url, '/');
}

std::string ReplaceChar(const std::string& text, char from, char to) {
  std::string out = text;
  for (char& c : out)
    if (c == from) c = to;
  return out;
}
