// The ODBC provider: one process-wide environment, connections by connection
// text, statements and queries (every cell fetched whole, in pieces), driver
// diagnostics, transactions, and data sources registered through the ODBC
// installer.
#ifdef _WIN32
#include <windows.h>
#endif
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/log/logger.h"
#include "tabledata/db/db.h"
#include "tabledata/db/dbinternal.h"
#include "tabledata/strutil.h"
#include "tabledata/values/datetime.h"
#include "tabledata/values/valuetypes.h"

namespace {

// The provider's record of a connection.
struct OdbcConnection {
  SQLHDBC dbc;
  char* connectionName;
};

// One environment for the process, allocated with the first connection and
// freed with the last.
std::mutex g_environmentMutex;
SQLHENV g_environment = SQL_NULL_HENV;
int32_t g_environmentUsers = 0;

SQLHENV AcquireEnvironment() {
  std::lock_guard<std::mutex> lock(g_environmentMutex);
  if (g_environment == SQL_NULL_HENV) {
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) return SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
      SQLFreeHandle(SQL_HANDLE_ENV, environment);
      return SQL_NULL_HENV;
    }
    g_environment = environment;
  }
  ++g_environmentUsers;
  return g_environment;
}

void ReleaseEnvironment() {
  std::lock_guard<std::mutex> lock(g_environmentMutex);
  if (g_environmentUsers > 0 && --g_environmentUsers == 0) {
    SQLFreeHandle(SQL_HANDLE_ENV, g_environment);
    g_environment = SQL_NULL_HENV;
  }
}

// Logs every diagnostic record of a handle: "STATE: %s\n", "NAT: %ld\n",
// "MSG: %s\n".
void LogDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message,
                                       static_cast<SQLSMALLINT>(sizeof message), &length);
    if (!SQL_SUCCEEDED(rc)) return;
    LogError("STATE: %s\n", reinterpret_cast<const char*>(state));
    LogError("NAT: %ld\n", static_cast<long>(native));
    LogError("MSG: %s\n", reinterpret_cast<const char*>(message));
  }
}

// A transaction step that failed: its message and the driver's diagnostics.
void LogTransactionFailure(const char* message, SQLHDBC dbc) {
  LogError("%s", message);
  LogError("Error in starting transaction\n");
  LogDiagnostics(SQL_HANDLE_DBC, dbc);
}

// Whether the last call on the statement reported state 01004 (data cut:
// more of the value is to come).
bool IsTruncation(SQLHSTMT statement) {
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, statement, record, state, &native, nullptr, 0, &length)))
      return false;
    if (memcmp(state, "01004", 5) == 0) return true;
  }
}

// The store's type code of an ODBC SQL type. FLOAT is the double-precision
// type of ODBC, so it is read as a double.
uint8_t TypeCodeOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIGINT: return ORV_SQL_BIGINT;
    case SQL_SMALLINT: return ORV_SQL_SMALLINT;
    case SQL_INTEGER: return ORV_SQL_INT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return ORV_SQL_DOUBLE;
    case SQL_CHAR: return ORV_SQL_CHAR;
    case SQL_VARCHAR: return ORV_SQL_NCHAR;
    case SQL_LONGVARCHAR: return ORV_SQL_BLOB;
    case SQL_TYPE_DATE:
    case SQL_DATE: return ORV_SQL_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME: return ORV_SQL_TIME;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return ORV_SQL_DATETIME;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ORV_SQL_BLOB;
    case SQL_TINYINT: return ORV_SQL_BOOLEAN;
    case SQL_NUMERIC: return ORV_SQL_NUMERIC;
    default: return ORV_SQL_NOT_SUPPORTED_TYPE;  // REAL, DECIMAL, GUID, the wide texts, BIT, intervals
  }
}

bool IsIntegerCode(uint8_t type) { return type == ORV_SQL_SMALLINT || type == ORV_SQL_INT || type == ORV_SQL_BIGINT; }

// A new value buffer of length bytes and a zero byte; made here rather than
// with DuplicateBytes, whose trace line would be written for every cell.
void* NewValue(const void* bytes, size_t length) {
  char* value = static_cast<char*>(malloc(length + 1));
  if (!value) return nullptr;
  if (length) memcpy(value, bytes, length);
  value[length] = '\0';
  return value;
}

enum class Fetch { kValue, kNull, kFailed };

