// Values as SQL literals, columns as SQL names, and the criterion text of a
// SELECT: the pieces that every statement of every dialect is made of.
#include <cstdlib>
#include <string_view>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/sql/sqlform.h"
#include "tabledata/store/rowvalue.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/scan.h"
#include "tabledata/values/valuetypes.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether text is a plain decimal number (sign, digits with an optional
// fraction, optional exponent), so that writing it unquoted cannot change the
// statement around it.
bool IsNumericText(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) ++i;
  }
  return i == n;
}

// A floating-point value in six decimals ("%f") when that text reads back as
// the same value and stays short, else in the fewest significant digits that
// read back as the same value (at most 9 for float, 17 for double): six
// decimals alone would turn 1e-7 into 0 and round every finer fraction away.
template <typename ReadsBackTheSame>
std::string FloatingText(double number, int maxDigits, ReadsBackTheSame readsBackTheSame) {
  if (number > -1e15 && number < 1e15) {
    std::string text = FormatText("%f", number);
    if (readsBackTheSame(std::strtod(text.c_str(), nullptr))) return text;
  }
  std::string text;
  for (int digits = 1; digits <= maxDigits; ++digits) {
    text = FormatText("%.*g", digits, number);
    if (readsBackTheSame(std::strtod(text.c_str(), nullptr))) break;
  }
  return text;
}

// text between single quotes, each quote doubled, and each backslash doubled
// when the reader takes backslashes as escapes.
std::string Quoted(std::string_view text, bool doubleBackslashes) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    if (c == '\\' && doubleBackslashes) out += '\\';
    out += c;
  }
  out += '\'';
  return out;
}

// The text of a value written without quotes, before the numeric check.
std::optional<std::string> NumberText(uint8_t type, const void* value, int32_t length) {
  switch (type) {
    case ORV_SQL_TINYINT:
    case ORV_SQL_SMALLINT:
    case ORV_SQL_INT:
      return FormatText("%d", ValueAs<int32_t>(value));
    case ORV_SQL_UNSIGNED_TINYINT:
    case ORV_SQL_UNSIGNED_SMALLINT:
    case ORV_SQL_UNSIGNED_INT:
      return FormatText("%u", ValueAs<uint32_t>(value));
    case ORV_SQL_BIGINT:
      return FormatText("%lld", static_cast<long long>(ValueAs<int64_t>(value)));
    case ORV_SQL_UNSIGNED_LONG_INT:
      return FormatText("%llu", static_cast<unsigned long long>(ValueAs<uint64_t>(value)));
    case ORV_SQL_FLOAT:
    case ORV_SQL_REAL: {
      const float number = ValueAs<float>(value);
      return FloatingText(number, 9, [number](double back) { return static_cast<float>(back) == number; });
    }
    case ORV_SQL_DOUBLE: {
      const double number = ValueAs<double>(value);
      return FloatingText(number, 17, [number](double back) { return back == number; });
    }
    case ORV_SQL_DECIMAL:
    case ORV_SQL_NUMERIC:
      return std::string(static_cast<const char*>(value), static_cast<size_t>(length));
    default:
      return std::nullopt;
  }
}

// " alias.column op  value " of one comparison; BETWEEN writes both bounds.
std::optional<std::string> ComparisonText(const SqlDialectForm& form, const SqlCriterion& leaf) {
  const char* op = SqlOperatorText(leaf.op);
  if (!op || leaf.op == SQL_OP_AND || leaf.op == SQL_OP_OR || !leaf.column.columnName) {
    LogError("Invalid Criteria Node\n");
    return std::nullopt;
  }
  const std::optional<std::string> value = SqlLiteral(form, leaf.value.type, leaf.value.bytes, leaf.value.length);
  std::optional<std::string> upper;
  if (leaf.op == SQL_OP_BETWEEN) upper = SqlLiteral(form, leaf.upper.type, leaf.upper.bytes, leaf.upper.length);
  if (!value || (leaf.op == SQL_OP_BETWEEN && !upper)) {
    LogUnsupportedDatatype();
    return std::nullopt;
  }
  std::string text = FormatText(" %s %s  %s ", SqlColumnText(leaf.column).c_str(), op, value->c_str());
  if (upper) text += FormatText("AND %s ", upper->c_str());
  return text;
}

}  // namespace

