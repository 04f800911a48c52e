// The data dictionary: the definitions of the tables that the table-data store
// may hold (columns with their types, sizes, defaults and allowed values,
// primary and foreign keys), read from XML and looked up by table name.
#pragma once
#include <cstdint>

#include "tabledata/vector.h"

// One fk-column pair of a foreign key.
struct ForeignKeyDefn {
  char* localColumn;
  char* referenceColumn;
  char* referenceTable;     // null when the foreign key names none
  uint8_t onDeleteCascade;  // fk-constraints "ON-DELETE-CASCADE"
  uint8_t isBidirectional;  // isbidirectional="true"
};

struct ConstraintDefn {
  char** primaryKeys;  // primaryKeyCount owned texts, in document order
  int32_t primaryKeyCount;
  Vector* foreignKeys;  // of ForeignKeyDefn; null when the table has none
};

// The values a column allows: a list (isRange 0) or a range from..to (1).
struct AllowedValues {
  uint8_t isRange;
  char** values;
  int32_t valueCount;
  char* from;
  char* to;
};

struct ColumnDefn {
  char* name;
  uint8_t type;         // OrvSqlType
  void* defaultValue;   // ConvertTextToColumnValue of "default-value", or null
  int32_t defaultLength;
  uint8_t unique;
  char* generatorName;  // the column's values come from this sequence
  char* description;
  int32_t maxSize;      // 0 when absent, -1 when not a number
  uint8_t nullable;
  AllowedValues* allowedValues;
};

struct TableDefn {
  char* name;
  char* description;
  Vector* columns;  // of ColumnDefn, in document order: the column order of rows
  ConstraintDefn* constraints;  // null when the table has no keys
};

// Loading. The index file "datadictionary.txt" lists dictionary files
// separated by white space. Each table read whole is appended in load order; a
// malformed table is left out with an ERROR line and the others still load.

// Index "..\\data\\datadictionary.txt", else "<root>/data/datadictionary.txt"
// under the log's root setting; false when neither opens.
bool LoadAllDataDictFiles();
// Index "<folder>\\datadictionary.txt" and files "<folder>\\<name>".
bool LoadDataDictFiles(const char* folder);
// One dictionary file; false for no path, a file that cannot be opened, or
// XML that fails to parse (tables read before the fault stay).
bool LoadDataDictFromXMLFile(const char* path);
// The same from a document in memory (a dictionary the program carries).
bool LoadDataDictFromXMLBuffer(const char* buffer, int32_t length);

// Lookups. Table names and foreign-key local columns compare without regard to
// case, column names exactly; the first table of a name wins. Results point
// into the dictionary.
TableDefn* GetTableDefn(const char* tableName);
// Every definition (of TableDefn), in load order.
Vector* GetDataDictionary();
ColumnDefn* GetColumnDefnEntry(const char* tableName, const char* columnName);
uint8_t GetColumnTypeByDefn(const char* tableName, const char* columnName);  // 0 when unknown
// The column's default bytes (length in the definition) or null; *found is 1
// when the column exists, else 0.
const void* GetDefaultValue(const char* tableName, const char* columnName, uint8_t* found);
ForeignKeyDefn* GetForeignKeyByLocalColumn(const TableDefn* table, const char* localColumn);

// A text as a value of a column type, in a new buffer with one extra zero byte
// (free() it); *length is the text's length in, the value's length out. Types
// 1 to 4 give 4-byte integers (1 and 3 sign-extended), 16 a 4-byte OrvDate, 17
// a 3-byte OrvTime, 18 an 11-byte OrvDateTimeValue. Null for a type without a
// text form, a date text without "-" or ":", or a boolean other than
// TRUE/FALSE.
void* ConvertTextToColumnValue(const char* text, int32_t* length, uint8_t type);

// DEBUG dump of every definition, or of one.
void PrintDataDictionary();
void PrintTableDefn(const TableDefn* table);

// Frees every definition (the dictionary is empty again), or the first one of
// a name. Tables of the store that use a definition must be gone first.
void FreeDataDictionary();
void FreeTableDefn(const char* tableName);
