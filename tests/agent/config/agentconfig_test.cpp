// Loading the agent configuration from a seeded agent key (32-bit view) under
// Wine: defaults, required values, written-back corrections, the summary, the
// distribution-server route and the imaged-computer mark.
#include <gtest/gtest.h>

#include <map>

#include "agent/config/agentconfig.h"
#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

using twtest::RegView;

namespace {

const std::string kAgent = kAgentKeyPath;
const std::string kServerInfo = kServerInfoKeyPath;
const std::string kSystemDetails = std::string(kAgentKeyPath) + "\\SystemDetails";

// A complete, valid agent configuration; tests change or remove single values.
class AgentConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reg_.DeleteTree(RegView::k32, kAgent);
    reg_.Track(RegView::k32, kAgent);
    agent_ = {
        {"EnableDistributionServer", "no"},
        {"TWAgentVersion", "9.1.0"},
        {"AgentServiceName", "TWAgentSvc"},
        {"MSPName", "Msp One"},
        {"CustomerName", "Customer One"},
        {"CustomerId", "CUST-42"},
        {"TWProductCode", "TWEE"},
        {"TWAgentInstallDir", "C:\\Agent\\"},
        {"RemoteOfficeName", "Branch"},
        {"RemoteOfficeID", "7"},
        {"InstallSource", "setup"},
        {"InstallMode", "2"},
        {"DataTransferRate_KBps", "1024"},
        {"EnableDSRoute", "no"},
        {"EnableChecksum", "yes"},
    };
    server_ = {
        {"TWServerName", "server.example"},
        {"TWServerInstalledTime", "123"},
        {"TWServerFlatName", "SERVER"},
        {"TWServerIPAddress", "127.0.0.1"},
        {"TWServerSecIPAddress", "127.0.0.2"},
        {"TWLastAccessName", "server.example"},
        {"TWServerPort", "8020"},
        {"TWServerProtocol", "http"},
    };
    ResetAgentSettings();
  }

  bool seedResourceId_ = true;

  void Seed() {
    for (auto& [name, value] : agent_) ASSERT_TRUE(reg_.SetString(RegView::k32, kAgent, name, value)) << name;
    for (auto& [name, value] : server_) ASSERT_TRUE(reg_.SetString(RegView::k32, kServerInfo, name, value)) << name;
    if (seedResourceId_) {
      ASSERT_TRUE(reg_.SetString(RegView::k32, kSystemDetails, "TWAgentResourceID", "RES-1"));
    }
  }

  int32_t Load() {
    Seed();
    return InitializeAgentParameters();
  }

  std::optional<std::string> Agent(const std::string& name) { return reg_.GetString(RegView::k32, kAgent, name); }

  twtest::RegistrySandbox reg_;
  std::map<std::string, std::string> agent_, server_;
};

}  // namespace

