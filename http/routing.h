// The single entry through which the program talks to its servers: chooses the
// main or the distribution server, rewrites the path for the product edition,
// picks the transfer routine and walks the server's addresses until one
// answers, remembering the winner as the last access name.
#pragma once
#include <cstdint>

#include "agent/config/settings.h"

// transferMode: 0 plain download, 1 bandwidth-limited download.
int32_t AgentSendRequest(const char* urlPath, const char* data, OptText* outData, int32_t requestType,
                         bool keepAlive, bool forceMainServer, int32_t sendOption, int32_t transferMode);

// DOWNLOAD_FILE of `urlPath` into `destination`, bandwidth-limited when the
// configured transfer rate is non-zero.
int32_t AgentDownloadFile(const void* ignored1, const void* ignored2, const char* urlPath, const char* destination,
                          bool keepAlive);
// GET_DATA of `urlPath` from the main server into `outData`.
int32_t AgentGetData(const void* ignored1, const void* ignored2, const char* urlPath, OptText* outData,
                     bool keepAlive);
