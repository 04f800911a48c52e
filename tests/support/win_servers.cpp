// Reads the env file the "http_servers" fixture writes and checks that the
// servers it names are listening, so a test without them fails at once with a
// message instead of waiting on connection time-outs.
#include <winsock2.h>
#include <windows.h>

#include "tests/support/win_servers.h"

#include "tests/support/win_system.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

namespace twtest {

namespace {

std::string EnvVar(const char* name) {
  DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
  if (n == 0) return {};
  std::string value(n, '\0');
  n = GetEnvironmentVariableA(name, value.data(), n);
  value.resize(n);
  return value;
}

// True when something accepts a TCP connection on 127.0.0.1:port within 3 s.
bool Listening(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(port));
  bool ok = false;
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    ok = true;
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{3, 0};
    ok = select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable);
  }
  closesocket(s);
  return ok;
}

}  // namespace

TestServerInfo ReadTestServers(const std::string& envFile) {
  TestServerInfo info;
  std::string path = envFile;
  const bool fromVariable = !path.empty();
  if (fromVariable) {
    if (path[0] == '/') path = UnixToWinePath(path);
  } else {
    path = twtest::ExeFolder() + "\\http-servers\\servers.env";
  }
  const std::string howToStart =
      " The HTTP test servers are not running. Run this test through ctest (it needs the fixture "
      "\"http_servers\": FIXTURES http_servers in its tw_add_test), or start them by hand with "
      "tests/http/servers/http-servers.sh start <build>/http-servers.";

  std::ifstream in(path);
  if (!in) {
    info.error = "Cannot read the server list \"" + path + "\"" +
                 (fromVariable ? "." : " (TW_SERVERS_ENV is not set).") + howToStart;
    return info;
  }
  std::map<std::string, std::string> values;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  auto number = [&values](const char* key) -> long long {
    auto it = values.find(key);
    if (it == values.end() || it->second.empty()) return 0;
    char* end = nullptr;
    long long v = std::strtoll(it->second.c_str(), &end, 10);
    return *end == '\0' ? v : 0;
  };
  info.httpPort = static_cast<int>(number("TW_HTTP_PORT"));
  info.httpsPort = static_cast<int>(number("TW_HTTPS_PORT"));
  info.proxyPort = static_cast<int>(number("TW_PROXY_PORT"));
  info.openProxyPort = static_cast<int>(number("TW_OPEN_PROXY_PORT"));
  info.bigSize = static_cast<uint64_t>(number("TW_BIG_SIZE"));
  info.proxyUser = values["TW_PROXY_USER"];
  info.proxyPassword = values["TW_PROXY_PASSWORD"];
  info.docRootUnix = values["TW_DOCROOT"];
  info.docRoot = UnixToWinePath(info.docRootUnix);
  if (info.httpPort <= 0 || info.httpsPort <= 0 || info.proxyPort <= 0 || info.openProxyPort <= 0 ||
      info.docRootUnix.empty()) {
    info.error = "The server list \"" + path + "\" is incomplete.";
    return info;
  }

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    info.error = "WSAStartup failed.";
    return info;
  }
  std::string down;
  const std::pair<const char*, int> ports[] = {{"nginx http", info.httpPort},
                                                {"nginx https", info.httpsPort},
                                                {"tinyproxy", info.proxyPort},
                                                {"open tinyproxy", info.openProxyPort}};
  for (const auto& p : ports)
    if (!Listening(p.second)) down += std::string(down.empty() ? "" : ", ") + p.first + " (" + std::to_string(p.second) + ")";
  WSACleanup();
  if (!down.empty()) {
    info.error = "Nothing listens on 127.0.0.1 for " + down + " named in \"" + path + "\"." + howToStart;
    return info;
  }
  info.ok = true;
  return info;
}

std::wstring TestServerInfo::ProxyServer() const { return L"127.0.0.1:" + std::to_wstring(proxyPort); }
std::wstring TestServerInfo::OpenProxyServer() const { return L"127.0.0.1:" + std::to_wstring(openProxyPort); }
std::wstring TestServerInfo::ProxyUser() const { return Widen(proxyUser); }
std::wstring TestServerInfo::ProxyPassword() const { return Widen(proxyPassword); }

std::string TestServerInfo::DocFile(const std::string& relative) const {
  std::string out = docRoot;
  if (!relative.empty() && relative[0] != '/' && relative[0] != '\\') out += '\\';
  for (char c : relative) out += c == '/' ? '\\' : c;
  return out;
}

const TestServerInfo& TestServers() {
  static const TestServerInfo info = ReadTestServers(EnvVar("TW_SERVERS_ENV"));
  return info;
}

std::string UnixToWinePath(const std::string& unixPath) {
  std::string out = "Z:";
  for (char c : unixPath) out += c == '/' ? '\\' : c;
  return out;
}

}  // namespace twtest
