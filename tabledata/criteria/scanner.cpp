// The criteria scanner (see scanner.h). A quoted literal holds printable ASCII
// characters other than "'" and ";"; an underscore only inside a word that
// starts with a letter, so 'x_y' is a literal and '_y' or '1_y' are not.
#include "tabledata/criteria/scanner.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordCharacter(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

// The length of the quoted literal at text (text[0] is "'"), or 0 when none
// starts there.
size_t QuotedLength(const char* text) {
  bool inWord = false;  // a letter started the run of word characters so far
  for (size_t i = 1;; ++i) {
    const char c = text[i];
    if (c == '\'') return i + 1;
    if (IsLetter(c)) {
      inWord = true;
    } else if (c == '_') {
      if (!inWord) return 0;
    } else if (!IsDigit(c)) {
      if (c < 0x20 || c > 0x7e || c == ';') return 0;  // also the end of the text
      inWord = false;
    }
  }
}

}  // namespace

CriteriaLexeme NextCriteriaToken(const char* text, size_t* position) {
  size_t p = *position;
  while (text[p] == ' ' || text[p] == '\t') ++p;
  const char* start = text + p;
  CriteriaLexeme lexeme{TOKEN_ERROR, start, 1};
  const char c = *start;
  if (c == '\0') {
    lexeme = {TOKEN_END, start, 0};
  } else if (IsLetter(c)) {
    size_t n = 1;
    while (IsWordCharacter(start[n])) ++n;
    lexeme.length = n;
    lexeme.token = TOKEN_IDENTIFIER;
    if (n == 3 && start[0] == 'a' && start[1] == 'n' && start[2] == 'd') lexeme.token = TOKEN_AND;
    if (n == 2 && start[0] == 'o' && start[1] == 'r') lexeme.token = TOKEN_OR;
  } else if (IsDigit(c)) {
    size_t n = 1;
    while (IsDigit(start[n])) ++n;
    if (start[n] == '.' && IsDigit(start[n + 1])) {
      n += 2;
      while (IsDigit(start[n])) ++n;
    }
    lexeme = {TOKEN_LITERAL, start, n};
  } else if (c == '\'') {
    if (const size_t n = QuotedLength(start)) lexeme = {TOKEN_LITERAL, start, n};
  } else if (c == '<' || c == '>' || c == '!') {
    const bool withEquals = start[1] == '=';
    if (withEquals) lexeme.length = 2;
    if (c == '<') lexeme.token = withEquals ? TOKEN_LE : TOKEN_LT;
    if (c == '>') lexeme.token = withEquals ? TOKEN_GE : TOKEN_GT;
    if (c == '!' && withEquals) lexeme.token = TOKEN_NE;
  } else if (c == '=') {
    lexeme.token = TOKEN_EQ;
  } else if (c == '(') {
    lexeme.token = TOKEN_LPAREN;
  } else if (c == ')') {
    lexeme.token = TOKEN_RPAREN;
  } else if (c == '\n') {
    lexeme.token = TOKEN_LINE_END;
  }
  *position = p + lexeme.length;
  return lexeme;
}
