// Fuzzes the criteria language: any text is parsed, and a criterion that
// parses is bound to a small table's columns and evaluated against its rows
// (values of every compared type, absent ones and ones too short for their
// type), then freed. Nothing may crash, leak or read past a value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tabledata/criteria/criteria.h"
#include "tabledata/values/valuetypes.h"

namespace {

struct Table {
  Table() {
    InitVector(&columns, nullptr);
    const std::pair<const char*, uint8_t> defs[] = {
        {"a", ORV_SQL_INT},  {"b", ORV_SQL_UNSIGNED_INT}, {"c", ORV_SQL_BIGINT},  {"d", ORV_SQL_FLOAT},
        {"e", ORV_SQL_CHAR}, {"f", ORV_SQL_TEXT},         {"g", ORV_SQL_DOUBLE}, {"h", ORV_SQL_DATETIME},
    };
    for (const auto& [name, type] : defs) {
      ColumnDefn column{};
      column.name = const_cast<char*>(name);
      column.type = type;
      defs_.push_back(column);
    }
    for (ColumnDefn& c : defs_) AddElementData(&columns, &c);
    // Row 0: full values; row 1: all absent; row 2: every value one byte.
    static int32_t i32 = 3;
    static uint32_t u32 = 0xFFFFFFFFu;
    static int64_t i64 = 5000000000LL;
    static float f32 = 1.5f;
    static double f64 = 2.0;
    static char text[] = "x_y";
    static char empty[] = "";
    static uint8_t dateTime[11] = {0xE8, 0x07, 3, 5, 7, 8, 9, 0, 0, 0, 3};
    static char one[] = "1";
    full = {&i32, &u32, &i64, &f32, text, empty, &f64, dateTime};
    fullLengths = {4, 4, 8, 4, 3, 0, 8, 11};
    absent.assign(full.size(), nullptr);
    absentLengths.assign(full.size(), 0);
    shortValues.assign(full.size(), one);
    shortLengths.assign(full.size(), 1);
    rows[0] = RowObject{full.data(), fullLengths.data(), 2, nullptr};
    rows[1] = RowObject{absent.data(), absentLengths.data(), 2, nullptr};
    rows[2] = RowObject{shortValues.data(), shortLengths.data(), 2, nullptr};
  }
  Vector columns;
  std::vector<ColumnDefn> defs_;
  std::vector<void*> full, absent, shortValues;
  std::vector<int32_t> fullLengths, absentLengths, shortLengths;
  RowObject rows[3];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Table table;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CriteriaNode* criterion = ParseCriteria(text.c_str());
  if (!criterion) return 0;
  BindCriteria(&table.columns, criterion);
  for (const RowObject& row : table.rows)
    if (EvaluateCriteria(&row, criterion) > 1) __builtin_trap();
  FreeCriteria(criterion);
  return 0;
}
