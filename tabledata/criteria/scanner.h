// The tokens of the criteria language, read one at a time from a text.
#pragma once
#include <cstddef>

enum CriteriaToken {
  TOKEN_END,      // the end of the text
  TOKEN_AND,      // "and", lower case only
  TOKEN_OR,       // "or", lower case only
  TOKEN_LITERAL,  // 12, 1.50 or a quoted text
  TOKEN_IDENTIFIER,
  TOKEN_LPAREN,
  TOKEN_RPAREN,
  TOKEN_LT,
  TOKEN_GT,
  TOKEN_LE,
  TOKEN_GE,
  TOKEN_EQ,
  TOKEN_NE,
  TOKEN_LINE_END,
  TOKEN_ERROR,  // a character that starts no token
};

// A token and where its text stands in the scanned text.
struct CriteriaLexeme {
  CriteriaToken token;
  const char* text;
  size_t length;
};

// The token at *position of a zero-terminated text (blanks and tabs before it
// skipped); *position moves past it. Of two matches the longer wins, of two
// equally long ones the keyword.
CriteriaLexeme NextCriteriaToken(const char* text, size_t* position);