// A whole cell as text (SQL_C_CHAR) or bytes (SQL_C_BINARY) into a new buffer,
// in pieces for as long as the driver says that more is to come.
Fetch FetchWhole(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, void** value, int32_t* length) {
  const size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
  char first[512];
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(statement, column, cType, first, sizeof first, &indicator);
  if (rc == SQL_NO_DATA) {  // an empty value
    indicator = 0;
    rc = SQL_SUCCESS;
  }
  if (!SQL_SUCCEEDED(rc)) return Fetch::kFailed;
  if (indicator == SQL_NULL_DATA) return Fetch::kNull;
  const size_t firstRoom = sizeof first - terminator;
  const bool more = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > firstRoom) &&
                    IsTruncation(statement);
  if (!more) {
    const size_t n = indicator < 0 ? 0 : std::min(static_cast<size_t>(indicator), firstRoom);
    if (n > INT32_MAX - 1) return Fetch::kFailed;
    *value = NewValue(first, n);
    *length = static_cast<int32_t>(n);
    return *value ? Fetch::kValue : Fetch::kFailed;
  }
  // The rest: the indicator gives the whole length when the driver knows it.
  std::vector<char> whole(first, first + firstRoom);
  size_t wanted = indicator == SQL_NO_TOTAL ? 2 * sizeof first : static_cast<size_t>(indicator) - firstRoom;
  for (;;) {
    const size_t have = whole.size();
    whole.resize(have + wanted + terminator);
    rc = SQLGetData(statement, column, cType, whole.data() + have, static_cast<SQLLEN>(wanted + terminator), &indicator);
    if (rc == SQL_NO_DATA) {
      whole.resize(have);
      break;
    }
    if (!SQL_SUCCEEDED(rc)) return Fetch::kFailed;
    const bool again = rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > wanted) &&
                       IsTruncation(statement);
    if (!again) {
      whole.resize(have + (indicator < 0 ? 0 : std::min(static_cast<size_t>(indicator), wanted)));
      break;
    }
    whole.resize(have + wanted);
    wanted = indicator == SQL_NO_TOTAL ? whole.size() : static_cast<size_t>(indicator) - wanted;
  }
  if (whole.size() > INT32_MAX - 1) return Fetch::kFailed;
  *value = NewValue(whole.data(), whole.size());
  *length = static_cast<int32_t>(whole.size());
  return *value ? Fetch::kValue : Fetch::kFailed;
}

// The C type a column is fetched as: integers (and the TINYINT booleans) as
// 64-bit numbers, doubles as doubles, binary types as bytes, anything else
// as text. Long texts come as text too, since a driver may cut the last byte
// of a text that it hands out in binary pieces.
SQLSMALLINT FetchTypeOf(SQLSMALLINT sqlType, uint8_t type, bool isUnsigned) {
  if (IsIntegerCode(type) || type == ORV_SQL_BOOLEAN) return isUnsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
  if (type == ORV_SQL_DOUBLE) return SQL_C_DOUBLE;
  if (sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY) return SQL_C_BINARY;
  return SQL_C_CHAR;
}

