// Request routing under Wine: scripted servers on loopback stand for the main
// server, the distribution server and the proxy. The tests set the settings
// directly and observe the requests on the wire, the addresses connected to,
// the remembered last access name (memory and registry) and the log.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <map>
#include <string>
#include <vector>

#include "agent/config/agentconfig.h"
#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "http/requestcore.h"
#include "http/routing.h"
#include "http/winhttp_api.h"
#include "tests/support/scratch.h"
#include "tests/support/win_http_server.h"
#include "tests/support/win_registry.h"

using twtest::RegView;
using twtest::Response;
using twtest::ScriptedServer;

namespace {

// Every address the routing connects to, in order. Codes that no loopback
// server produces on demand (a name that does not resolve, a time-out, an
// invalid URL) are given to chosen address names at the connect call.
std::vector<std::string> g_connects;
std::map<std::wstring, DWORD> g_failures;

HINTERNET WINAPI RecordingConnect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved) {
  std::string narrow;
  for (const wchar_t* p = server; p && *p; ++p) narrow += static_cast<char>(*p);
  g_connects.push_back(narrow);
  auto failure = g_failures.find(server ? server : L"");
  if (failure != g_failures.end()) {
    ::SetLastError(failure->second);
    return nullptr;
  }
  return RealWinHttpApi().Connect(session, server, port, reserved);
}

using Strings = std::vector<std::string>;

// An address on loopback where nothing listens: WinHTTP gives 12029.
constexpr const char* kRefused = "127.0.0.2";

class RoutingTest : public ::testing::Test {
 protected:
  const std::string kSettings = std::string(kAgentKeyPath) + "\\Settings";
  const std::string kTracking = std::string(kAgentKeyPath) + "\\VTTracking";

  void SetUp() override {
    ResetAgentSettings();
    ResetWinHttpApi();
    g_connects.clear();
    g_failures.clear();
    g_winHttp.Connect = &RecordingConnect;

    dir_ = twtest::MakeScratchDir("routing");
    dest_ = twtest::Join(dir_, "dest");
    ::CreateDirectoryA(dest_.c_str(), nullptr);
    const std::string temp = twtest::Join(dir_, "temp");
    const std::string install = twtest::Join(dir_, "agent") + "\\";
    ::CreateDirectoryA(temp.c_str(), nullptr);
    ::CreateDirectoryA(install.c_str(), nullptr);
    ::CreateDirectoryA((install + "logs").c_str(), nullptr);
    gv_tempPath = temp;
    gv_agentInstallDir = install;

    gv_serverProtocol = "http";
    gv_serverPort = main_.Port();
    gv_dsEnabled = "no";
    gv_dsProtocol = "http";
    gv_dsPort = ds_.Port();
    gv_proxyEnabled = "NO";

    // The last access names start absent and are put back afterwards; the
    // download keys of the agent start empty.
    reg_.CreateKey(RegView::k32, kServerInfoKeyPath);
    reg_.DeleteValue(RegView::k32, kServerInfoKeyPath, "TWLastAccessName");
    reg_.DeleteValue(RegView::k32, kServerInfoKeyPath, "DistributionLastAccessName");
    reg_.DeleteTree(RegView::k32, kSettings);
    reg_.DeleteTree(RegView::k32, kTracking);
    reg_.Track(RegView::k32, kSettings);
    reg_.Track(RegView::k32, kTracking);
  }

  void TearDown() override {
    ResetWinHttpApi();
    ResetAgentSettings();
    twtest::RemoveTree(dir_);
  }

  // The five addresses of the main server, in the order they are tried.
  static void MainAddresses(OptText last, OptText ip, OptText secondary, OptText name, OptText flat) {
    gv_lastAccessName = std::move(last);
    gv_serverIPAddress = std::move(ip);
    gv_serverSecIPAddress = std::move(secondary);
    gv_serverName = std::move(name);
    gv_serverFlatName = std::move(flat);
  }
  static void DistributionAddresses(OptText last, OptText ip, OptText secondary, OptText name, OptText flat) {
    gv_dsLastAccessName = std::move(last);
    gv_dsIPAddress = std::move(ip);
    gv_dsSecIPAddress = std::move(secondary);
    gv_dsName = std::move(name);
    gv_dsFlatName = std::move(flat);
  }

