// Java discovery against seeded JavaSoft keys in both registry views, the
// install-path record under "SOFTWARE\\Orvanta" and the detection key.
#include <gtest/gtest.h>

#include <string>

#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "handler/javadiscovery.h"
#include "handler/options.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

using twtest::LogCapture;
using twtest::RegistrySandbox;
using twtest::RegView;

namespace {

const std::string kJre = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
const std::string kJdk = "SOFTWARE\\JavaSoft\\Java Development Kit\\";
const std::string kOrvanta = "SOFTWARE\\Orvanta";

class JavaDiscoveryTest : public testing::Test {
 protected:
  void SetUp() override {
    g_runOptions = RunOptions();
    szJavaHome.reset();
    gv_IsWow64 = 0;
    // A version key no other test program uses.
    version_ = "1.8.0_tw" + std::to_string(GetCurrentProcessId());
  }
  void TearDown() override {
    g_runOptions = RunOptions();
    szJavaHome.reset();
    gv_IsWow64 = 0;
  }

  void SeedHome(RegView view, const std::string& base, const std::string& home) {
    ASSERT_TRUE(reg_.SetString(view, base + version_, "JavaHome", home));
  }
  // Puts the three recorded values into the sandbox's care (restored at the
  // end), starting from the given state.
  void GuardRecord(bool present) {
    for (const char* name : {"JREPath", "JDKPath", "FileName"}) {
      ASSERT_TRUE(reg_.SetString(RegView::k32, kOrvanta, name, "before"));
      if (!present) {
        ASSERT_TRUE(reg_.DeleteValue(RegView::k32, kOrvanta, name));
      }
    }
  }
  std::optional<std::string> Recorded(const char* name) const { return reg_.GetString(RegView::k32, kOrvanta, name); }