// One cell of the current row, fetched as cType, in the form of its column's
// type code (see ResultSetCell).
Fetch FetchCell(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, const ResultSetColumn& description,
                ResultSetCell* cell) {
  const uint8_t type = description.type;
  SQLLEN indicator = 0;
  if (cType == SQL_C_SBIGINT || cType == SQL_C_UBIGINT) {
    uint64_t bits = 0;
    if (!SQL_SUCCEEDED(SQLGetData(statement, column, cType, &bits, sizeof bits, &indicator))) return Fetch::kFailed;
    if (indicator == SQL_NULL_DATA) return Fetch::kNull;
    if (type == ORV_SQL_BOOLEAN) {
      const uint8_t flag = bits != 0 ? 1 : 0;
      cell->value = NewValue(&flag, 1);
      cell->length = 1;
    } else {
      // 32 bits when the value fits them, else all 64, so that nothing is cut.
      const int64_t signedValue = static_cast<int64_t>(bits);
      const bool fits = type != ORV_SQL_BIGINT &&
                        (description.isUnsigned ? bits <= UINT32_MAX : signedValue >= INT32_MIN && signedValue <= INT32_MAX);
      const uint32_t narrow = static_cast<uint32_t>(bits);
      cell->value = fits ? NewValue(&narrow, 4) : NewValue(&bits, 8);
      cell->length = fits ? 4 : 8;
    }
    return cell->value ? Fetch::kValue : Fetch::kFailed;
  }
  if (cType == SQL_C_DOUBLE) {
    double number = 0;
    if (!SQL_SUCCEEDED(SQLGetData(statement, column, SQL_C_DOUBLE, &number, sizeof number, &indicator)))
      return Fetch::kFailed;
    if (indicator == SQL_NULL_DATA) return Fetch::kNull;
    cell->value = NewValue(&number, sizeof number);
    cell->length = sizeof number;
    return cell->value ? Fetch::kValue : Fetch::kFailed;
  }
  void* bytes = nullptr;
  int32_t length = 0;
  const Fetch fetched = FetchWhole(statement, column, cType, &bytes, &length);
  if (fetched != Fetch::kValue) return fetched;
  if (type >= ORV_SQL_DATE && type <= ORV_SQL_DATETIME) {
    // Read as "Y-M-D", "h:m:s" or "Y-M-D h:m:s" into a date-time with the
    // parts the text has; a text of neither form is no value.
    OrvDateTime* dateTime = ConvertStringToOrvGenDateTime(static_cast<const char*>(bytes));
    free(bytes);
    if (!dateTime) return Fetch::kNull;
    const OrvDateTimeValue flat = PackOrvDateTime(dateTime);
    FreeOrvDateTime(dateTime);
    cell->value = NewValue(&flat, sizeof flat);
    cell->length = sizeof flat;
    return cell->value ? Fetch::kValue : Fetch::kFailed;
  }
  cell->value = bytes;
  cell->length = length;
  return Fetch::kValue;
}

// Frees a statement after a query or update, closing its cursor first.
void FreeStatement(SQLHSTMT statement, bool hadCursor) {
  if (hadCursor) SQLCloseCursor(statement);
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
}

SQLHSTMT NewStatement(SQLHDBC dbc) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &statement))) {
    LogError("Allocating Statement Handle failed\n");
    LogDiagnostics(SQL_HANDLE_DBC, dbc);
    return SQL_NULL_HSTMT;
  }
  return statement;
}

// The column descriptions of an executed statement and the C type each is
// fetched as; false on a failure, which is logged.
bool DescribeColumns(SQLHSTMT statement, SQLSMALLINT count, ResultSet* resultSet, std::vector<SQLSMALLINT>* cTypes) {
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLCHAR name[100] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    if (!SQL_SUCCEEDED(SQLDescribeCol(statement, i, name, static_cast<SQLSMALLINT>(sizeof name), &nameLength, &sqlType,
                                      &size, &digits, &nullable))) {
      LogError("SQLDescribeCol failed\n");
      LogDiagnostics(SQL_HANDLE_STMT, statement);
      return false;
    }
    const uint8_t type = TypeCodeOf(sqlType);
    SQLLEN isUnsigned = SQL_FALSE;
    if (IsIntegerCode(type) &&
        !SQL_SUCCEEDED(SQLColAttribute(statement, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned)))
      isUnsigned = SQL_FALSE;
    if (!SetResultSetColumn(resultSet, i - 1, reinterpret_cast<const char*>(name), type, isUnsigned == SQL_TRUE ? 1 : 0))
      return false;
    cTypes->push_back(FetchTypeOf(sqlType, type, isUnsigned == SQL_TRUE));
  }
  return true;
}

// Reads every row of an executed statement into the result set; the loop ends
// on SQL_NO_DATA and fails, logged, on an error.
bool FetchRows(SQLHSTMT statement, const std::vector<SQLSMALLINT>& cTypes, ResultSet* resultSet) {
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) {
      LogError("SQLFetch failed\n");
      LogDiagnostics(SQL_HANDLE_STMT, statement);
      return false;
    }
    ResultSetRow* row = AddResultSetRow(resultSet);
    if (!row) return false;
    for (int32_t i = 0; i < resultSet->columnCount; ++i) {
      if (FetchCell(statement, static_cast<SQLUSMALLINT>(i + 1), cTypes[static_cast<size_t>(i)], resultSet->columns[i],
                    &row->cells[i]) == Fetch::kFailed) {
        LogError("SQLGetData failed\n");
        LogDiagnostics(SQL_HANDLE_STMT, statement);
        return false;
      }
    }
  }
}

