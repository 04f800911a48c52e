// Shared fixture of the agent log tests: a scratch install folder (ending in a
// backslash, as the agent stores it) seeded as the agent key's
// TWAgentInstallDir, no TWAgentLogLevel, and the log closed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "agent/config/settings.h"
#include "agent/log/agentlog.h"
#include "agent/registry/registry.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

class AgentLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = twtest::MakeScratchDir("agentlog");
    install_ = dir_ + "\\";
    ASSERT_TRUE(reg_.SetString(twtest::RegView::k32, kAgentKeyPath, "TWAgentInstallDir", install_));
    reg_.DeleteValue(twtest::RegView::k32, kAgentKeyPath, "TWAgentLogLevel");
  }
  void TearDown() override {
    CloseAgentLog();
    gv_agentInstallDir.reset();
    twtest::RemoveTree(dir_);
  }

  twtest::RegistrySandbox reg_;
  std::string dir_;
  std::string install_;
};