TEST_F(AgentConfigTest, CompleteConfigurationLoadsAndLogsItsSummary) {
  twtest::LogCapture log(4);
  ASSERT_EQ(Load(), 0);
  // 64-bit Windows, whatever the build: the 32-bit test build has asked
  // IsWow64Process, which is true under WOW64.
  EXPECT_EQ(gv_IsWow64, 1);
  EXPECT_EQ(gv_serverName, "server.example");
  EXPECT_EQ(gv_serverPort, 8020);
  EXPECT_EQ(gv_serverProtocol, "http");
  EXPECT_EQ(gv_dsProtocol, "http");
  EXPECT_EQ(gv_dsPort, 8020);
  EXPECT_EQ(gv_proxyEnabled, "NO");
  EXPECT_EQ(gv_resourceId, "RES-1");
  EXPECT_EQ(gv_dataTransferRateKBps, 1024);
  EXPECT_EQ(gv_httpRequestTimeout, 60000);
  EXPECT_EQ(gv_httpConnectionTimeout, 30000);
  EXPECT_EQ(gv_checksumEnabled, 1);
  ASSERT_TRUE(gv_localComputerName.has_value());
  ASSERT_TRUE(gv_clientNamespace.has_value());

  // The summary block, line by line, between its two star lines.
  std::vector<std::string> msgs = log.Messages();
  const std::string stars = "****************************************************************** ";
  auto first = std::find(msgs.begin(), msgs.end(), stars);
  ASSERT_NE(first, msgs.end());
  std::vector<std::string> expected = {
      stars,
      "Tarnwick Server Name                -> server.example ",
      "Tarnwick Server Flat Name           -> SERVER ",
      "Tarnwick Server IPAddress           -> 127.0.0.1 ",
      "Tarnwick Server Secondary IPAddress -> 127.0.0.2 ",
      "Tarnwick Last Access Name           -> server.example ",
      "Tarnwick Server Port                -> 8020 ",
      "Tarnwick Server Protocol            -> http ",
      "Tarnwick Agent Version              -> 9.1.0 ",
      "Tarnwick Agent InstallDir           -> C:\\Agent\\ ",
      "Tarnwick Client Namespace           -> " + *gv_clientNamespace + " ",
      "Tarnwick Server Data Path           -> " + *gv_clientDataPath + " ",
      "Tarnwick MSP Name\t           -> Msp One ",
      "Tarnwick Customer Name\t           -> Customer One ",
      "Tarnwick Customer Id\t\t   -> CUST-42 ",
      "Tarnwick Product Code               -> TWEE ",
      "Local Computer Name                       -> " + *gv_localComputerName + " ",
      "Local Computer IP Address                 -> " + gv_ipAddress.value_or("(null)") + " ",
      "Local Computer MAC Address                -> " + gv_macAddress.value_or("(null)") + " ",
      "Local Computer Subnet Mask                -> " + gv_subnetMask.value_or("(null)") + " ",
      "TW Distribution Server Enabled            -> no ",
      "The remote office name is                 -> Branch ",
      "Tarnwick Agent HTTP Request Timeout -> 60000 ",
      "Local Computer Domain controller          -> " + gv_domainController.value_or("(null)") + " ",
      "The Agent Machine Resource Id is given by -> RES-1 ",
      "Agent Checksum Enabled\t\t               -> 1 ",
      "Agent Data Transfer Rate in KBps\t\t   -> 1024 ",
      "Agent Installation Source\t\t\t\t   -> setup ",
      "Agent Installation Mode\t\t\t\t   -> 2 (2-> silent, 5->Manual) ",
      stars,
  };
  ASSERT_GE(static_cast<size_t>(msgs.end() - first), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(first[static_cast<long>(i)], expected[i]) << "line " << i;
  EXPECT_TRUE(log.Has("InitializeAgentParameters : Computer is not an imaged one .. "));
}

TEST_F(AgentConfigTest, PortFollowsProtocol) {
  struct Case {
    const char* protocol;  // nullptr: value absent
    const char* securePort;
    int32_t port;
    const char* effectiveProtocol;
  } cases[] = {
      {"https", nullptr, 8383, "https"},  // secure port defaults to plain + 363
      {"https", "9443", 9443, "https"},
      {"HTTP", "9443", 8020, "HTTP"},     // "http" compared without regard to case
      {"ftp", "9443", 8020, "http"},      // fewer than 4 characters: http
      {nullptr, "9443", 8020, "http"},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.protocol) server_["TWServerProtocol"] = c.protocol; else server_.erase("TWServerProtocol");
    if (c.securePort) server_["TWServerSecurePort"] = c.securePort;
    reg_.DeleteTree(RegView::k32, kAgent);
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(gv_serverPort, c.port) << (c.protocol ? c.protocol : "(absent)");
    EXPECT_EQ(gv_serverProtocol, c.effectiveProtocol);
  }
}

TEST_F(AgentConfigTest, ShortSecondaryAddressesCountAsNone) {
  server_["TWServerSecIPAddress"] = "ab";
  agent_["EnableDistributionServer"] = "yes";
  server_["DistributionServerName"] = "ds.example";
  server_["DistributionServerPort"] = "8090";
  server_["DistributionServerSecIPAddress"] = "abc";
  ASSERT_EQ(Load(), 0);
  EXPECT_FALSE(gv_serverSecIPAddress.has_value());
  EXPECT_FALSE(gv_dsSecIPAddress.has_value());

  SetUp();
  server_["TWServerSecIPAddress"] = "abc";
  agent_["EnableDistributionServer"] = "yes";
  server_["DistributionServerName"] = "ds.example";
  server_["DistributionServerPort"] = "8090";
  server_["DistributionServerSecIPAddress"] = "abcd";
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_serverSecIPAddress, "abc");
  EXPECT_EQ(gv_dsSecIPAddress, "abcd");
}

TEST_F(AgentConfigTest, TransferRateIsClampedAndWrittenBack) {
  struct Case {
    const char* stored;  // nullptr: value absent
    int32_t rate;
    bool written;
  } cases[] = {{"5000", 0, true}, {"2048", 2048, false}, {"3072", 3072, false}, {nullptr, 0, true},
               {"", 0, true},     {"-1", 0, true},       {"0", 0, false}};
  for (const Case& c : cases) {
    SetUp();
    if (c.stored) agent_["DataTransferRate_KBps"] = c.stored; else agent_.erase("DataTransferRate_KBps");
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(gv_dataTransferRateKBps, c.rate) << (c.stored ? c.stored : "(absent)");
    EXPECT_EQ(Agent("DataTransferRate_KBps"), c.written ? "0" : (c.stored ? c.stored : ""))
        << (c.stored ? c.stored : "(absent)");
  }
}