  LogCapture log_{4, "javadiscovery"};
  RegistrySandbox reg_;
  std::string version_;
};

TEST_F(JavaDiscoveryTest, ProductNameWithX64ReadsTheNativeViewOthersTheAgentView) {
  SeedHome(RegView::k32, kJre, "C:\\Program Files (x86)\\Java\\jre8");
  SeedHome(RegView::k64, kJre, "C:\\Program Files\\Java\\jre8");
  SeedHome(RegView::k32, kJdk, "C:\\Program Files (x86)\\Java\\jdk8");
  SeedHome(RegView::k64, kJdk, "C:\\Program Files\\Java\\jdk8");
  g_runOptions.productVersion = version_;

  g_runOptions.productName = "Java 8 Update 401 (x64)";
  EXPECT_EQ(JREInstallDir(), "C:\\Program Files\\Java\\jre8");
  EXPECT_EQ(JDKInstallDir(), "C:\\Program Files\\Java\\jdk8");
  EXPECT_TRUE(log_.Has("JREInstallDir : C:\\Program Files\\Java\\jre8\n"));
  EXPECT_TRUE(log_.Has("JDKInstallDir : C:\\Program Files\\Java\\jdk8\n"));

  // The match is case-sensitive; without "x64" the 32-bit view is read even on 64-bit Windows.
  for (const char* name : {"Java 8 Update 401", "Java 8 Update 401 (X64)"}) {
    g_runOptions.productName = name;
    EXPECT_EQ(JREInstallDir(), "C:\\Program Files (x86)\\Java\\jre8") << name;
    EXPECT_EQ(JDKInstallDir(), "C:\\Program Files (x86)\\Java\\jdk8") << name;
  }
  // An absent product name is no x64 product either.
  g_runOptions.productName.reset();
  EXPECT_EQ(JREInstallDir(), "C:\\Program Files (x86)\\Java\\jre8");
}

TEST_F(JavaDiscoveryTest, MissingKeysAndUnreadableValuesGiveTheEmptyText) {
  g_runOptions.productName = "Java x64";
  g_runOptions.productVersion = version_;
  EXPECT_EQ(JREInstallDir(), "");
  EXPECT_TRUE(log_.Has("JREInstallDir : \n"));

  // The key is there, its JavaHome is not.
  ASSERT_TRUE(reg_.SetString(RegView::k64, kJre + version_, "MicroVersion", "0"));
  EXPECT_EQ(JREInstallDir(), "");
  // A JavaHome that is no text.
  ASSERT_TRUE(reg_.SetDword(RegView::k64, kJdk + version_, "JavaHome", 7));
  EXPECT_EQ(JDKInstallDir(), "");
  EXPECT_TRUE(log_.Has("JDKInstallDir : \n"));

  // No version given: no version key is found, nothing crashes.
  g_runOptions.productVersion.reset();
  EXPECT_EQ(JREInstallDir(), "");
  EXPECT_EQ(JDKInstallDir(), "");
}

TEST_F(JavaDiscoveryTest, HomesAreReadWholeAndKeepTheirCharacters) {
  g_runOptions.productVersion = version_;
  // Longer than any fixed buffer, and with non-ASCII letters.
  const std::string longHome = "C:\\Java\\" + std::string(1500, 'j') + "\\jre";
  const std::string accented = "C:\\Programme\\J\xC3\xA4va \xE2\x82\xAC\\jre";
  SeedHome(RegView::k32, kJre, longHome);
  SeedHome(RegView::k32, kJdk, accented);
  EXPECT_EQ(JREInstallDir(), longHome);
  EXPECT_EQ(JDKInstallDir(), accented);

  // A text stored without its terminator still reads whole.
  const std::wstring bare = L"C:\\Bare\\jre";
  ASSERT_TRUE(reg_.SetRaw(RegView::k32, kJre + version_, "JavaHome", REG_SZ,
                          std::string(reinterpret_cast<const char*>(bare.data()), bare.size() * sizeof(wchar_t))));
  EXPECT_EQ(JREInstallDir(), "C:\\Bare\\jre");
}

TEST_F(JavaDiscoveryTest, JavaHomeViewFollowsTheInstallerName) {
  SeedHome(RegView::k32, kJre, "C:\\J32");
  SeedHome(RegView::k64, kJre, "C:\\J64");
  g_runOptions.productVersion = version_;
  gv_IsWow64 = 1;

  g_runOptions.patchName = "jre-7u80-windows-i586.exe";
  readJavaHome();
  EXPECT_EQ(szJavaHome, "C:\\J32");
  EXPECT_TRUE(log_.Has("szJavaHome : C:\\J32\n"));

  g_runOptions.patchName = "jre-7u80-windows-x64.exe";
  readJavaHome();
  EXPECT_EQ(szJavaHome, "C:\\J64");
  g_runOptions.patchName.reset();
  readJavaHome();
  EXPECT_EQ(szJavaHome, "C:\\J64");

  // Before the configuration says 64-bit Windows, the agent view is read.
  gv_IsWow64 = 0;
  readJavaHome();
  EXPECT_EQ(szJavaHome, "C:\\J32");

  // Nothing for the version: the home is absent.
  g_runOptions.productVersion = version_ + "-missing";
  readJavaHome();
  EXPECT_FALSE(szJavaHome.has_value());
  EXPECT_TRUE(log_.Has("szJavaHome : (null)\n"));
}

TEST_F(JavaDiscoveryTest, RecordWritesThePathsInTheAgentView) {
  GuardRecord(false);
  SeedHome(RegView::k64, kJre, "C:\\Program Files\\Java\\jre8");
  SeedHome(RegView::k64, kJdk, "C:\\Program Files\\Java\\jdk8");
  g_runOptions.productName = "Java 8 x64";
  g_runOptions.productVersion = version_;
  g_runOptions.javaFileName = "jre-8u401-windows-x64.exe";

  RecordJavaInstallPaths();
  EXPECT_EQ(Recorded("JREPath"), "C:\\Program Files\\Java\\jre8");
  EXPECT_EQ(Recorded("JDKPath"), "C:\\Program Files\\Java\\jdk8");
  EXPECT_EQ(Recorded("FileName"), "jre-8u401-windows-x64.exe");
  EXPECT_EQ(reg_.GetRaw(RegView::k32, kOrvanta, "JREPath")->type, static_cast<DWORD>(REG_SZ));
  EXPECT_TRUE(log_.Has("Reg : 0\n"));
  EXPECT_TRUE(log_.Has("JRE Install Path added to the registry.\n"));
  EXPECT_TRUE(log_.Has("Java Install Path added to the registry.\n"));
  EXPECT_TRUE(log_.Has("File name added.\n"));
  // The values are written through the agent key, under "Orvanta" of SOFTWARE.
  EXPECT_TRUE(log_.Has("writeValue: Subkey : Orvanta \n"));
}

TEST_F(JavaDiscoveryTest, RecordStoresEmptyPathsAndKeepsFileNameWithoutOption) {
  GuardRecord(true);
  g_runOptions.productName = "Java 8";
  g_runOptions.productVersion = version_;  // nothing installed for it

  RecordJavaInstallPaths();
  EXPECT_EQ(Recorded("JREPath"), "");
  EXPECT_EQ(Recorded("JDKPath"), "");
  EXPECT_EQ(Recorded("FileName"), "before");
  EXPECT_FALSE(log_.Has("File name added.\n"));
}

TEST_F(JavaDiscoveryTest, RemoveOptionOrNoProductRemovesTheRecord) {
  GuardRecord(true);
  g_runOptions.productName = "Java 8";
  g_runOptions.removeJavaInstallPath = true;
  RecordJavaInstallPaths();
  for (const char* name : {"JREPath", "JDKPath", "FileName"})
    EXPECT_FALSE(reg_.ValueExists(RegView::k32, kOrvanta, name)) << name;
  EXPECT_TRUE(log_.Has("JRE Install Path removed from the registry.\n"));
  EXPECT_TRUE(log_.Has("JDK Install Path removed from the registry.\n"));
  EXPECT_TRUE(log_.Has("Java file name removed from registry from the registry.\n"));

  // Again, with nothing left to remove (and no product name): each failure is logged.
  g_runOptions = RunOptions();
  RecordJavaInstallPaths();
  EXPECT_TRUE(log_.Has("Failed to remove JRE install path from registry. error code : 2\n"));
  EXPECT_TRUE(log_.Has("Failed to remove JDK install path from registry. error code : 2\n"));
  EXPECT_TRUE(log_.Has("Failed to remove java install path from registry. error code : 2\n"));
}

TEST_F(JavaDiscoveryTest, DetectionKeyIsCreatedInOrdinaryModeAndCleared) {
  g_runOptions.productName = "Java 8 Update 401 " + version_;
  const std::string path = DetectionKeyPath();
  EXPECT_EQ(path, "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\Java 8 Update 401 " + version_);
  reg_.Track(RegView::k32, path);

  g_runOptions.calledFromSoftwareDeployment = true;
  EXPECT_EQ(CreateDetectionKey(), 0);
  EXPECT_TRUE(log_.Has("addRegistryKey: Inside addRegistryKey method ...... \n"));
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, path));

  g_runOptions.calledFromSoftwareDeployment = false;
  EXPECT_EQ(CreateDetectionKey(), 0);
  const auto m = log_.Messages();
  ASSERT_EQ(m.size(), 3u) << log_.Text();
  EXPECT_EQ(m[1], "addRegistryKey: Inside addRegistryKey method ...... ");
  EXPECT_EQ(m[2], "RegCreateKeyEx: returns : 0");
  EXPECT_TRUE(reg_.KeyExists(RegView::k32, path));
  EXPECT_FALSE(reg_.KeyExists(RegView::k64, path));
  // Creating it again opens it.
  EXPECT_EQ(CreateDetectionKey(), 0);

  EXPECT_EQ(ClearDetectionKey(), 1);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, path));
}