  std::optional<std::string> StoredLastAccessName(const char* name = "TWLastAccessName") const {
    return reg_.GetString(RegView::k32, kServerInfoKeyPath, name);
  }

  int32_t GetData(const char* path, OptText& out, bool forceMain = false) {
    return AgentSendRequest(path, nullptr, &out, GET_DATA, true, forceMain, 0, 0);
  }

  std::string Dest(const std::string& name) const { return twtest::Join(dest_, name); }

  // Targets of the requests a server received, in order.
  static Strings Targets(const ScriptedServer& server) {
    Strings out;
    for (const auto& r : server.Requests()) out.push_back(r.target);
    return out;
  }

  // True when a record with this tag ("[INFO]", ...) carries exactly this
  // message. Searched in the whole text: the "gotcha1" record has no line end
  // of its own, so the record after it shares its line.
  bool HasLine(const std::string& tag, const std::string& message) const {
    std::string m = message;
    if (!m.empty() && m.back() == '\n') m.pop_back();
    const std::string text = log_.Text();
    const std::string needle = "] " + tag + " " + m;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
      const size_t end = pos + needle.size();
      if (end == text.size() || text[end] == '\r' || text[end] == '\n') return true;
    }
    return false;
  }
  bool LogContains(const std::string& text) const { return log_.Text().find(text) != std::string::npos; }

  twtest::LogCapture log_{4, "routing"};
  twtest::RegistrySandbox reg_;
  ScriptedServer main_;
  ScriptedServer ds_;
  std::string dir_, dest_;
};

// --- The address walk and the last access name ---

TEST_F(RoutingTest, RefusedLastAccessNameFallsOverToTheIpAddressWhichIsRemembered) {
  main_.Serve("/client-data/res.xml", Response::Ok("<doc/>"));
  MainAddresses(kRefused, "127.0.0.1", "localhost", "localhost", "localhost");

  OptText out;
  EXPECT_EQ(GetData("client-data/res.xml", out), 0);
  EXPECT_EQ(out.value_or("<none>"), "<doc/>");
  EXPECT_EQ(g_connects, (Strings{kRefused, "127.0.0.1"}));
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "127.0.0.1");
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "127.0.0.1");
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest : Last Access Address is 127.0.0.1 \n"));
  EXPECT_FALSE(StoredLastAccessName("DistributionLastAccessName"));
}

TEST_F(RoutingTest, LastAccessNameThatAnswersIsWrittenBackUnchanged) {
  main_.Serve("/a.txt", Response::Ok("a"));
  MainAddresses("localhost", "127.0.0.1", std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(g_connects, (Strings{"localhost"}));
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "localhost");
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "localhost");
}

TEST_F(RoutingTest, ErrorOutsideTheFailoverSetFromTheLastAccessNameEndsTheWalk) {
  main_.SetDefault(Response::Status(404));
  MainAddresses("127.0.0.1", "127.0.0.1", "localhost", "localhost", "localhost");

  OptText out;
  EXPECT_EQ(GetData("missing.xml", out), 404);
  EXPECT_EQ(main_.RequestCount(), 1u);
  EXPECT_EQ(g_connects, (Strings{"127.0.0.1"}));
  EXPECT_FALSE(out);
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "127.0.0.1");
  EXPECT_FALSE(StoredLastAccessName()) << "nothing is remembered after a failure";
}

TEST_F(RoutingTest, SecondaryAddressIsAlwaysTriedAfterTheIpAddressFailed) {
  // The IP address answers 404, which would end the walk anywhere else; the
  // secondary address is still asked, and its 404 ends the walk.
  main_.SetDefault(Response::Status(404));
  MainAddresses(kRefused, "127.0.0.1", "localhost", "127.0.0.1", "127.0.0.1");

  OptText out;
  EXPECT_EQ(GetData("missing.xml", out), 404);
  EXPECT_EQ(g_connects, (Strings{kRefused, "127.0.0.1", "localhost"}));
  EXPECT_EQ(main_.RequestCount(), 2u);
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), kRefused);
  EXPECT_FALSE(StoredLastAccessName());
}