// A value of the connection text: as it is, or in braces (a closing brace
// doubled) when it could otherwise end the value or start another keyword.
std::string ConnectionValue(const char* value) {
  const std::string text(value);
  const bool plain = text.find_first_of(";{}") == std::string::npos &&
                     (text.empty() || (text.front() != ' ' && text.back() != ' '));
  if (plain) return text;
  std::string braced = "{";
  for (char c : text) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

void* OdbcOpen(const ConnParams* params) {
  if (!params || !params->dsn || (params->useConnectionString == 1 && !params->connectionString)) {
    LogError("ODBC connection Parameter missing\n");
    return nullptr;
  }
  SQLHENV environment = AcquireEnvironment();
  if (environment == SQL_NULL_HENV) {
    LogError("Allocating Env Handle failed\n");
    return nullptr;
  }
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment, &dbc))) {
    LogError("Allocating connection Handle failed\n");
    ReleaseEnvironment();
    return nullptr;
  }
  const std::string text = OdbcConnectionText(params);
  SQLCHAR out[1025] = {};
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                                        SQL_NTS, out, static_cast<SQLSMALLINT>(sizeof out), &outLength,
                                        SQL_DRIVER_NOPROMPT);
  OdbcConnection* connection = nullptr;
  if (SQL_SUCCEEDED(rc)) {
    connection = static_cast<OdbcConnection*>(calloc(1, sizeof(OdbcConnection)));
    if (connection && DuplicateString(&connection->connectionName, params->connectionName) == 1) {
      connection->dbc = dbc;
      return connection;
    }
    free(connection);
    SQLDisconnect(dbc);
  } else {
    LogError("Connecting to driver failed\n");
    LogDiagnostics(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  ReleaseEnvironment();
  return nullptr;
}

void OdbcClose(void* handle) {
  OdbcConnection* connection = static_cast<OdbcConnection*>(handle);
  if (!connection) return;
  SQLDisconnect(connection->dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, connection->dbc);
  free(connection->connectionName);
  free(connection);
  ReleaseEnvironment();
}

bool OdbcExecuteUpdate(void* handle, const char* sql, int64_t* rowCount) {
  OdbcConnection* connection = static_cast<OdbcConnection*>(handle);
  SQLHSTMT statement = NewStatement(connection->dbc);
  if (statement == SQL_NULL_HSTMT) return false;
  bool ok = false;
  if (!SQL_SUCCEEDED(SQLPrepare(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS))) {
    LogError("SQLPrepare failed\n");
    LogDiagnostics(SQL_HANDLE_STMT, statement);
  } else if (const SQLRETURN rc = SQLExecute(statement); !SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    LogError("SQLExecute failed\n");
    LogDiagnostics(SQL_HANDLE_STMT, statement);
  } else {
    SQLLEN rows = 0;
    ok = SQL_SUCCEEDED(SQLRowCount(statement, &rows));
    if (!ok) LogError("No Rows Affected \n");
    if (ok && rowCount) *rowCount = rows;
  }
  FreeStatement(statement, false);
  return ok;
}

ResultSet* OdbcExecuteQuery(void* handle, const char* sql) {
  LogTrace("Inside ODBCExecuteQuery\n");
  OdbcConnection* connection = static_cast<OdbcConnection*>(handle);
  SQLHSTMT statement = NewStatement(connection->dbc);
  if (statement == SQL_NULL_HSTMT) return nullptr;
  ResultSet* resultSet = nullptr;
  bool ok = false;
  const SQLRETURN rc = SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
  SQLLEN rows = 0;
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    LogError("SQLExecDirect failed\n");
    LogDiagnostics(SQL_HANDLE_STMT, statement);
  } else if (!SQL_SUCCEEDED(SQLRowCount(statement, &rows))) {
    LogError("No Rows Affected\n");
  } else if (rc == SQL_NO_DATA) {
    resultSet = CreateResultSet(0);  // nothing to fetch: no rows
    ok = resultSet != nullptr;
  } else if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columns))) {
    LogError("SQLNumResultCols Failed\n");
    LogDiagnostics(SQL_HANDLE_STMT, statement);
  } else {
    resultSet = CreateResultSet(columns);
    std::vector<SQLSMALLINT> cTypes;
    ok = resultSet && DescribeColumns(statement, columns, resultSet, &cTypes) &&
         (columns == 0 || FetchRows(statement, cTypes, resultSet));
  }
  FreeStatement(statement, columns > 0);
  if (!ok) {
    FreeResultSet(resultSet);
    return nullptr;
  }
  return resultSet;
}

