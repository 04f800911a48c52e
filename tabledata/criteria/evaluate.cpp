// Binding a parsed criterion to a table's columns and evaluating it against a
// row (see criteria.h). Trees are walked through their parent links, never by
// recursion: a chain that the parser accepts is thousands of nodes deep.
#include <cstdlib>
#include <cstring>

#include "tabledata/criteria/criteria.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/strutil.h"
#include "tabledata/values/scan.h"

namespace {

// Post-order: operands before the node that joins them.
CriteriaNode* FirstPostOrder(CriteriaNode* node) {
  while (node->left || node->right) node = node->left ? node->left : node->right;
  return node;
}

CriteriaNode* NextPostOrder(CriteriaNode* node, const CriteriaNode* root) {
  CriteriaNode* parent = node->parent;
  if (node == root || !parent) return nullptr;
  if (node == parent->left && parent->right) return FirstPostOrder(parent->right);
  return parent;
}

bool IsLeaf(const CriteriaNode* node) { return node->column && node->literal; }

// Whether a literal is an optional sign followed by decimal digits only.
bool IsIntegerText(const char* literal) {
  const char* p = literal + (*literal == '+' || *literal == '-');
  if (!*p) return false;
  for (; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// A literal's integer: an optional sign and decimal digits that fit. Digits
// that do not fit are a number beyond the range (*beyond 1 above it, -1 below
// it, and the value 0); any other text is 0.
template <typename T>
void* IntegerLiteral(const char* literal, int bits, bool isSigned, int32_t* length, int8_t* beyond) {
  uint64_t bitsValue = 0;
  if (!ParseIntegerOfWidth(literal, strlen(literal), bits, isSigned, &bitsValue)) {
    bitsValue = 0;
    if (IsIntegerText(literal)) *beyond = *literal == '-' ? -1 : 1;
  }
  const T value = static_cast<T>(bitsValue);
  char* out = nullptr;
  DuplicateBytes(&out, &value, sizeof value);
  *length = sizeof value;
  return out;
}

// The literal as a value of the column type, in a new buffer; null for a type
// without comparison. *beyond tells an integer literal outside the range.
void* LiteralValue(const char* literal, uint8_t type, int32_t* length, int8_t* beyond) {
  *beyond = 0;
  switch (type) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_INT:
      return IntegerLiteral<int32_t>(literal, 32, true, length, beyond);
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_UNSIGNED_INT:
      return IntegerLiteral<uint32_t>(literal, 32, false, length, beyond);
    case ORV_SQL_BIGINT:
      return IntegerLiteral<int64_t>(literal, 64, true, length, beyond);
    case ORV_SQL_FLOAT:
      *length = StringLength(literal);
      return ConvertTextToColumnValue(literal, length, ORV_SQL_FLOAT);
    case ORV_SQL_CHAR:
    case ORV_SQL_NCHAR:
    case ORV_SQL_TEXT: {
      // The quotes go, whatever the first and last characters are.
      const int32_t n = StringLength(literal);
      *length = n >= 2 ? n - 2 : 0;
      char* text = nullptr;
      DuplicateBytes(&text, literal + (n >= 2 ? 1 : 0), *length);
      return text;
    }
    default:
      return nullptr;
  }
}

template <typename T>
uint8_t Holds(T value, T literal, uint8_t op) {
  switch (op) {
    case CRITERIA_LT: return value < literal;
    case CRITERIA_GT: return value > literal;
    case CRITERIA_LE: return value <= literal;
    case CRITERIA_GE: return value >= literal;
    case CRITERIA_EQ: return value == literal;
    case CRITERIA_NE: return value != literal;
    default: return 0;
  }
}

// A comparison with the row's value on the left; an absent value is smaller
// than every literal, and a literal beyond the range of the column's values
// is greater (or smaller) than each of them.
uint8_t Compare(const RowObject* row, const CriteriaNode* leaf, const void* literal, int32_t literalLength,
                int8_t beyond) {
  int32_t length = 0;
  const void* value = ReadableValue(row, leaf->columnIndex, leaf->columnType, &length);
  if (!value) return Holds(-1, 0, leaf->op);
  if (beyond != 0) return Holds<int>(-beyond, 0, leaf->op);
  switch (leaf->columnType) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_INT:
      return Holds(ValueAs<int32_t>(value), ValueAs<int32_t>(literal), leaf->op);
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_UNSIGNED_INT:
      return Holds(ValueAs<uint32_t>(value), ValueAs<uint32_t>(literal), leaf->op);
    case ORV_SQL_BIGINT:
      return Holds(ValueAs<int64_t>(value), ValueAs<int64_t>(literal), leaf->op);
    case ORV_SQL_FLOAT:
      return Holds(ValueAs<float>(value), ValueAs<float>(literal), leaf->op);
    default: {
      // Texts, byte-wise and case-sensitive.
      const int order = ValueBytesOrder(value, ComparedLength(value, length, leaf->columnType), literal,
                                        static_cast<size_t>(literalLength));
      return Holds(order, 0, leaf->op);
    }
  }
}

uint8_t EvaluateLeaf(const RowObject* row, const CriteriaNode* leaf) {
  if (leaf->value) return Compare(row, leaf, leaf->value, leaf->valueLength, leaf->beyondRange);
  // Not bound through BindCriteria: the literal is converted for this row only.
  int32_t length = 0;
  int8_t beyond = 0;
  void* literal = LiteralValue(leaf->literal, leaf->columnType, &length, &beyond);
  if (!literal) return 0;
  const uint8_t result = Compare(row, leaf, literal, length, beyond);
  free(literal);
  return result;
}

}  // namespace

bool BindCriteria(Vector* columns, CriteriaNode* criterion) {
  if (!criterion) return true;
  for (CriteriaNode* node = FirstPostOrder(criterion); node; node = NextPostOrder(node, criterion)) {
    if (!node->column) continue;
    node->columnIndex = 0;
    node->columnType = 0;
    int32_t position = 0;
    for (VectorNode* n = columns ? ElementAt(columns, 0) : nullptr; n; n = n->next, ++position) {
      const ColumnDefn* column = static_cast<const ColumnDefn*>(n->element);
      if (CompareStringsNoCase(column->name, node->column) == 0) {
        node->columnIndex = position;
        node->columnType = column->type;
        break;
      }
    }
    // Each literal is converted once for the whole selection.
    free(node->value);
    node->value = node->literal
                      ? LiteralValue(node->literal, node->columnType, &node->valueLength, &node->beyondRange)
                      : nullptr;
  }
  return true;
}

uint8_t EvaluateCriteria(const RowObject* row, CriteriaNode* criterion) {
  if (!criterion) return 1;
  for (CriteriaNode* node = FirstPostOrder(criterion); node; node = NextPostOrder(node, criterion)) {
    if (IsLeaf(node)) {
      node->result = EvaluateLeaf(row, node);
      continue;
    }
    // Both operands were evaluated; a missing one counts as true.
    const uint8_t left = node->left ? node->left->result : 1;
    const uint8_t right = node->right ? node->right->result : 1;
    node->result = node->op == CRITERIA_AND ? (left && right) : node->op == CRITERIA_OR ? (left || right) : 0;
  }
  return criterion->result;
}