TEST_F(RoutingTest, EveryFailoverCodeMovesOnToTheNextAddress) {
  // 12029 (refused, real), 12007, 12002 and 12005 (given at the connect):
  // the fifth address, the flat name, answers and becomes the last access name.
  g_failures[L"unresolved.example"] = ERROR_WINHTTP_NAME_NOT_RESOLVED;
  g_failures[L"timeout.example"] = ERROR_WINHTTP_TIMEOUT;
  g_failures[L"invalid.example"] = ERROR_WINHTTP_INVALID_URL;
  main_.Serve("/a.txt", Response::Ok("a"));
  MainAddresses(kRefused, "unresolved.example", "timeout.example", "invalid.example", "localhost");

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(g_connects,
            (Strings{kRefused, "unresolved.example", "timeout.example", "invalid.example", "localhost"}));
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "localhost");
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "localhost");
}

TEST_F(RoutingTest, BadRequestAnswerMovesOnAndNotModifiedCountsAsSuccess) {
  // 400 from the last access name: the IP address is asked; its 304 gives
  // 90001, a success that makes it the last access name.
  main_.ServeSequence("/a.txt", {Response::Status(400), Response::Status(304)});
  MainAddresses("localhost", "127.0.0.1", std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 90001);
  EXPECT_EQ(g_connects, (Strings{"localhost", "127.0.0.1"}));
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "127.0.0.1");
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "127.0.0.1");
}

TEST_F(RoutingTest, FailoverCodeAfterTheSecondaryAddressGoesOnToTheServerName) {
  // Missing and too-short addresses are passed over; the server name answers.
  main_.Serve("/a.txt", Response::Ok("a"));
  MainAddresses(std::nullopt, kRefused, "ab", "127.0.0.1", "localhost");

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(g_connects, (Strings{kRefused, "127.0.0.1"}));
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "127.0.0.1");
}

TEST_F(RoutingTest, NoUsableAddressGives12007WithoutTraffic) {
  MainAddresses(std::nullopt, "ab", "", "x", std::nullopt);
  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 12007);
  EXPECT_EQ(AgentSendRequest("upload", "body", nullptr, SEND_DATA, true, false, 0, 0), 12007);
  EXPECT_TRUE(g_connects.empty());
  EXPECT_EQ(main_.RequestCount(), 0u);
  EXPECT_FALSE(StoredLastAccessName());
}

TEST_F(RoutingTest, UnknownTransferModeLeavesDownloadsUndone) {
  main_.SetDefault(Response::Ok("x"));
  MainAddresses("127.0.0.1", "127.0.0.1", "localhost", "localhost", "localhost");
  const std::string dest = Dest("never.bin");

  EXPECT_EQ(AgentSendRequest("never.bin", dest.c_str(), nullptr, DOWNLOAD_FILE, true, false, 0, 2), 12007);
  OptText out;
  EXPECT_EQ(AgentSendRequest("never.bin", nullptr, &out, GET_DATA, true, false, 0, 3), 12007);
  EXPECT_EQ(main_.RequestCount(), 0u);
  EXPECT_FALSE(twtest::FileExists(dest));
  EXPECT_FALSE(StoredLastAccessName());
}

TEST_F(RoutingTest, MissingPathIsRejected) {
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  OptText out;
  EXPECT_EQ(GetData(nullptr, out), 13);
  EXPECT_EQ(main_.RequestCount(), 0u);
}

// --- Choice of the server ---

TEST_F(RoutingTest, EnabledDistributionServerIsTheTargetAndKeepsItsOwnLastAccessName) {
  gv_dsEnabled = "YES";
  ds_.Serve("/patches/dep.zip", Response::Ok("zip bytes"));
  DistributionAddresses(kRefused, "127.0.0.1", std::nullopt, "localhost", std::nullopt);
  MainAddresses("127.0.0.1", "127.0.0.1", std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = Dest("dep.zip");

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "patches\\dep.zip", dest.c_str(), true), 0);
  EXPECT_EQ(twtest::ReadFile(dest), "zip bytes");
  EXPECT_EQ(Targets(ds_), (Strings{"/patches/dep.zip"}));
  EXPECT_EQ(main_.RequestCount(), 0u);
  EXPECT_EQ(gv_dsLastAccessName.value_or("<none>"), "127.0.0.1");
  EXPECT_EQ(gv_lastAccessName.value_or("<none>"), "127.0.0.1");
  EXPECT_EQ(StoredLastAccessName("DistributionLastAccessName").value_or("<none>"), "127.0.0.1");
  EXPECT_FALSE(StoredLastAccessName("TWLastAccessName"));
}