TEST_F(JavaDiscoveryTest, DetectionKeyNamesOfAnyLengthAndAbsentNames) {
  // Well past 255 bytes of path.
  g_runOptions.productName = "Java " + std::string(220, 'v') + version_;
  const std::string path = DetectionKeyPath();
  ASSERT_GT(path.size(), 255u);
  reg_.Track(RegView::k32, path);
  EXPECT_EQ(CreateDetectionKey(), 0);
  EXPECT_TRUE(reg_.KeyExists(RegView::k32, path));
  EXPECT_EQ(ClearDetectionKey(), 1);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, path));

  // Names in any alphabet are kept as they are. The name comes from the
  // command line, in the system code page; the registry shows it in UTF-8.
  const wchar_t* letters = L"\u00e4\u20ac";
  char ansi[16] = {};
  BOOL lossy = FALSE;
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, letters, -1, ansi, sizeof ansi, nullptr, &lossy), 0);
  ASSERT_FALSE(lossy) << "the system code page lacks the test's letters";
  g_runOptions.productName = "Java " + std::string(ansi) + " " + version_;
  const std::string accented = "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\Java \xC3\xA4\xE2\x82\xAC " + version_;
  reg_.Track(RegView::k32, accented);
  EXPECT_EQ(CreateDetectionKey(), 0);
  EXPECT_TRUE(reg_.KeyExists(RegView::k32, accented));
  EXPECT_EQ(ClearDetectionKey(), 1);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, accented));

  g_runOptions.productName.reset();
  EXPECT_EQ(DetectionKeyPath(), "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\(null)");
}

TEST_F(JavaDiscoveryTest, EmptyProductNameNeverClearsOtherProducts) {
  const std::string other = "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\Other " + version_;
  ASSERT_TRUE(reg_.CreateKey(RegView::k32, other));
  for (const char* name : {"", "\\", "\\\\"}) {
    g_runOptions.productName = name;
    EXPECT_EQ(ClearDetectionKey(), 0);
    EXPECT_TRUE(reg_.KeyExists(RegView::k32, other)) << '"' << name << '"';
  }
}

}  // namespace
