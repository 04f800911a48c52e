// The criteria language of the table-data store: a small filter over the
// columns of one table (PARAM_NAME='RESOURCE_ID', COUNT>=3 and (a=1 or a=2)),
// parsed into a tree, bound to a table's columns and evaluated row by row.
#pragma once
#include <cstdint>

#include "tabledata/store/tabledata.h"
#include "tabledata/vector.h"

// Operators of a node: comparisons of a leaf, and/or of an inner node.
enum CriteriaOperator : uint8_t {
  CRITERIA_LT = 1,
  CRITERIA_GT = 2,
  CRITERIA_LE = 3,
  CRITERIA_GE = 4,
  CRITERIA_EQ = 5,
  CRITERIA_NE = 6,
  CRITERIA_AND = 7,
  CRITERIA_OR = 8,
};

// One node of a parsed criterion: a leaf compares a column with a literal, an
// inner node joins its two operands with and/or. Everything is malloc'd and
// owned by the tree; FreeCriteria releases it.
struct CriteriaNode {
  char* column;   // leaf: the column name as written
  char* literal;  // leaf: the literal as written, quotes included
  uint8_t op;     // CriteriaOperator
  // Set by BindCriteria, 0 until then. The position is wider than a byte so
  // that a column past the 256th is never taken for another one.
  int32_t columnIndex;
  uint8_t columnType;
  CriteriaNode* left;
  CriteriaNode* right;
  CriteriaNode* parent;
  // The literal converted once for columnType by BindCriteria (null when the
  // type has no comparison), and the node's last result during evaluation.
  void* value;
  int32_t valueLength;
  uint8_t result;
  // An integer literal beyond what the column's values can be: 1 above their
  // range (every value is smaller), -1 below it (every value is greater), 0
  // within it. Set by BindCriteria with value.
  int8_t beyondRange;
};

// The criterion of the text's last line, or null for no text, a character
// that starts no token, a sentence outside the grammar, or a parse deeper than
// 10000 stack entries. Nothing is logged; the caller frees the tree.
CriteriaNode* ParseCriteria(const char* text);
// Binds every node whose column names one of columns (ColumnDefn, compared
// without regard to case) to that column's position and type. True.
bool BindCriteria(Vector* columns, CriteriaNode* criterion);
// Whether the row satisfies the bound criterion (1) or not (0); 1 for none.
uint8_t EvaluateCriteria(const RowObject* row, CriteriaNode* criterion);
void FreeCriteria(CriteriaNode* criterion);

// The address that serialises criteria work in the store: held with
// LockObject from before parsing until the criterion is freed.
const void* GetCriteriaLock();