TEST_F(RoutingTest, ForcedMainServerUsesTheMainAddressesPortAndProtocol) {
  // The distribution server's protocol is https: had it been used, the plain
  // main server would not have understood the request.
  gv_dsEnabled = "yes";
  gv_dsProtocol = "https";
  DistributionAddresses("127.0.0.1", "127.0.0.1", std::nullopt, "localhost", std::nullopt);
  MainAddresses(kRefused, "localhost", std::nullopt, std::nullopt, std::nullopt);
  main_.Serve("/a.txt", Response::Ok("main"));
  ds_.Serve("/a.txt", Response::Ok("distribution"));

  OptText out;
  EXPECT_EQ(GetData("a.txt", out, /*forceMain=*/true), 0);
  EXPECT_EQ(out.value_or("<none>"), "main");
  EXPECT_EQ(g_connects, (Strings{kRefused, "localhost"}));
  EXPECT_EQ(ds_.RequestCount(), 0u);
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "localhost");
  EXPECT_FALSE(StoredLastAccessName("DistributionLastAccessName"));
}

TEST_F(RoutingTest, AgentGetDataAlwaysAsksTheMainServer) {
  gv_dsEnabled = "yes";
  DistributionAddresses("127.0.0.1", std::nullopt, std::nullopt, "localhost", std::nullopt);
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  main_.Serve("/resources/pc1", Response::Ok("main"));
  ds_.Serve("/resources/pc1", Response::Ok("distribution"));

  OptText out;
  EXPECT_EQ(AgentGetData(nullptr, nullptr, "resources/pc1", &out, true), 0);
  EXPECT_EQ(out.value_or("<none>"), "main");
  EXPECT_EQ(ds_.RequestCount(), 0u);
  ASSERT_EQ(main_.RequestCount(), 1u);
  EXPECT_EQ(main_.Requests()[0].method, "GET");
}

TEST_F(RoutingTest, ProxyCarriesMainServerRequestsButNeverDistributionServerOnes) {
  ScriptedServer proxy;
  ASSERT_TRUE(proxy.Ok()) << proxy.Error();
  proxy.SetDefault(Response::Ok("via proxy"));
  gv_proxyEnabled = "Yes";
  gv_proxyServerName = "127.0.0.1:" + std::to_string(proxy.Port());
  gv_proxyUserName = "";
  gv_proxyPassword = "";
  // The main server is named "localhost": Wine's WinHTTP writes the whole URL
  // into the request line only when the server's name differs from the proxy's.
  MainAddresses("localhost", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  DistributionAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  main_.SetDefault(Response::Ok("main direct"));
  ds_.SetDefault(Response::Ok("distribution direct"));

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(out.value_or("<none>"), "via proxy");
  EXPECT_EQ(Targets(proxy), (Strings{"http://localhost:" + std::to_string(main_.Port()) + "/a.txt"}));
  EXPECT_EQ(main_.RequestCount(), 0u);

  gv_dsEnabled = "yes";
  proxy.ClearRequests();
  out.reset();
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(out.value_or("<none>"), "distribution direct");
  EXPECT_EQ(Targets(ds_), (Strings{"/a.txt"}));
  EXPECT_EQ(proxy.RequestCount(), 0u);
}

// The proxy settings are read through the narrow registry interface, in the
// system code page: a user name and a password with letters outside ASCII
// reach the proxy as those letters, so that it accepts them.
TEST_F(RoutingTest, ProxyCredentialsInTheSystemCodePageReachTheProxy) {
  ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8)) << "a UTF-8 system code page would prove nothing here";
  ScriptedServer proxy;
  ASSERT_TRUE(proxy.Ok()) << proxy.Error();
  // Basic authentication: a request without credentials is refused and asked for them.
  proxy.ServeWith("/a.txt", [](const twtest::RecordedRequest& rq) {
    if (rq.Header("proxy-authorization")) return Response::Ok("via proxy");
    Response refused = Response::Status(407);
    refused.headers.push_back({"Proxy-Authenticate", "Basic realm=\"agent\""});
    return refused;
  });
  gv_proxyEnabled = "yes";
  gv_proxyServerName = "127.0.0.1:" + std::to_string(proxy.Port());
  // "José" written through the wide registry interface, read as the
  // configuration reads it.
  ASSERT_TRUE(reg_.SetString(RegView::k32, kAgentKeyPath, "ProxyUserName", "Jos\xC3\xA9"));
  ASSERT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, kAgentKeyPath, "ProxyUserName", gv_proxyUserName), 0);
  // "señor" as its decoding gives it: the bytes that were encoded, in the system code page.
  char password[16] = {};
  ASSERT_GT(::WideCharToMultiByte(CP_ACP, 0, L"se\u00f1or", -1, password, sizeof password, nullptr, nullptr), 0);
  gv_proxyPassword = password;
  MainAddresses("localhost", std::nullopt, std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("a.txt", out), 0);
  EXPECT_EQ(out.value_or("<none>"), "via proxy");
  const auto requests = proxy.Requests();
  ASSERT_FALSE(requests.empty());
  const std::string authorization = requests.back().Header("proxy-authorization").value_or("");
  ASSERT_EQ(authorization.rfind("Basic ", 0), 0u) << authorization;
  const std::string encoded = authorization.substr(6);
  std::string credentials(encoded.size(), '\0');
  DWORD size = static_cast<DWORD>(credentials.size());
  ASSERT_TRUE(::CryptStringToBinaryA(encoded.c_str(), 0, CRYPT_STRING_BASE64,
                                     reinterpret_cast<BYTE*>(credentials.data()), &size, nullptr, nullptr));
  credentials.resize(size);
  // WinHTTP chooses the code page of Basic credentials; Wine's is UTF-8.
  EXPECT_EQ(credentials, "Jos\xC3\xA9:se\xC3\xB1or");
}