const char* SqlOperatorText(uint8_t op) {
  static const char* const kTexts[] = {nullptr, "<", ">", "<=", ">=", "=", "!=", "AND", "OR", "LIKE", "BETWEEN"};
  return op < sizeof kTexts / sizeof kTexts[0] ? kTexts[op] : nullptr;
}

void LogUnsupportedDatatype() { LogError("Unsupported Datatype Used in Query generation.\n"); }

std::optional<std::string> SqlLiteral(const SqlDialectForm& form, uint8_t type, const void* bytes, int32_t length) {
  if (!bytes) return std::string("NULL");
  if (length < 0 || length < FixedValueWidth(type)) return std::nullopt;
  const char* text = static_cast<const char*>(bytes);
  switch (type) {
    case ORV_SQL_CHAR:
    case ORV_SQL_NCHAR:
    case ORV_SQL_TEXT:
      return Quoted(std::string_view(text, ComparedLength(bytes, length, type)), form.backslashEscapes);
    case ORV_SQL_BLOB:
    case ORV_SQL_CLOB: {
      const std::string_view value(text, static_cast<size_t>(length));
      // A zero byte cannot stand inside a quoted literal.
      if (value.find('\0') != std::string_view::npos) return std::nullopt;
      return Quoted(value, form.backslashEscapes || (type == ORV_SQL_BLOB && form.byteaLiterals));
    }
    case ORV_SQL_DATE:
    case ORV_SQL_TIME:
    case ORV_SQL_DATETIME: {
      const std::optional<std::string> dateTime = DateTimeValueText(bytes, type);
      return dateTime ? Quoted(*dateTime, false) : std::string("NULL");
    }
    case ORV_SQL_BOOLEAN:
      return std::string(ValueAs<uint8_t>(bytes) ? form.trueText : form.falseText);
    default: {
      std::optional<std::string> number = NumberText(type, bytes, length);
      if (number && !IsNumericText(*number)) return std::nullopt;
      return number;
    }
  }
}

std::string SqlColumnText(const SqlColumnRef& column) {
  const char* prefix = column.tableAlias ? column.tableAlias : column.tableName;
  std::string text = prefix ? std::string(prefix) + "." : std::string();
  return text + (column.columnName ? column.columnName : "");
}

// The tree in order, every and/or node in parentheses so that the text groups
// as the tree does; walked with a stack of its own, so any depth is fine.
char* GenCriteria(const SqlDialectForm& form, const SqlCriterion* criterion) {
  if (!criterion) return nullptr;
  struct Frame {
    const SqlCriterion* node;
    int stage;  // and/or: 0 before the left operand, 1 before the right, 2 after
  };
  std::vector<Frame> stack{{criterion, 0}};
  std::string text;
  while (!stack.empty()) {
    const SqlCriterion* node = stack.back().node;
    const int stage = stack.back().stage;
    if (node->op != SQL_OP_AND && node->op != SQL_OP_OR) {
      const std::optional<std::string> comparison = ComparisonText(form, *node);
      if (!comparison) return nullptr;
      text += *comparison;
      stack.pop_back();
      continue;
    }
    if (!node->left || !node->right) {
      LogError("Invalid Criteria Node\n");
      return nullptr;
    }
    if (stage == 2) {
      text += ")";
      stack.pop_back();
      continue;
    }
    stack.back().stage = stage + 1;
    if (stage == 0) {
      text += "(";
      stack.push_back({node->left, 0});
    } else {
      text += FormatText(" %s ", SqlOperatorText(node->op));
      stack.push_back({node->right, 0});
    }
  }
  return NewText(text);
}