TEST_F(AgentConfigTest, FlagsAndTheirDefaults) {
  agent_.erase("EnableDSRoute");
  agent_.erase("EnableChecksum");
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(Agent("EnableDSRoute"), "no");
  EXPECT_EQ(gv_enableDSRoute, 0);
  EXPECT_EQ(gv_checksumEnabled, 1);

  SetUp();
  agent_["EnableChecksum"] = "sometimes";
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_checksumEnabled, 0);

  SetUp();
  agent_["EnableChecksum"] = "YES";
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_checksumEnabled, 1);
}

TEST_F(AgentConfigTest, DataPathIsLowerCase) {
  agent_["CustomerId"] = "CuSt-ABC";
  ASSERT_EQ(Load(), 0);
  std::string ns = *gv_clientNamespace;
  for (char& ch : ns) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(gv_clientDataPath, "client-data/cust-abc/domains/" + ns);
}

TEST_F(AgentConfigTest, ImagedComputerEndsWith10047AfterTheSummary) {
  twtest::LogCapture log(2);
  Seed();
  ASSERT_TRUE(reg_.SetDword(RegView::k32, kAgent, "ImagedComputer", 1));
  EXPECT_EQ(InitializeAgentParameters(), 10047);
  EXPECT_TRUE(log.Has("Tarnwick Server Name                -> server.example "));
  EXPECT_TRUE(log.Has("InitializeAgentParameters : Computer is detected as imaged One .. "));
}

TEST_F(AgentConfigTest, DistributionServerEnabledInCapitals) {
  agent_["EnableDistributionServer"] = "YES";
  server_["TWServerProtocol"] = "https";
  server_["DistributionServerName"] = "ds.example";
  server_["DistributionServerPort"] = "8090";
  server_["DistributionServerProtocol"] = "http";  // overwritten with the main server's protocol
  twtest::LogCapture log(2);
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(reg_.GetString(RegView::k32, kServerInfo, "DistributionServerProtocol"), "https");
  EXPECT_EQ(gv_dsProtocol, "https");
  EXPECT_EQ(gv_dsPort, 8090 + 363);
  EXPECT_EQ(gv_serverName, "server.example");  // no route without EnableDSRoute
  EXPECT_TRUE(log.Has("TW Distribution Server  Name      \t\t\t-> ds.example "));
}

TEST_F(AgentConfigTest, DistributionServerRouteReplacesMainServer) {
  agent_["EnableDistributionServer"] = "yes";
  agent_["EnableDSRoute"] = "Yes";
  agent_["ProxyEnabled"] = "yes";
  server_["DistributionServerName"] = "ds.example";
  server_["DistributionServerPort"] = "8090";
  server_["DistributionServerIPAddress"] = "127.0.0.9";
  server_["DistributionLastAccessName"] = "ds-last";
  twtest::LogCapture log(2);
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_serverName, "ds.example");
  EXPECT_EQ(gv_serverFlatName, "ds.example");
  EXPECT_EQ(gv_serverIPAddress, "127.0.0.9");
  EXPECT_FALSE(gv_serverSecIPAddress.has_value());
  EXPECT_EQ(gv_lastAccessName, "ds-last");
  EXPECT_EQ(gv_proxyEnabled, "NO");
  EXPECT_EQ(gv_serverPort, 8020);  // ports stay as loaded
  EXPECT_TRUE(log.Has("Enable Distribution Server Route                       -> 1 "));
}

TEST_F(AgentConfigTest, ProxyDetailsAndPassword) {
  agent_["ProxyEnabled"] = "Yes";
  agent_["ProxyServerName"] = "proxy:3128";
  agent_["ProxyUserName"] = "user";
  agent_["ProxyPassword"] = " c2VjcmV0 ";
  {
    twtest::LogCapture log(4);
    ASSERT_EQ(Load(), 0);
    // The key container of the base provider is made (or found) on the way.
    EXPECT_NE(log.Text().find("Cryptographic client Ok\r"), std::string::npos);
    // The log shows that a password is stored, never the password or its Base64 form.
    for (const char* line : {"Password from registry: ********\n", "Encrypted password is: ********\n",
                             "Decrypted password is: ********\n"})
      EXPECT_TRUE(log.Has(line)) << line;
    EXPECT_EQ(log.Text().find("secret"), std::string::npos);
    EXPECT_EQ(log.Text().find("c2VjcmV0"), std::string::npos);
  }
  EXPECT_EQ(gv_proxyServerName, "proxy:3128");
  EXPECT_EQ(gv_proxyUserName, "user");
  EXPECT_EQ(gv_proxyPassword, "secret");
  EXPECT_EQ(gv_proxyByPass, "<local>");

  SetUp();
  agent_["ProxyEnabled"] = "yes";
  agent_["ProxyPassword"] = "not base64!";
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_proxyPassword, "");
  EXPECT_EQ(gv_proxyUserName, "");

  // No password stored: the lines show the empty text.
  SetUp();
  agent_["ProxyEnabled"] = "yes";
  {
    twtest::LogCapture log(4);
    ASSERT_EQ(Load(), 0);
    EXPECT_TRUE(log.Has("Password from registry: \n"));
    EXPECT_TRUE(log.Has("Decrypted password is: \n"));
  }
}

