// The criteria grammar (see criteria.h):
//   input := empty | input expr line-end
//   expr  := identifier op literal | literal op identifier
//          | expr and expr | expr or expr | "(" expr ")"
// with "and" and "or" at one precedence, grouping to the right. This is a
// shift-reduce parser that takes the steps of the grammar's LALR(1) automaton
// on an explicit stack, entry for entry: the stack starts with room for 200
// entries, doubles when full and stops at 10000, so a sentence is refused
// exactly when that automaton would run out of stack. The actions only build
// nodes.
#include <cstdlib>
#include <cstring>

#include "tabledata/criteria/criteria.h"
#include "tabledata/criteria/scanner.h"
#include "tabledata/strutil.h"

namespace {

constexpr int32_t kInitialStack = 200;
constexpr int32_t kMaxStack = 10000;

enum Symbol : uint8_t { SYM_START, SYM_INPUT, SYM_EXPR, SYM_AND, SYM_OR, SYM_LPAREN, SYM_IDENTIFIER, SYM_LITERAL, SYM_OP };

// One stack entry: the grammar symbol and what it carries.
struct Entry {
  Symbol symbol;
  uint8_t op;          // SYM_OP: the comparison
  char* text;          // SYM_IDENTIFIER, SYM_LITERAL: owned copy
  CriteriaNode* node;  // SYM_EXPR: owned subtree
};

class Parser {
 public:
  ~Parser() {
    for (int32_t i = 0; i < size_; ++i) {
      free(stack_[i].text);
      FreeCriteria(stack_[i].node);
    }
    free(stack_);
    FreeCriteria(lastLine_);
  }

  CriteriaNode* Run(const char* buffer);

 private:
  // Whether one more entry fits, growing the stack as the automaton does.
  bool Room() {
    if (size_ < capacity_) return true;
    if (capacity_ >= kMaxStack) return false;  // the stack is exhausted
    const int32_t grown = capacity_ == 0 ? kInitialStack : capacity_ * 2 > kMaxStack ? kMaxStack : capacity_ * 2;
    Entry* stack = static_cast<Entry*>(realloc(stack_, static_cast<size_t>(grown) * sizeof(Entry)));
    if (!stack) return false;
    stack_ = stack;
    capacity_ = grown;
    return true;
  }
  bool Push(Symbol symbol, uint8_t op = 0, char* text = nullptr, CriteriaNode* node = nullptr) {
    if (!Room()) {
      free(text);
      FreeCriteria(node);
      return false;
    }
    stack_[size_++] = Entry{symbol, op, text, node};
    return true;
  }
  Entry& Top(int32_t below = 0) { return stack_[size_ - 1 - below]; }

  bool Shift(const CriteriaLexeme& lexeme);
  bool ReduceComparison(const CriteriaLexeme& lexeme);
  bool ReduceExpression(CriteriaToken lookahead);