bool SetAutocommit(SQLHDBC dbc, bool on) {
  return SQL_SUCCEEDED(SQLSetConnectAttr(
      dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
      SQL_IS_UINTEGER));
}

bool OdbcBeginTransaction(void* handle) {
  LogTrace("\t@@@@@ ODBCBeginTransaction() @@@@@\n");
  SQLHDBC dbc = static_cast<OdbcConnection*>(handle)->dbc;
  if (SetAutocommit(dbc, false)) return true;
  LogTransactionFailure("Error in setting SQL_AUTOCOMMIT_OFF\n", dbc);
  return false;
}

// Ends the transaction; autocommit comes back on only when it ended, since
// turning it on inside an open transaction would commit it.
bool EndTransaction(void* handle, SQLSMALLINT completion, const char* failure) {
  SQLHDBC dbc = static_cast<OdbcConnection*>(handle)->dbc;
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, completion))) {
    LogTransactionFailure(failure, dbc);
    return false;
  }
  if (!SetAutocommit(dbc, true)) {
    LogTransactionFailure("Error in setting SQL_AUTOCOMMIT_ON\n", dbc);
    return false;
  }
  return true;
}

bool OdbcCommitTransaction(void* handle) {
  LogTrace("\t@@@@@ ODBCCommitTransaction() @@@@@\n");
  return EndTransaction(handle, SQL_COMMIT, "Error in commiting transaction\n");
}

bool OdbcRollbackTransaction(void* handle) {
  LogTrace("\t@@@@@ ODBCRollbackTransaction() @@@@@\n");
  return EndTransaction(handle, SQL_ROLLBACK, "Error in rollbacking transaction\n");
}

// Statements with a bound binary value are not offered by this provider.
bool OdbcExecuteUpdateBlob(void*, const char*, const void*, int32_t) { return false; }
ResultSet* OdbcExecuteQueryBlob(void*, const char*, const void*, int32_t) { return nullptr; }

}  // namespace

const DBProvider kOdbcProvider = {"ODBC",
                                  OdbcOpen,
                                  OdbcExecuteUpdate,
                                  OdbcExecuteQuery,
                                  OdbcClose,
                                  OdbcBeginTransaction,
                                  OdbcCommitTransaction,
                                  OdbcRollbackTransaction,
                                  OdbcExecuteUpdateBlob,
                                  OdbcExecuteQueryBlob};

std::string OdbcConnectionText(const ConnParams* params) {
  if (params->useConnectionString == 1 && params->connectionString) return params->connectionString;
  std::string text;
  if (params->dsn) text += "DSN=" + ConnectionValue(params->dsn);
  text += ";";
  if (params->user) text += "UID=" + ConnectionValue(params->user);
  text += ";";
  if (params->password) text += "PWD=" + ConnectionValue(params->password);
  text += ";";
  if (params->provider) text += "Driver={" + ConnectionValue(params->provider) + "}";
  return text;
}

bool CreateDSNs(const char* fileName) {
  const std::optional<std::string> content = ReadWholeFile(fileName);
  if (!content) {
    LogError("Error opening File %s \n", fileName ? fileName : "(null)");
    return false;
  }
  ConfigReader reader(*content);
  bool allCreated = true;
  for (;;) {
    // driver, name, description, server, user, password, database
    std::vector<std::string> words(7);
    bool complete = true;
    for (std::string& word : words) complete = complete && reader.Word(&word);
    if (!complete) break;
    if (words[0] == "NULL" || words[1] == "NULL") {
      LogError("DriverName or DSN name is NULL \n");
      allCreated = false;
      continue;
    }
    // The installer takes "KEY=value" pairs each ended by a zero byte, and one
    // more zero byte at the end; the log shows them separated by ";".
    static const char* const kKeys[] = {"DSN", "DESCRIPTION", "SERVER", "UID", "PWD", "DATABASE"};
    std::string text;
    std::string pairs;
    for (size_t i = 0; i < 6; ++i) {
      if (words[i + 1] == "NULL") continue;
      const std::string pair = std::string(kKeys[i]) + "=" + words[i + 1];
      text += pair + ";";
      pairs += pair;
      pairs += '\0';
    }
    pairs += '\0';
    if (!SQLConfigDataSource(nullptr, ODBC_ADD_DSN, words[0].c_str(), pairs.c_str())) {
      LogError("SQLConfigDataSource returned FALSE \n");
      LogError("Creating DSN %s Failed\n", text.c_str());
      allCreated = false;
    }
  }
  return allCreated;
}
