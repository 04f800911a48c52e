// Text and small file helpers (see textutil.h).
#include "agent/util/textutil.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "agent/log/logger.h"
#include "agent/util/errortext.h"
#include "agent/util/fileutil.h"

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

int GetFileSize64(const char* path, int64_t& out) {
  if (!path) return 0;
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size;
  BOOL ok = GetFileSizeEx(file, &size);
  CloseHandle(file);
  if (!ok) return 0;
  out = size.QuadPart;
  return 1;
}

int32_t AppendLineToFile(const char* path, const char* text) {
  if (!path || !text) return ERROR_INVALID_DATA;
  int32_t result = 0;
  if (!IsFileExist(path)) {
    result = CreateFolder(path);
    if (result == 0) {
      HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
      } else {
        result = static_cast<int32_t>(GetLastError());
        // An existing empty file: nothing had to be created.
        if (result == ERROR_FILE_EXISTS) result = 0;
      }
    }
    LogErrorCode(result);
  }
  SetLastError(0);
  FILE* stream = fopen(path, "a+");
  if (!stream) {
    if (result == 0) {
      DWORD err = GetLastError();
      result = err ? static_cast<int32_t>(err) : ERROR_OPEN_FAILED;
    }
    return result;
  }
  fputs(text, stream);
  fputc('\n', stream);
  if (fclose(stream) != 0 && result == 0) result = ERROR_WRITE_FAULT;
  return result;
}
