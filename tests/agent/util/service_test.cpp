// Service notification against a real service in Wine's Service Control
// Manager: the test service records each user control code it receives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/config/settings.h"
#include "agent/util/servicemsg.h"
#include "tests/support/logcheck.h"
#include "tests/support/scratch.h"
#include "tests/support/win_system.h"

using twtest::HasLine;
using twtest::LogCapture;

namespace {

std::string ServiceExePath() {
  char self[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.rfind('\\') + 1) + "tw_test_service.exe";
}

using twtest::Widen;

bool WaitForState(SC_HANDLE service, DWORD state) {
  return twtest::WaitUntil(
      [&] {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service, &status) && status.dwCurrentState == state;
      },
      30000);
}

bool WaitForContent(const std::string& path, const std::string& expected) {
  return twtest::WaitUntil([&] { return twtest::ReadFile(path) == expected; }, 10000);
}

class ServiceMsgTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = twtest::MakeScratchDir("service");
    record_ = folder_ + "\\controls.txt";
    name_ = "TwUtilTestSvc" + std::to_string(GetCurrentProcessId());
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr) << GetLastError();
    std::string command = ServiceExePath();
    command.insert(command.begin(), '"');
    command.append("\" \"").append(record_).append("\"");
    service_ = CreateServiceA(manager_, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                              command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service_, nullptr) << GetLastError();
  }

  void TearDown() override {
    if (service_) {
      SERVICE_STATUS status{};
      if (ControlService(service_, SERVICE_CONTROL_STOP, &status)) WaitForState(service_, SERVICE_STOPPED);
      DeleteService(service_);
      CloseServiceHandle(service_);
    }
    if (manager_) CloseServiceHandle(manager_);
    ResetAgentSettings();
    twtest::RemoveTree(folder_);
  }

  void Start() {
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForState(service_, SERVICE_RUNNING));
  }

  std::string folder_, record_, name_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

TEST_F(ServiceMsgTest, ControlCodeReachesRunningService) {
  Start();
  LogCapture log(4);
  const std::wstring wideName = Widen(name_);
  EXPECT_EQ(SendServiceMsg(147, wideName.c_str()), 1);
  EXPECT_TRUE(WaitForContent(record_, "147\n")) << twtest::ReadFile(record_);
  EXPECT_TRUE(HasLine(log, "[INFO]", "SendServiceMsg : Service " + name_ + " Opened successfully\n"));
  EXPECT_TRUE(HasLine(log, "[INFO]", "SendServiceMsg : Notification is succeeded\n"));

  // The agent's own notification goes to the service named in the settings.
  gv_agentServiceName = name_;
  EXPECT_EQ(NotifyAgentService(147), 1);
  EXPECT_TRUE(WaitForContent(record_, "147\n147\n")) << twtest::ReadFile(record_);
}

TEST_F(ServiceMsgTest, StoppedServiceRefusesTheControl) {
  LogCapture log(4);
  const std::wstring wideName = Widen(name_);
  EXPECT_EQ(SendServiceMsg(147, wideName.c_str()), 0);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "SendServiceMsg : Notification failed 1062 \n")) << log.Text();
  EXPECT_FALSE(twtest::FileExists(record_));
}

TEST(ServiceMsg, MissingServiceFailsToOpen) {
  LogCapture log(4);
  EXPECT_EQ(SendServiceMsg(147, L"TwNoSuchServiceAnywhere"), 0);
  EXPECT_TRUE(HasLine(log, "[ERROR]", "SendServiceMsg : Failed to open the Service\n")) << log.Text();
  EXPECT_FALSE(HasLine(log, "[INFO]", "SendServiceMsg : Notification is succeeded\n"));

  // No service name configured: nothing is sent.
  ResetAgentSettings();
  EXPECT_EQ(NotifyAgentService(147), 0);
  EXPECT_EQ(twtest::CountMessage(log, "SendServiceMsg : Failed to open the Service\n"), 2);
}

}  // namespace
