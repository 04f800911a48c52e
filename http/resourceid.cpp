// Resource ID lookup. The registry copy is authoritative; when it is missing,
// the computer's resource document is fetched from the main server, loaded into
// the table-data store and the ID read from its "Agentparams" table, then kept
// in the registry for later runs and announced to the agent service.
#include "http/resourceid.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "agent/log/logger.h"
#include "agent/registry/registry.h"
#include "agent/util/servicemsg.h"
#include "agent/util/textconv.h"
#include "agent/util/textutil.h"
#include "http/routing.h"
#include "tabledata/dict/dictionary.h"
#include "tabledata/store/tabledata.h"
#include "tabledata/xml/tablexml.h"

namespace {

constexpr uint32_t kResourceIdChanged = 147;

// The table the resource document describes the computer with. The program
// carries its definition: the store loads only rows of tables it knows.
constexpr char kAgentParamsDictionary[] = R"(<?xml version="1.0"?>
<data-dictionary>
  <table name="Agentparams">
    <columns>
      <column name="PARAM_NAME"><data-type>TEXT</data-type></column>
      <column name="param_Value"><data-type>TEXT</data-type></column>
    </columns>
  </table>
</data-dictionary>
)";

// Once per process, unless a dictionary loaded earlier defines the table.
void EnsureAgentParamsDefined() {
  static bool done = false;
  if (done) return;
  done = true;
  if (!GetTableDefn("Agentparams"))
    LoadDataDictFromXMLBuffer(kAgentParamsDictionary, static_cast<int32_t>(sizeof kAgentParamsDictionary - 1));
}

const char* TextOf(const OptText& text) { return text ? text->c_str() : "(null)"; }

// The first "RESOURCE_ID" row's "param_Value" from the loaded document; none
// when the table, the row or a non-empty value is missing (each logged).
OptText SelectResourceId() {
  ResultData* rows = SelectRows("Agentparams", "PARAM_NAME='RESOURCE_ID'");
  if (!rows) {
    LogError("GetResourceIDFromServer :No rows found corresponding to the resource id in the resource id xml .\n");
    return std::nullopt;
  }
  OptText id;
  if (!GotoNextRowObject(rows)) {
    LogError("GetResourceIDFromServer : No row objects corresponding to the resource id is found \n");
  } else {
    int32_t length = 0;
    const char* value = static_cast<const char*>(GetColumnValueByName("param_Value", &length, rows));
    // An absent or empty value is no ID: nothing is stored or announced.
    if (!value || length <= 0 || value[0] == '\0')
      LogError("GetResourceIDFromServer : Error while allocating the value of resourceid \n");
    else
      id = std::string(value, strnlen(value, static_cast<size_t>(length)));
  }
  FreeResultData(rows);
  return id;
}

}  // namespace

int32_t GetResourceIDFromServer(OptText& out) {
  LogInfo("gv_clientDataPath: %s\n", TextOf(gv_clientDataPath));
  LogInfo("gv_localComputerName: %s\n", TextOf(gv_localComputerName));
  std::string dataPath = gv_clientDataPath.value_or("");
  const std::string computer = gv_localComputerName.value_or("");
  LogInfo("clientDataPathTemp: %s\n", dataPath.c_str());
  LogInfo("localComputerLwr: %s\n", computer.c_str());

  // The namespace segment of the data path names the domain the computer is in.
  std::optional<std::wstring> wideDomain;
  std::string domain;
  if (ReadRegSZEx(HKEY_LOCAL_MACHINE, kSystemDetailsKeyPath, "LocalDomainName", wideDomain) == 0 && wideDomain &&
      ChangeWideToUtf8Str(wideDomain->c_str(), domain)) {
    LogInfo("domainNameFromReg: %s\n", domain.c_str());
    if (OptText replaced = FindAndReplaceWithNoCase(dataPath.c_str(), TextOf(gv_clientNamespace), domain.c_str()))
      dataPath = *replaced;
    LogInfo("clientDataPathTemp: %s", dataPath.c_str());
    dataPath = ToLowerUtf8(dataPath.c_str());
    LogInfo("lower_CDPath: %s\n", dataPath.c_str());
  } else {
    // Without the domain name the data path is asked for as it is, lower-cased.
    dataPath = ToLowerUtf8(dataPath.c_str());
  }
  const std::string lowerComputer = ToLowerUtf8(computer.c_str());
  LogInfo("lower_compName: %s\n", lowerComputer.c_str());
  const std::string path = "/" + dataPath + "/resources/" + lowerComputer + ".xml";
  LogInfo("resourceIdXmlPath: %s\n", path.c_str());

  OptText document;
  const int32_t rc = AgentGetData(nullptr, nullptr, path.c_str(), &document, true);
  if (rc != 0) {
    LogError("GetResourceIDFromServer : Unable to get the reource id xml from %s path and the error code is %d \n",
             path.c_str(), static_cast<int>(rc));
    return rc;
  }
  EnsureAgentParamsDefined();
  const std::string text = document.value_or("");
  document.reset();
  SetLastError(0);
  if (!LoadTableDataFromXmlBuffer(text.c_str(), static_cast<int32_t>(strlen(text.c_str())))) {
    const DWORD error = GetLastError();
    LogError("GetResourceIDFromServer : Error occured (%d) while loading resource id buffer to the memory : \n %s \n",
             static_cast<int>(error), text.c_str());
    // A failed load is never success, whatever the thread's error says.
    return error != 0 ? static_cast<int32_t>(error) : ERROR_INVALID_DATA;
  }

  if (OptText id = SelectResourceId()) {
    LogInfo("GetResourceIDFromServer : The Resource ID from the server is given  by %s \n", id->c_str());
    writeValue(HKEY_LOCAL_MACHINE, kSystemDetailsKeyPath, "TWAgentResourceID", id->c_str(), REG_SZ);
    NotifyAgentService(kResourceIdChanged);
    out = std::move(id);
  }
  return 0;
}

int32_t GetResourceID(OptText& out) {
  OptText value;
  int32_t rc = ReadRegSZ(HKEY_LOCAL_MACHINE, kSystemDetailsKeyPath, "TWAgentResourceID", value);
  if (rc == 0 && value) {
    out = std::move(value);
    return 0;
  }
  LogError(
      "GetResourceID : Unable to get the TW Agent Resource ID from Registry , So trying to get the same from server "
      ".\n");
  return GetResourceIDFromServer(out);
}