// The agent keeps its configuration in the 32-bit view: values of the same
// names in the native view are never seen, and a required value that is only
// there counts as missing.
TEST_F(AgentConfigTest, OnlyThe32BitViewCounts) {
  reg_.DeleteTree(RegView::k64, kAgent);
  reg_.Track(RegView::k64, kAgent);
  ASSERT_TRUE(reg_.SetString(RegView::k64, kServerInfo, "TWServerName", "native.example"));
  ASSERT_TRUE(reg_.SetString(RegView::k64, kAgent, "ProxyEnabled", "YES"));
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(gv_serverName, "server.example");
  EXPECT_EQ(gv_proxyEnabled, "NO");

  SetUp();
  server_.erase("TWServerName");
  EXPECT_EQ(Load(), 13);
}

TEST_F(AgentConfigTest, EachRequiredValueMissingGives13) {
  struct Case {
    bool serverInfo;
    const char* name;
    const char* error;  // nullptr: the step names no ERROR line
  } cases[] = {
      {true, "TWServerName", "InitializeServerDetailsFromRegistry : Error while fetching server name from registry! "},
      {true, "TWServerPort", "InitializeServerDetailsFromRegistry : Error while fetching server port from registry! "},
      {false, "EnableDistributionServer",
       "InitializeAgentParameters : Error while fetching Master Agent entry from registry! "},
      {false, "TWAgentVersion", nullptr},
      {false, "AgentServiceName", "InitializeAgentDetails : Error while fetching agent service name from registry! "},
      {false, "MSPName", "InitializeAgentDetails : Error while fetching msp name from registry! "},
      {false, "CustomerName", "InitializeAgentDetails : Error while fetching customer name from registry! "},
      {false, "CustomerId", "InitializeAgentDetails : Error while fetching customer Id from registry! "},
      {false, "TWProductCode", "InitializeAgentDetails : Error while fetching product Code from registry! "},
      {false, "TWAgentInstallDir", nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    (c.serverInfo ? server_ : agent_).erase(c.name);
    twtest::LogCapture log(2);
    EXPECT_EQ(Load(), 13) << c.name;
    if (c.error) {
      EXPECT_TRUE(log.Has(c.error)) << c.name;
    }
  }

  SetUp();
  agent_["CustomerId"] = "";
  {
    twtest::LogCapture log(2);
    EXPECT_EQ(Load(), 13);
    EXPECT_TRUE(log.Has("GetCustomerId: error while retrieving customerid"));
  }

  for (const char* name : {"DistributionServerName", "DistributionServerPort"}) {
    SetUp();
    agent_["EnableDistributionServer"] = "yes";
    server_["DistributionServerName"] = "ds.example";
    server_["DistributionServerPort"] = "8090";
    server_.erase(name);
    twtest::LogCapture log(2);
    EXPECT_EQ(Load(), 13) << name;
    EXPECT_TRUE(log.Has("InitializeAgentParameters : Error while fetching DS Server details from registry! ")) << name;
  }
}

TEST_F(AgentConfigTest, MissingResourceIdIsReportedAndTheLoadGoesOn) {
  seedResourceId_ = false;
  twtest::LogCapture log(2);
  ASSERT_EQ(Load(), 0);
  EXPECT_FALSE(gv_resourceId.has_value());
  EXPECT_TRUE(log.Has("GetResourceID : Unable to get the TW Agent Resource ID from Registry , So trying to get the "
                      "same from server ."));
  EXPECT_TRUE(log.Has("The Agent Machine Resource Id is given by -> (null) "));
}

TEST(DecodeBase64, DecodesPaddingAndRejectsBadInput) {
  std::string out;
  EXPECT_TRUE(DecodeBase64("cGFzcw==", out));
  EXPECT_EQ(out, "pass");
  EXPECT_TRUE(DecodeBase64("cGFzczE=", out));
  EXPECT_EQ(out, "pass1");
  EXPECT_TRUE(DecodeBase64("\t cGFzczEy\r\n", out));
  EXPECT_EQ(out, "pass12");
  EXPECT_TRUE(DecodeBase64("", out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(DecodeBase64("YQBi", out));  // "a\0b": the text ends at its zero byte
  EXPECT_EQ(out, "a");
  EXPECT_FALSE(DecodeBase64("abc", out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(DecodeBase64("ab!d", out));
  EXPECT_FALSE(DecodeBase64("a===", out));
  EXPECT_FALSE(DecodeBase64(nullptr, out));
}
