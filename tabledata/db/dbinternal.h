// Inside the database layer: the reader of the configuration files, the
// lookups that copy under the configuration lock, and the ODBC provider.
#pragma once
#include <optional>
#include <string>

#include "tabledata/db/db.h"

// Reads words separated by white space, and the rest of a line, out of a
// file's text.
class ConfigReader {
 public:
  explicit ConfigReader(const std::string& text) : text_(text) {}
  // The next word; false at the end of the text.
  bool Word(std::string* word);
  // What follows on the current line, without one leading blank and the line
  // end; the reader moves to the next line.
  std::string LineRest();

 private:
  static bool IsBlank(char c);
  const std::string& text_;
  size_t pos_ = 0;
};

// The whole content of a file; none when it does not open.
std::optional<std::string> ReadWholeFile(const char* path);

// The table's connection name from the map (a copy), or none with the ERROR
// line of GetConnectionNameForTable.
std::optional<std::string> CopyConnectionNameForTable(const char* tableName);
// The dialect named by the databaseType of a connection's parameters; null
// (ERROR "dbConnPtr is NULL for Connection Name %s \n" when there are no
// parameters) when there is none.
const SqlDialect* GetSqlDialectOfConnection(const char* connectionName);

// The built-in ODBC provider.
extern const DBProvider kOdbcProvider;
// The ODBC connection text of a parameters record: its connection string, or
// "DSN=<dsn>;UID=<user>;PWD=<password>;Driver={<provider>}" with each value
// left out when absent (its ";" stays). Values holding ";", braces or
// surrounding blanks are written in braces, so that they cannot add keywords.
std::string OdbcConnectionText(const ConnParams* params);