// --- The request path ---

TEST_F(RoutingTest, PathWithBackslashesIsSentWithSlashesAndLogged) {
  main_.SetDefault(Response::Ok("x"));
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("client-data\\c1\\res.xml", out), 0);
  EXPECT_EQ(Targets(main_), (Strings{"/client-data/c1/res.xml"}));
  EXPECT_TRUE(LogContains("[INFO] gotcha1 client-data\\c1\\res.xml"));
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest : The url to get / send in UTF8 format is given by "
                                "client-data/c1/res.xml \n"));
  EXPECT_TRUE(HasLine("[DEBUG]", "AgentSendRequest - Stand Alone / MSP build : gv_twProductCode is [TWEE] \n"));
}

TEST_F(RoutingTest, OnDemandEditionSendsMainServerFilesThroughTheClientDataServlet) {
  gv_twProductCode = "TWOD";
  main_.SetDefault(Response::Ok("file"));
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "/files/app.bin", dest.c_str(), true), 0);
  EXPECT_EQ(twtest::ReadFile(dest), "file");
  // WinHTTP starts the request line's target with a slash of its own.
  EXPECT_EQ(Targets(main_), (Strings{"/clientdatarequest?fileName=/files/app.bin"}));
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest : The url to get / send in UTF8 format is given by "
                                "clientdatarequest?fileName=/files/app.bin \n"));
}

TEST_F(RoutingTest, OnDemandEditionLeavesServletRequestsAlone) {
  gv_twProductCode = "twod";
  main_.SetDefault(Response::Ok("x"));
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("servlet/AgentInfo?id=1", out), 0);
  EXPECT_EQ(GetData("/AGENTREQUEST?op=2", out), 0);
  EXPECT_EQ(GetData("/agentSlot?x", out), 0);
  EXPECT_EQ(GetData("/agenttrayicon?y", out), 0);
  EXPECT_EQ(Targets(main_), (Strings{"/servlet/AgentInfo?id=1", "/AGENTREQUEST?op=2", "/agentSlot?x",
                                     "/agenttrayicon?y"}));
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest - gv_twProductCode is [twod], requestType is GET_DATA / "
                                "DOWNLOAD_FILE [11001] and is servlet request \n"));
}

TEST_F(RoutingTest, OnDemandEditionLeavesDistributionServerAndSendRequestsAlone) {
  gv_twProductCode = "TWOD";
  gv_dsEnabled = "yes";
  ds_.SetDefault(Response::Ok("file"));
  main_.SetDefault(Response::Ok(""));
  DistributionAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "/files/app.bin", dest.c_str(), true), 0);
  EXPECT_EQ(Targets(ds_), (Strings{"/files/app.bin"}));
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest - gv_twProductCode is [TWOD], toTWServer is set to [0]. Request "
                                "Type is NOT GET_DATA / DOWNLOAD_FILE and is [11003]\n"));

  EXPECT_EQ(AgentSendRequest("agent/status", "state=1", nullptr, SEND_DATA, true, true, 0, 0), 0);
  ASSERT_EQ(main_.RequestCount(), 1u);
  EXPECT_EQ(main_.Requests()[0].method, "POST");
  EXPECT_EQ(main_.Requests()[0].target, "/agent/status");
  EXPECT_EQ(main_.Requests()[0].body, "state=1");
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest - gv_twProductCode is [TWOD], toTWServer is set to [1]. Request "
                                "Type is NOT GET_DATA / DOWNLOAD_FILE and is [11004]\n"));
}