  Entry* stack_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  CriteriaNode* lastLine_ = nullptr;  // the tree of the last complete line
};

uint8_t ComparisonOf(CriteriaToken token) {
  switch (token) {
    case TOKEN_LT: return CRITERIA_LT;
    case TOKEN_GT: return CRITERIA_GT;
    case TOKEN_LE: return CRITERIA_LE;
    case TOKEN_GE: return CRITERIA_GE;
    case TOKEN_EQ: return CRITERIA_EQ;
    case TOKEN_NE: return CRITERIA_NE;
    default: return 0;
  }
}

// The comparison seen from the other side: 5<a is a>5.
uint8_t Mirrored(uint8_t op) {
  switch (op) {
    case CRITERIA_LT: return CRITERIA_GT;
    case CRITERIA_GT: return CRITERIA_LT;
    case CRITERIA_LE: return CRITERIA_GE;
    case CRITERIA_GE: return CRITERIA_LE;
    default: return op;
  }
}

char* CopyLexeme(const CriteriaLexeme& lexeme) {
  char* copy = nullptr;
  DuplicateBytes(&copy, lexeme.text, static_cast<int32_t>(lexeme.length));
  return copy;
}

CriteriaNode* NewNode(uint8_t op) {
  CriteriaNode* node = static_cast<CriteriaNode*>(calloc(1, sizeof(CriteriaNode)));
  if (node) node->op = op;
  return node;
}

// Shifts the first token of an expression onto an open position.
bool Parser::Shift(const CriteriaLexeme& lexeme) {
  if (lexeme.token == TOKEN_LPAREN) return Push(SYM_LPAREN);
  if (lexeme.token != TOKEN_IDENTIFIER && lexeme.token != TOKEN_LITERAL) return false;
  char* text = CopyLexeme(lexeme);
  return text && Push(lexeme.token == TOKEN_IDENTIFIER ? SYM_IDENTIFIER : SYM_LITERAL, 0, text);
}

// identifier op literal, or literal op identifier: shifts the last token and
// reduces the three to a leaf.
bool Parser::ReduceComparison(const CriteriaLexeme& lexeme) {
  const bool identifierFirst = Top(1).symbol == SYM_IDENTIFIER;
  if (lexeme.token != (identifierFirst ? TOKEN_LITERAL : TOKEN_IDENTIFIER) || !Room()) return false;
  char* text = CopyLexeme(lexeme);
  CriteriaNode* leaf = text ? NewNode(identifierFirst ? Top().op : Mirrored(Top().op)) : nullptr;
  if (!leaf) {
    free(text);
    return false;
  }
  leaf->column = identifierFirst ? Top(1).text : text;
  leaf->literal = identifierFirst ? text : Top(1).text;
  size_ -= 1;
  Top() = Entry{SYM_EXPR, 0, nullptr, leaf};
  return true;
}

// An expression is complete before ")" or a line end: reduces the pending
// and/or operations (right to left), then the parentheses or the line.
bool Parser::ReduceExpression(CriteriaToken lookahead) {
  while (Top(1).symbol == SYM_AND || Top(1).symbol == SYM_OR) {
    CriteriaNode* node = NewNode(Top(1).symbol == SYM_AND ? CRITERIA_AND : CRITERIA_OR);
    if (!node) return false;
    node->left = Top(2).node;
    node->right = Top().node;
    node->left->parent = node;
    node->right->parent = node;
    size_ -= 2;
    Top() = Entry{SYM_EXPR, 0, nullptr, node};
  }
  const Symbol opener = lookahead == TOKEN_RPAREN ? SYM_LPAREN : SYM_INPUT;
  if (Top(1).symbol != opener || !Room()) return false;  // the ")" or line end is shifted, then reduced
  CriteriaNode* node = Top().node;
  size_ -= 1;
  if (opener == SYM_LPAREN) {
    Top() = Entry{SYM_EXPR, 0, nullptr, node};
  } else {
    FreeCriteria(lastLine_);
    lastLine_ = node;
  }
  return true;
}

CriteriaNode* Parser::Run(const char* buffer) {
  // The start state, then the empty input.
  if (!Push(SYM_START) || !Push(SYM_INPUT)) return nullptr;
  size_t position = 0;
  for (;;) {
    const CriteriaLexeme lexeme = NextCriteriaToken(buffer, &position);
    if (lexeme.token == TOKEN_ERROR) return nullptr;
    bool ok = false;
    switch (Top().symbol) {
      case SYM_INPUT:
        if (lexeme.token == TOKEN_END) {
          CriteriaNode* result = lastLine_;
          lastLine_ = nullptr;
          return result;
        }
        [[fallthrough]];
      case SYM_AND:
      case SYM_OR:
      case SYM_LPAREN:
        ok = Shift(lexeme);
        break;
      case SYM_IDENTIFIER:
      case SYM_LITERAL:
        ok = ComparisonOf(lexeme.token) != 0 && Push(SYM_OP, ComparisonOf(lexeme.token));
        break;
      case SYM_OP:
        ok = ReduceComparison(lexeme);
        break;
      case SYM_EXPR:
        if (lexeme.token == TOKEN_AND || lexeme.token == TOKEN_OR)
          ok = Push(lexeme.token == TOKEN_AND ? SYM_AND : SYM_OR);
        else if (lexeme.token == TOKEN_RPAREN || lexeme.token == TOKEN_LINE_END)
          ok = ReduceExpression(lexeme.token);
        break;
      case SYM_START:
        break;
    }
    if (!ok) return nullptr;
  }
}

}  // namespace

CriteriaNode* ParseCriteria(const char* text) {
  if (!text) return nullptr;
  // One complete line even when the text has no line end of its own.
  const size_t length = strlen(text);
  char* buffer = static_cast<char*>(malloc(length + 2));
  if (!buffer) return nullptr;
  memcpy(buffer, text, length);
  buffer[length] = '\n';
  buffer[length + 1] = '\0';
  CriteriaNode* result = Parser().Run(buffer);
  free(buffer);
  return result;
}

void FreeCriteria(CriteriaNode* criterion) {
  // Without recursion: a left operand is rotated up until the node has none,
  // then the node goes and its right operand takes its place.
  CriteriaNode* node = criterion;
  while (node) {
    if (CriteriaNode* left = node->left) {
      node->left = left->right;
      left->right = node;
      node = left;
      continue;
    }
    CriteriaNode* right = node->right;
    free(node->column);
    free(node->literal);
    free(node->value);
    free(node);
    node = right;
  }
}

const void* GetCriteriaLock() {
  static const char lock = 0;
  return &lock;
}
