// Download access logs (see accesslog.h).
#include "http/accesslog.h"

#include <windows.h>

#include "agent/config/settings.h"
#include "agent/log/format.h"
#include "agent/log/logger.h"
#include "agent/util/fileutil.h"
#include "agent/util/textutil.h"
#include "agent/util/timeutil.h"
#include "http/requestcore.h"

namespace {
std::string Header() {
  return "DATE\t\t\tSTART_TIME\t" + std::string(25, ' ') +
         "FILE_NAME\tMODE\t\t\t\tT_BYTES\tSTATUS\tRECEVD_BYTES\tEND_TIME\tSERVER_NAME\t\tPORT\tURL\n" +
         std::string(142, '-');
}
}  // namespace

std::string AccessLogStartText() { return FormatText("\n %s\t\t%10s\t", DateStamp().c_str(), TimeStamp().c_str()); }

std::string FormatAccessLogRecord(const AccessLogEntry& entry, int32_t result, const std::string& endTime) {
  OptText last = GetLastUrlFileName(entry.objectPath.c_str());
  const std::string fileName = last && !last->empty() ? *last : "--";
  std::string record = FormatText("\n %20s\t", entry.startText.c_str());
  record += FormatText("\t%30s", fileName.c_str());
  record += FormatText("\t%12s", entry.requestType == DOWNLOAD_FILE ? "DownloadFile" : "GetData");
  record += FormatText("\t%10u\t%5ld\t%10u", entry.contentLength, static_cast<long>(result), entry.bytesReceived);
  record += FormatText("\t%10s\t", endTime.c_str());
  record += FormatText("\t%15ls\t%6d\t%ls", entry.serverAddress.c_str(), static_cast<int>(entry.port),
                       entry.objectPathW.c_str());
  return record;
}

void PrintHTTPAccessLog(const AccessLogEntry& entry, int32_t result) {
  const std::string path = gv_agentInstallDir.value_or("") +
                           (result == 0 ? "logs\\downloadSuccessAccess.log" : "logs\\downloadFailureAccess.log");
  LogDebug("downloadaccesslog : %s \n", path.c_str());
  if (!gv_agentInstallDir) {
    LogError("Error caught in PrintHTTPAccessLog");
    return;
  }
  if (!IsFileExist(path.c_str())) AppendTextToFile(path.c_str(), "%s", Header().c_str());
  AppendTextToFile(path.c_str(), "%s", FormatAccessLogRecord(entry, result, TimeStamp()).c_str());
}
