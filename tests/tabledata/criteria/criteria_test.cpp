// The criteria language: which sentences parse and into which trees, the
// stack limit at its exact edge, binding by name and evaluation by type.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabledata/criteria/criteria.h"
#include "tabledata/values/valuetypes.h"

namespace {

// The tree as text: leaves as written (mirrored comparisons turned round),
// inner nodes in parentheses.
std::string Shape(const CriteriaNode* node) {
  static const char* const kOps[] = {"?", "<", ">", "<=", ">=", "=", "!=", " and ", " or "};
  if (!node) return "<none>";
  std::string shape;
  if (node->column) {
    shape.append(node->column).append(kOps[node->op]).append(node->literal);
    return shape;
  }
  shape.append("(").append(Shape(node->left)).append(kOps[node->op]).append(Shape(node->right)).append(")");
  return shape;
}

std::string ParseShape(const char* text) {
  CriteriaNode* node = ParseCriteria(text);
  std::string shape = Shape(node);
  FreeCriteria(node);
  return shape;
}

// A chain of n terms: "a=1 and a=1 and ...".
std::string Chain(int terms, const std::string& term = "a=1", const std::string& joiner = " and ") {
  std::string text = term;
  for (int i = 1; i < terms; ++i) text += joiner + term;
  return text;
}

TEST(CriteriaParseTest, SentencesAndTheirTrees) {
  struct Case {
    const char* text;
    const char* shape;
  } cases[] = {
      {"PARAM_NAME='RESOURCE_ID'", "PARAM_NAME='RESOURCE_ID'"},
      {"a=1and b=2", "(a=1 and b=2)"},
      {" \ta = 1 and\tb != 0012 ", "(a=1 and b!=0012)"},
      {"a=1 and b=2 or c=3", "(a=1 and (b=2 or c=3))"},
      {"a=1 or b=2 and c=3", "(a=1 or (b=2 and c=3))"},
      {"a=1 and b=2 and c=3", "(a=1 and (b=2 and c=3))"},
      {"(a=1 or a=2) and b=3", "((a=1 or a=2) and b=3)"},
      {"((a<=1.50))", "a<=1.50"},
      {"5<a", "a>5"},
      {"3<=COUNT", "COUNT>=3"},
      {"'x'>=n", "n<='x'"},
      {"1!=n", "n!=1"},
      {"NAME=''", "NAME=''"},
      {"NAME='x_y'", "NAME='x_y'"},
      {"NAME='1a_b c__ (x)!'", "NAME='1a_b c__ (x)!'"},
      {"AND=1", "AND=1"},
      {"andy=1 or Or=2", "(andy=1 or Or=2)"},
      {"a=1\nb=2", "b=2"},
      {"", "<none>"},
      {"   ", "<none>"},
      {"a=b", "<none>"},
      {"1=2", "<none>"},
      {"a=1 AND b=2", "<none>"},
      {"NAME='_y'", "<none>"},
      {"NAME='x;y'", "<none>"},
      {"NAME='1_y'", "<none>"},
      {"NAME='a\tb'", "<none>"},
      {"NAME='\xc3\xa9'", "<none>"},
      {"NAME='abc", "<none>"},
      {"a==1", "<none>"},
      {"a<>1", "<none>"},
      {"a=-1", "<none>"},
      {"a=1.", "<none>"},
      {"a=.5", "<none>"},
      {"_a=1", "<none>"},
      {"a!1", "<none>"},
      {"a=1\n", "<none>"},
      {"a=1\r", "<none>"},
      {"(a=1", "<none>"},
      {"a=1)", "<none>"},
      {"()", "<none>"},
      {"a=1 and", "<none>"},
      {"a=1 or or b=2", "<none>"},
      {"a=1 b=2", "<none>"},
      {"a 1", "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseShape(c.text), c.shape) << c.text;
  EXPECT_EQ(ParseCriteria(nullptr), nullptr);
}

TEST(CriteriaParseTest, OperandsKnowTheirParent) {
  CriteriaNode* root = ParseCriteria("a=1 and (b=2 or c=3)");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->parent, nullptr);
  EXPECT_EQ(root->left->parent, root);
  EXPECT_EQ(root->right->parent, root);
  EXPECT_EQ(root->right->right->parent, root->right);
  FreeCriteria(root);
}

// The parser's stack holds at most 10000 entries: its start, the input so
// far, an "expr and" pair for each earlier term and the identifier, operator
// and literal of the last one: 2 * terms + 3 entries. So 4998 terms fit and
// 4999 do not. Likewise p parentheses around one comparison need p + 5.
TEST(CriteriaParseTest, StackLimitAtItsEdge) {
  constexpr int kEntries = 10000;
  const int longest = (kEntries - 3) / 2;
  ASSERT_EQ(longest, 4998);
  CriteriaNode* chain = ParseCriteria(Chain(longest).c_str());
  ASSERT_NE(chain, nullptr);
  int depth = 0;
  for (const CriteriaNode* n = chain; n->right; n = n->right) ++depth;
  EXPECT_EQ(depth, longest - 1);
  FreeCriteria(chain);
  EXPECT_EQ(ParseCriteria(Chain(longest + 1).c_str()), nullptr);

  const int parentheses = kEntries - 5;
  const auto nested = [](int p) { return std::string(p, '(') + "a=1" + std::string(p, ')'); };
  EXPECT_EQ(ParseShape(nested(parentheses).c_str()), "a=1");
  EXPECT_EQ(ParseCriteria(nested(parentheses + 1).c_str()), nullptr);

  // Each line starts again from an empty stack.
  const std::string twoLines = Chain(longest) + "\n" + Chain(longest);
  CriteriaNode* last = ParseCriteria(twoLines.c_str());
  EXPECT_NE(last, nullptr);
  FreeCriteria(last);
}

// Columns of a small table and rows built by hand.
class CriteriaEvalTest : public testing::Test {
 protected:
  void SetUp() override {
    InitVector(&columns_, nullptr);
    const std::pair<const char*, uint8_t> defs[] = {
        {"PARAM_NAME", ORV_SQL_CHAR}, {"COUNT", ORV_SQL_INT},      {"U", ORV_SQL_UNSIGNED_INT},
        {"B", ORV_SQL_BIGINT},        {"F", ORV_SQL_FLOAT},        {"D", ORV_SQL_DOUBLE},
        {"DAY", ORV_SQL_DATE},        {"T", ORV_SQL_TINYINT},
    };
    for (const auto& [name, type] : defs) {
      ColumnDefn column{};
      column.name = const_cast<char*>(name);
      column.type = type;
      defs_.push_back(column);
    }
    for (ColumnDefn& c : defs_) AddElementData(&columns_, &c);
  }
  void TearDown() override { FreeVector(&columns_); }

  // A row whose only value is `bytes` in column `index`.
  bool Matches(const char* criteria, int index, const void* bytes, int32_t length) {
    std::vector<void*> values(defs_.size(), nullptr);
    std::vector<int32_t> lengths(defs_.size(), 0);
    values[index] = const_cast<void*>(bytes);
    lengths[index] = length;
    RowObject row{values.data(), lengths.data(), ROW_NEW, nullptr};
    CriteriaNode* node = ParseCriteria(criteria);
    EXPECT_NE(node, nullptr) << criteria;
    EXPECT_TRUE(BindCriteria(&columns_, node));
    const bool result = EvaluateCriteria(&row, node) == 1;
    FreeCriteria(node);
    return result;
  }

  Vector columns_;
  std::vector<ColumnDefn> defs_;
};

TEST_F(CriteriaEvalTest, BindsByNameWithoutRegardToCase) {
  CriteriaNode* node = ParseCriteria("param_name='x' and count=1 or NOSUCH=2");
  BindCriteria(&columns_, node);
  EXPECT_EQ(node->left->columnIndex, 0);
  EXPECT_EQ(node->left->columnType, ORV_SQL_CHAR);
  EXPECT_EQ(node->right->left->columnIndex, 1);
  EXPECT_EQ(node->right->left->columnType, ORV_SQL_INT);
  EXPECT_EQ(node->right->right->columnIndex, 0);
  EXPECT_EQ(node->right->right->columnType, 0);
  FreeCriteria(node);
}

TEST_F(CriteriaEvalTest, ComparesByColumnType) {
  const int32_t i2 = 2, i3 = 3, i4 = 4, minus1 = -1;
  const uint32_t big = 0xFFFFFFFFu;
  const int64_t five = 5000000000LL;
  const float f = 1.5f;
  const double d = 1.0;
  const int16_t shortInt = 3;
  const uint8_t date[4] = {0xE8, 0x07, 3, 5};
  struct Case {
    const char* criteria;
    int column;
    const void* bytes;
    int32_t length;
    bool match;
  } cases[] = {
      {"PARAM_NAME='RESOURCE_ID'", 0, "RESOURCE_ID", 11, true},
      {"PARAM_NAME='RESOURCE_ID'", 0, "resource_id", 11, false},
      {"param_name='RESOURCE_ID'", 0, "RESOURCE_ID", 11, true},
      {"PARAM_NAME<'b'", 0, "abc", 3, true},
      {"PARAM_NAME>'ab'", 0, "abc", 3, true},
      {"PARAM_NAME=''", 0, "", 0, true},
      {"PARAM_NAME=12", 0, "", 0, true},  // the quotes go whatever they are
      {"COUNT>=3", 1, &i3, 4, true},
      {"COUNT>=3", 1, &i4, 4, true},
      {"COUNT>=3", 1, &i2, 4, false},
      {"3<=COUNT", 1, &i3, 4, true},
      {"3<=COUNT", 1, &i2, 4, false},
      {"COUNT!=3", 1, &i2, 4, true},
      {"COUNT<1", 1, &minus1, 4, true},
      {"COUNT='3'", 1, &i3, 4, false},  // a quoted literal is 0 for a number
      {"COUNT=1.5", 1, &i2, 4, false},
      {"U>1", 2, &big, 4, true},
      {"COUNT>1", 1, &big, 4, false},
      {"B=5000000000", 3, &five, 8, true},
      {"F=1.5", 4, &f, 4, true},
      {"F<2", 4, &f, 4, true},
      {"D=1", 5, &d, 8, false},
      {"DAY=1", 6, date, 4, false},
      {"T=3", 7, &i3, 4, true},
      {"NOSUCH=3 or COUNT=3", 1, &i3, 4, true},
      {"NOSUCH=3", 1, &i3, 4, false},
      // An absent value, or one too short for its type, is smaller than
      // every literal.
      {"COUNT<5", 1, nullptr, 0, true},
      {"COUNT=5", 1, nullptr, 0, false},
      {"COUNT<5", 1, &shortInt, 2, true},
      {"COUNT>=3", 1, &shortInt, 2, false},
      {"PARAM_NAME<''", 0, nullptr, 0, true},
      {"PARAM_NAME!='x'", 0, nullptr, 0, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Matches(c.criteria, c.column, c.bytes, c.length), c.match) << c.criteria;
}

// An integer literal beyond the range of the column's values is compared by
// its value: no value equals it, every value is below one above the range
// (and above one below it); an absent value stays below every literal.
TEST_F(CriteriaEvalTest, LiteralsBeyondTheColumnsRange) {
  const int32_t zero = 0, minInt = INT32_MIN, maxInt = INT32_MAX;
  const uint32_t maxUnsigned = 0xFFFFFFFFu;
  const int64_t five = 5000000000LL;
  struct Case {
    const char* criteria;
    int column;
    const void* bytes;
    int32_t length;
    bool match;
  } cases[] = {
      {"COUNT=4294967296", 1, &zero, 4, false},
      {"COUNT!=4294967296", 1, &zero, 4, true},
      {"COUNT<4294967296", 1, &maxInt, 4, true},
      {"COUNT<=2147483648", 1, &maxInt, 4, true},
      {"COUNT>2147483648", 1, &maxInt, 4, false},
      {"COUNT>=4294967296", 1, &minInt, 4, false},
      {"4294967296>COUNT", 1, &zero, 4, true},
      {"U=4294967296", 2, &zero, 4, false},
      {"U<4294967296", 2, &maxUnsigned, 4, true},
      {"U=4294967295", 2, &maxUnsigned, 4, true},
      {"B<99999999999999999999", 3, &five, 8, true},
      {"B=18446744073709551616", 3, &zero, 8, false},
      {"B>9223372036854775808", 3, &five, 8, false},
      {"COUNT<4294967296", 1, nullptr, 0, true},
      {"COUNT>4294967296", 1, nullptr, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Matches(c.criteria, c.column, c.bytes, c.length), c.match) << c.criteria;

  // Below the range: the language has no signed numbers, so a criterion is
  // made by hand (and left unbound, its literal converted for each row).
  std::vector<void*> values(defs_.size(), nullptr);
  std::vector<int32_t> lengths(defs_.size(), 0);
  values[1] = const_cast<int32_t*>(&minInt);
  lengths[1] = 4;
  RowObject row{values.data(), lengths.data(), ROW_NEW, nullptr};
  char column[] = "COUNT";
  char literal[] = "-2147483649";
  CriteriaNode below{};
  below.column = column;
  below.literal = literal;
  below.columnIndex = 1;
  below.columnType = ORV_SQL_INT;
  const struct {
    CriteriaOperator op;
    bool match;
  } comparisons[] = {{CRITERIA_GT, true}, {CRITERIA_EQ, false}, {CRITERIA_LE, false}};
  for (const auto& c : comparisons) {
    below.op = c.op;
    EXPECT_EQ(EvaluateCriteria(&row, &below) == 1, c.match) << static_cast<int>(c.op);
  }
}

TEST_F(CriteriaEvalTest, AndOrOverDeepTrees) {
  const int32_t three = 3;
  EXPECT_TRUE(Matches("(COUNT=1 or COUNT=3) and COUNT>2", 1, &three, 4));
  EXPECT_FALSE(Matches("COUNT=1 or COUNT=2 and COUNT=3", 1, &three, 4));
  // The longest chains the parser accepts are evaluated without recursion.
  EXPECT_TRUE(Matches(Chain(4998, "COUNT=3").c_str(), 1, &three, 4));
  EXPECT_FALSE(Matches((Chain(4997, "COUNT=3") + " and COUNT=0").c_str(), 1, &three, 4));
  EXPECT_TRUE(Matches((Chain(4997, "COUNT=0", " or ") + " or COUNT=3").c_str(), 1, &three, 4));
  EXPECT_EQ(EvaluateCriteria(nullptr, nullptr), 1);
}

}  // namespace