TEST_F(RoutingTest, HostedEditionPrefixesEveryPathOnEveryServer) {
  gv_twProductCode = "TWHC";
  main_.SetDefault(Response::Ok("x"));
  ds_.SetDefault(Response::Ok("y"));
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  DistributionAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);

  OptText out;
  EXPECT_EQ(GetData("client-data\\res.xml", out), 0);
  EXPECT_EQ(AgentSendRequest("agent/status", "s", nullptr, SEND_DATA, true, false, 0, 0), 0);
  gv_dsEnabled = "yes";
  const std::string dest = Dest("f.bin");
  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "files/f.bin", dest.c_str(), true), 0);

  EXPECT_EQ(Targets(main_), (Strings{"/tw/client-data/res.xml", "/tw/agent/status"}));
  EXPECT_EQ(Targets(ds_), (Strings{"/tw/files/f.bin"}));
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest - gv_twProductCode is [TWHC], requestType is GET_DATA / "
                                "DOWNLOAD_FILE [11004] \n"));
}

TEST_F(RoutingTest, PathAndDestinationInTheSystemCodePageAreConverted) {
  // "café" as the system code page writes it.
  char acp[8] = {};
  ASSERT_GT(::WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9", -1, acp, sizeof acp, nullptr, nullptr), 0);
  const std::string cafe = acp;
  main_.SetDefault(Response::Ok("menu"));
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = dest_ + "\\" + cafe + ".txt";

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, ("files/" + cafe + ".txt").c_str(), dest.c_str(), true), 0);
  EXPECT_TRUE(HasLine("[INFO]", "AgentSendRequest : The url to get / send in UTF8 format is given by "
                                "files/caf\xC3\xA9.txt \n"));
  const std::wstring wideDest = std::wstring(dest_.begin(), dest_.end()) + L"\\caf\u00e9.txt";
  EXPECT_NE(::GetFileAttributesW(wideDest.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(main_.RequestCount(), 1u);
  EXPECT_EQ(main_.Requests()[0].path.find("/files/caf"), 0u) << main_.Requests()[0].path;
}

// --- The transfer routine ---

TEST_F(RoutingTest, DownloadWithoutTransferRateIsOnePlainRequest) {
  gv_dataTransferRateKBps = 0;
  const std::string body = twtest::PatternBytes(1200);
  Response r = Response::Ok(body);
  r.honourRange = true;
  main_.Serve("/files/app.bin", r);
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "files/app.bin", dest.c_str(), true), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body);
  const auto reqs = main_.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].method, "GET");
  EXPECT_FALSE(reqs[0].Header("range"));
  EXPECT_EQ(reqs[0].Header("accept-encoding").value_or(""), "gzip");
}

TEST_F(RoutingTest, DownloadWithTransferRateGoesInByteRangeBlocks) {
  gv_dataTransferRateKBps = 1;  // blocks of 500 bytes
  const std::string body = twtest::PatternBytes(1200);
  Response r = Response::Ok(body);
  r.honourRange = true;
  main_.Serve("/files/app.bin", r);
  MainAddresses("127.0.0.1", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const std::string dest = Dest("app.bin");

  EXPECT_EQ(AgentDownloadFile(nullptr, nullptr, "files/app.bin", dest.c_str(), true), 0);
  EXPECT_EQ(twtest::ReadFile(dest), body);
  const auto reqs = main_.Requests();
  ASSERT_GE(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].method, "HEAD");
  Strings ranges;
  for (size_t i = 1; i < reqs.size(); ++i) ranges.push_back(reqs[i].Header("range").value_or("<none>"));
  EXPECT_EQ(ranges, (Strings{"bytes=0-499", "bytes=500-999", "bytes=1000-1200"}));
  EXPECT_EQ(StoredLastAccessName().value_or("<none>"), "127.0.0.1");
}

}  // namespace
