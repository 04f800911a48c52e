// The one-shot registry functions against Wine's registry: what they store,
// what they read back, which view they use and the log lines they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config/settings.h"
#include "agent/registry/registry.h"
#include "agent/util/wow64.h"
#include "tests/support/scratch.h"
#include "tests/support/win_registry.h"

using twtest::LogCapture;
using twtest::RawRegValue;
using twtest::RegistrySandbox;
using twtest::RegView;

namespace {

std::string Utf16Bytes(const std::wstring& text, bool terminator = true) {
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     (text.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
}

class RegistryTest : public testing::Test {
 protected:
  void TearDown() override {
    gv_IsWow64 = 0;
    OverrideRunningOn64BitWindows(std::nullopt);
  }

  // Lines of the given tag ("[ERROR]", ...) written so far.
  size_t CountTag(const std::string& tag) const {
    size_t n = 0;
    for (const std::string& line : twtest::SplitLines(log_.Text()))
      if (twtest::TagOf(line) == tag) ++n;
    return n;
  }
  bool HasMessageStarting(const std::string& prefix) const {
    for (const std::string& m : log_.Messages())
      if (m.rfind(prefix, 0) == 0) return true;
    return false;
  }

  LogCapture log_{4, "registry"};
  RegistrySandbox reg_;
  const std::string key_ = RegistrySandbox::UniquePath("registry");
};

// ---- writeValue ----

TEST_F(RegistryTest, WriteValueLogsItsStepsByteForByte) {
  reg_.Track(RegView::k32, key_);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name", "yes", REG_SZ), 0);

  std::vector<std::string> m = log_.Messages();
  ASSERT_EQ(m.size(), 11u) << log_.Text();
  EXPECT_EQ(m[0], "@@@@@@@@ Inside writeValue Method @@@@@@@@ ");
  EXPECT_EQ(m[1], "writeValue: Subkey : " + key_ + " ");
  EXPECT_EQ(m[2], "writeValue: Value Name: Name ");
  EXPECT_EQ(m[3], "writeValue: Value Data: yes ");
  EXPECT_EQ(m[4], "writeValue:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: 8");
  EXPECT_EQ(m[5], "addRegistryKey: Inside addRegistryKey method ...... ");
  EXPECT_EQ(m[6], "addRegistryKey:  Create registry key function successfull: 1 ");
  EXPECT_EQ(m[7], "writeValue:  Key found ...!: 0");
  EXPECT_EQ(m[8], "writeValue:  After addRegistryKey method in writeValue method!!");
  EXPECT_EQ(m[9].rfind("Message : ", 0), 0u) << m[9];
  EXPECT_EQ(m[10], "@@@@@@@@ End Of writeValue Method @@@@@@@@ ");
  // Levels: the success text is INFO, the rest DEBUG.
  EXPECT_EQ(CountTag("[INFO]"), 1u);
  EXPECT_EQ(CountTag("[DEBUG]"), 10u);
  // Lines end with CR LF in the file (text-mode log).
  EXPECT_NE(log_.Text().find("[DEBUG] writeValue: Value Data: yes \r\n"), std::string::npos);

  // A second write finds the key.
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name", "no", REG_SZ), 0);
  EXPECT_TRUE(log_.Has("addRegistryKey:  Opened already existing key! \n"));
  EXPECT_EQ(reg_.GetString(RegView::k32, key_, "Name"), "no");
}

TEST_F(RegistryTest, WriteValueDefaultNameAndEmptyData) {
  reg_.Track(RegView::k32, key_);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "--", "--", REG_SZ), 0);
  EXPECT_TRUE(log_.Has("writeValue : going to add the (default) value .\n"));
  EXPECT_TRUE(log_.Has("writeValue : going to add the value data as 0 value .\n"));
  EXPECT_TRUE(log_.Has("writeValue:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: 2\n"));
  std::optional<RawRegValue> def = reg_.GetRaw(RegView::k32, key_, "");
  ASSERT_TRUE(def);
  EXPECT_EQ(def->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(def->bytes, std::string(2, '\0'));
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, key_, "--"));
}

TEST_F(RegistryTest, WriteValueDwordParsesLikeAtoi) {
  reg_.Track(RegView::k32, key_);
  struct Case {
    const char* data;
    DWORD stored;
  } cases[] = {{"60000", 60000},
               {"abc", 0},
               {" -5x", static_cast<DWORD>(-5)},
               {"\t+12 34", 12},
               {"--", 0},
               {"", 0},
               {"99999999999999999999", 0x7fffffffu},
               {"-99999999999999999999", 0x80000000u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Number", c.data, REG_DWORD), 0);
    EXPECT_EQ(reg_.GetDword(RegView::k32, key_, "Number"), c.stored);
  }
  EXPECT_TRUE(log_.Has("writeValue:  REG_DWORD -- sizeOfInputData: 4\n"));
}

TEST_F(RegistryTest, WriteValueStoresUtf16TextWithTerminator) {
  reg_.Track(RegView::k32, key_);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Yes", "yes", REG_SZ), 0);
  std::optional<RawRegValue> yes = reg_.GetRaw(RegView::k32, key_, "Yes");
  ASSERT_TRUE(yes);
  EXPECT_EQ(yes->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(yes->bytes.size(), 8u);
  EXPECT_EQ(yes->bytes, Utf16Bytes(L"yes"));

  // UTF-8 name and data arrive as the same characters.
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Pfad\xC3\xA9", "C:\\Programme\\\xC3\xA9t\xC3\xA9", REG_EXPAND_SZ),
            0);
  std::optional<RawRegValue> path = reg_.GetRaw(RegView::k32, key_, "Pfad\xC3\xA9");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(path->bytes, Utf16Bytes(L"C:\\Programme\\\u00e9t\u00e9"));

  // REG_BINARY keeps the text's UTF-16 bytes, not decoded data.
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Bin", "0a", REG_BINARY), 0);
  std::optional<RawRegValue> bin = reg_.GetRaw(RegView::k32, key_, "Bin");
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(bin->bytes, Utf16Bytes(L"0a"));

  // Everything went to the agent's (32-bit) view.
  EXPECT_FALSE(reg_.KeyExists(RegView::k64, key_));
}

TEST_F(RegistryTest, WriteValueRefusesMissingTextsAndOtherTypes) {
  reg_.Track(RegView::k32, key_);
  EXPECT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name", nullptr, REG_SZ), 13);
  EXPECT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), nullptr, "x", REG_SZ), 13);
  EXPECT_TRUE(log_.Has("writeValue : Valuename or Valuedata is Empty \n"));
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, key_));
  // Types the agent never writes are refused, the key is not created.
  EXPECT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name", "x", REG_MULTI_SZ), 13);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, key_));
}

// ---- ReadDwordRegistryData ----

TEST_F(RegistryTest, ReadDwordRegistryData) {
  ASSERT_TRUE(reg_.SetDword(RegView::k32, key_, "Count", 42));
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Text", "longer than four"));
  ASSERT_TRUE(reg_.SetBinary(RegView::k32, key_, "Two", std::string("\x01\x02", 2)));

  DWORD out = 7;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key_.c_str(), "Count", out), 0);
  EXPECT_EQ(out, 42u);

  // Missing value and missing key: 2, DEBUG line only, out untouched.
  out = 7;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key_.c_str(), "Missing", out), 2);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, (key_ + "\\nokey").c_str(), "Missing", out), 2);
  EXPECT_EQ(out, 7u);
  EXPECT_EQ(CountTag("[ERROR]"), 0u);
  std::vector<std::string> m = log_.Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0], "ReadDwordRegistryData:  value  Missing Not found: 2 ");
  EXPECT_EQ(m[1], "ReadDwordRegistryData:  value  Missing Not found: 2 ");

  // A text longer than 4 bytes: 234 with the ERROR line, out untouched.
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key_.c_str(), "Text", out), 234);
  EXPECT_EQ(out, 7u);
  EXPECT_TRUE(log_.Has("ReadDwordRegistryData: Error while reading DWORD value of Text : 234 \n"));
  EXPECT_EQ(CountTag("[ERROR]"), 1u);

  // Any value of at most 4 bytes is taken in its stored form.
  out = 0xAABBCCDDu;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key_.c_str(), "Two", out), 0);
  EXPECT_EQ(out, 0xAABB0201u);
}

// ---- ReadRegSZ, ReadRegSZEx ----

TEST_F(RegistryTest, ReadRegSZMissingValueIsSilent) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Present", "x"));
  std::optional<std::string> out = "old";
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Missing", out), 2);
  EXPECT_FALSE(out.has_value());
  EXPECT_TRUE(log_.Messages().empty()) << log_.Text();

  // A missing key is reported.
  out = "old";
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, (key_ + "\\nokey").c_str(), "Missing", out), 2);
  EXPECT_FALSE(out.has_value());
  EXPECT_TRUE(log_.Has("ReadRegSZ: Error while opening registry key " + key_ +
                       "\\nokey ,and the error is  2 \n"));
}

TEST_F(RegistryTest, ReadRegSZReadsWholeValues) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Plain", "C:\\Program Files\\Agent"));
  ASSERT_TRUE(reg_.SetRaw(RegView::k32, key_, "NoTerminator", REG_SZ, Utf16Bytes(L"abcdef", false)));
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Empty", ""));
  ASSERT_TRUE(reg_.SetRaw(RegView::k32, key_, "NoBytes", REG_SZ, ""));
  std::string big(100 * 1024, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Big", big));
  ASSERT_TRUE(reg_.SetDword(RegView::k32, key_, "Dword", 0x00434241u));

  std::optional<std::string> out;
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Plain", out), 0);
  EXPECT_EQ(out, "C:\\Program Files\\Agent");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "NoTerminator", out), 0);
  EXPECT_EQ(out, "abcdef");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Empty", out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "NoBytes", out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Big", out), 0);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), big.size());
  EXPECT_TRUE(*out == big);
  // Around the size of the first read: filling it exactly, and one byte more.
  for (size_t length : {size_t{510}, size_t{511}, size_t{512}, size_t{513}}) {
    const std::string text(length, 'e');
    ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Edge", text));
    EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Edge", out), 0);
    EXPECT_EQ(out, text) << length;
  }
  // Other types come as their bytes up to the first zero byte.
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Dword", out), 0);
  EXPECT_EQ(out, "ABC");
  EXPECT_EQ(CountTag("[ERROR]"), 0u);
}

TEST_F(RegistryTest, ReadRegSZExReadsUtf16) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "N\xC3\xA4me", "h\xC3\xA9llo \xE2\x82\xAC"));
  ASSERT_TRUE(reg_.SetRaw(RegView::k32, key_, "NoTerminator", REG_SZ, Utf16Bytes(L"abc", false)));
  std::optional<std::wstring> out;
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, key_.c_str(), "N\xC3\xA4me", out), 0);
  EXPECT_EQ(out, std::wstring(L"h\u00e9llo \u20ac"));
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, key_.c_str(), "NoTerminator", out), 0);
  EXPECT_EQ(out, std::wstring(L"abc"));
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, key_.c_str(), "Missing", out), 2);
  EXPECT_FALSE(out.has_value());
  EXPECT_TRUE(log_.Messages().empty()) << log_.Text();
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, (key_ + "\\nokey").c_str(), "N\xC3\xA4me", out), 2);
  EXPECT_TRUE(log_.Has("ReadRegSZEx: Error while opening registry key : N\xC3\xA4me \n"));
}

TEST_F(RegistryTest, LoadAgentInstallDirReadsTheAgentKey) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, kAgentKeyPath, "TWAgentInstallDir", "C:\\Agent\\"));
  gv_agentInstallDir.reset();
  EXPECT_EQ(LoadAgentInstallDir(), 0);
  EXPECT_EQ(gv_agentInstallDir, "C:\\Agent\\");
  gv_agentInstallDir.reset();
}

// Every reader of the install folder appends "logs", "bin\\7za.exe" or
// "patches" to it, so the folder always ends with a backslash.
TEST_F(RegistryTest, AgentInstallDirEndsWithABackslash) {
  const struct {
    const char* stored;
    const char* read;
  } cases[] = {
      {"C:\\Agent\\", "C:\\Agent\\"},
      {"C:\\Program Files (x86)\\Agent", "C:\\Program Files (x86)\\Agent\\"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    ASSERT_TRUE(reg_.SetString(RegView::k32, kAgentKeyPath, "TWAgentInstallDir", c.stored));
    gv_agentInstallDir.reset();
    EXPECT_EQ(LoadAgentInstallDir(), 0);
    EXPECT_EQ(gv_agentInstallDir, c.read);
  }
  // A failed read leaves the folder known so far in place.
  ASSERT_TRUE(reg_.DeleteValue(RegView::k32, kAgentKeyPath, "TWAgentInstallDir"));
  gv_agentInstallDir = "C:\\Known\\";
  EXPECT_EQ(LoadAgentInstallDir(), 2);
  EXPECT_EQ(gv_agentInstallDir, "C:\\Known\\");
  gv_agentInstallDir.reset();
}

// ---- registry views ----

TEST_F(RegistryTest, AgentViewUnlessNativeIsAskedFor) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Where", "thirty-two"));
  ASSERT_TRUE(reg_.SetString(RegView::k64, key_, "Where", "sixty-four"));
  std::optional<std::string> out;

  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "thirty-two");
  gv_IsWow64 = 1;
  EXPECT_EQ(ReadRegSZ64(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "sixty-four");
  gv_IsWow64 = 0;
  EXPECT_EQ(ReadRegSZ64(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "thirty-two");

  // 32-bit Windows has one view: the native view folds into it.
  OverrideRunningOn64BitWindows(false);
  gv_IsWow64 = 1;
  EXPECT_EQ(ReadRegSZ64(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "thirty-two");
  EXPECT_EQ(RegistryAccess(KEY_READ | KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_READ | KEY_WOW64_32KEY));
  OverrideRunningOn64BitWindows(std::nullopt);
  EXPECT_EQ(RegistryAccess(KEY_READ | KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));
  EXPECT_EQ(RegistryAccess(KEY_READ), static_cast<REGSAM>(KEY_READ | KEY_WOW64_32KEY));

  // ReadRegSZ64 logs its own open failure with the code only.
  gv_IsWow64 = 1;
  EXPECT_EQ(ReadRegSZ64(HKEY_LOCAL_MACHINE, (key_ + "\\nokey").c_str(), "Where", out), 2);
  EXPECT_TRUE(log_.Has("ReadRegSZEx: Error while opening registry key for serverName 2 \n"));
}

TEST_F(RegistryTest, WritesAndDeletionsStayInTheAgentView) {
  ASSERT_TRUE(reg_.SetString(RegView::k64, key_, "Keep", "native"));
  reg_.Track(RegView::k32, key_);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Keep", "agent", REG_SZ), 0);
  EXPECT_EQ(reg_.GetString(RegView::k64, key_, "Keep"), "native");
  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Keep"), 0);
  EXPECT_EQ(reg_.GetString(RegView::k64, key_, "Keep"), "native");
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_.c_str()), 1);
  EXPECT_TRUE(reg_.KeyExists(RegView::k64, key_));
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, key_));
}

// Reads through kept keys give what reads without them give: each view's
// values, writes made meanwhile, and a key that appears after a failed read.
TEST_F(RegistryTest, KeptKeysReadWhatFreshOpensRead) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Where", "thirty-two"));
  ASSERT_TRUE(reg_.SetString(RegView::k64, key_, "Where", "sixty-four"));
  const std::string later = key_ + "\\later";
  reg_.Track(RegView::k32, later);
  std::optional<std::string> out;
  RegistryReadKeys kept;
  RegistryReadKeys inner;  // nested: the outer scope keeps the keys
  ASSERT_EQ(RegistryReadKeys::Current(), &kept);
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "thirty-two");
  gv_IsWow64 = 1;
  EXPECT_EQ(ReadRegSZ64(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "sixty-four");
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", "changed", REG_SZ), 0);
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key_.c_str(), "Where", out), 0);
  EXPECT_EQ(out, "changed");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, later.c_str(), "Value", out), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, later.c_str(), "Value", "7", REG_DWORD), 0);
  DWORD value = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, later.c_str(), "Value", value), 0);
  EXPECT_EQ(value, 7u);
}

// ---- deleteValue, deleteValueW ----

TEST_F(RegistryTest, DeleteValueLogs) {
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "Name", "x"));
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "", "default"));

  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name"), 0);
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, key_, "Name"));
  std::vector<std::string> m = log_.Messages();
  ASSERT_EQ(m.size(), 3u) << log_.Text();
  EXPECT_EQ(m[0], "deleteValue: Inside function deleteValue ..... ");
  EXPECT_EQ(m[1], "deleteValue:  Key found ...!: 0");
  EXPECT_EQ(m[2], "deleteValue:  Delete value Name success! ");

  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, key_.c_str(), "--"), 0);
  EXPECT_TRUE(log_.Has("deleteValue : going to delete the (default) value .\n"));
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, key_, ""));

  // Missing value: failure line and the system's text for the code.
  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, key_.c_str(), "Name"), 2);
  EXPECT_TRUE(log_.Has("deleteValue:  Delete value Name failure! \n"));
  // Missing key.
  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, (key_ + "\\nokey").c_str(), "Name"), 2);
  EXPECT_TRUE(log_.Has("deleteValue:  " + key_ + "\\nokey Key not found!: 2  \n"));
  // Each failure names the error in words, from the registry's code.
  size_t texts = 0;
  for (const std::string& msg : log_.Messages())
    if (msg.rfind(" Error Message: ", 0) == 0 && msg.size() > 16) ++texts;
  EXPECT_EQ(texts, 2u) << log_.Text();
}

TEST_F(RegistryTest, DeleteValueWShowsWholeNames) {
  const std::string valueName = "D\xC3\xA9j\xC3\xA0";
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, valueName, "x"));
  std::wstring wkey(key_.begin(), key_.end());
  const std::wstring wname = L"D\u00e9j\u00e0";

  EXPECT_EQ(deleteValueW(HKEY_LOCAL_MACHINE, wkey.c_str(), wname.c_str()), 0);
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, key_, valueName));
  EXPECT_TRUE(log_.Has("deleteValue: Inside function deleteValue ..... subkey : " + key_ + ", Valuename : " +
                       valueName + " \n"));
  EXPECT_TRUE(log_.Has("deleteValue:  Delete value " + valueName + " success! \n"));

  EXPECT_EQ(deleteValueW(HKEY_LOCAL_MACHINE, (wkey + L"\\nokey").c_str(), wname.c_str()), 2);
  EXPECT_TRUE(log_.Has("deleteValue:  " + key_ + "\\nokey Key not found!: 2  \n"));

  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "", "default"));
  EXPECT_EQ(deleteValueW(HKEY_LOCAL_MACHINE, wkey.c_str(), L"--"), 0);
  EXPECT_FALSE(reg_.ValueExists(RegView::k32, key_, ""));
}

// ---- addRegistryKey, DeleteRegistryTree ----

TEST_F(RegistryTest, AddRegistryKeyCreatesThenOpens) {
  reg_.Track(RegView::k32, key_);
  const std::string deep = key_ + "\\a\\b";
  EXPECT_EQ(addRegistryKey(HKEY_LOCAL_MACHINE, deep.c_str()), 0);
  EXPECT_TRUE(reg_.KeyExists(RegView::k32, deep));
  EXPECT_FALSE(reg_.KeyExists(RegView::k64, deep));
  EXPECT_EQ(addRegistryKey(HKEY_LOCAL_MACHINE, deep.c_str()), 0);
  std::vector<std::string> m = log_.Messages();
  ASSERT_EQ(m.size(), 4u) << log_.Text();
  EXPECT_EQ(m[0], "addRegistryKey: Inside addRegistryKey method ...... ");
  EXPECT_EQ(m[1], "addRegistryKey:  Create registry key function successfull: 1 ");
  EXPECT_EQ(m[3], "addRegistryKey:  Opened already existing key! ");

  // A root Windows refuses: the failure and its code are logged and returned.
  HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1230));
  EXPECT_EQ(addRegistryKey(bogus, "x"), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(log_.Has("addRegistryKey:  Create registry key \"x\" function failed: 6 \n"));
  EXPECT_TRUE(HasMessageStarting("Error Code : 6 , Error Message : "));
}

TEST_F(RegistryTest, DeleteRegistryTreeRemovesNestedKeys) {
  // Registry key names are limited to 255 characters: the longest possible one.
  const std::string longName(255, 'L');
  for (const std::string& sub : {std::string("\\a\\b\\c\\d"), std::string("\\a\\b2"), std::string("\\e"),
                                 "\\a\\" + longName + "\\deeper"}) {
    ASSERT_TRUE(reg_.SetString(RegView::k32, key_ + sub, "v", "x")) << sub;
  }
  ASSERT_TRUE(reg_.SetString(RegView::k32, key_, "top", "x"));
  const std::string sibling = key_ + "-sibling";
  ASSERT_TRUE(reg_.CreateKey(RegView::k32, sibling));

  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_.c_str()), 1);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, key_));
  EXPECT_TRUE(reg_.KeyExists(RegView::k32, sibling));

  // Missing key: nothing to delete.
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_.c_str()), 0);
  // A leaf.
  ASSERT_TRUE(reg_.CreateKey(RegView::k32, key_));
  EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_.c_str()), 1);
  EXPECT_FALSE(reg_.KeyExists(RegView::k32, key_));
}

// ---- the sandbox itself: later tests rely on its teardown ----

TEST(RegistrySandboxTest, TeardownRestoresValuesAndRemovesCreatedKeys) {
  RegistrySandbox outer;
  const std::string existing = RegistrySandbox::UniquePath("sandbox");
  ASSERT_TRUE(outer.SetString(RegView::k32, existing, "Kept", "before"));
  {
    RegistrySandbox reg;
    ASSERT_TRUE(reg.SetString(RegView::k32, existing, "Kept", "during"));
    ASSERT_TRUE(reg.SetDword(RegView::k32, existing, "Added", 1));
    ASSERT_TRUE(reg.SetString(RegView::k32, existing + "\\new\\deeper", "v", "x"));
    ASSERT_TRUE(reg.SetString(RegView::k64, existing, "Other", "x"));
    EXPECT_EQ(reg.GetString(RegView::k32, existing, "Kept"), "during");
    EXPECT_EQ(reg.SubKeys(RegView::k32, existing), std::vector<std::string>{"new"});
  }
  EXPECT_EQ(outer.GetString(RegView::k32, existing, "Kept"), "before");
  EXPECT_FALSE(outer.ValueExists(RegView::k32, existing, "Added"));
  EXPECT_FALSE(outer.KeyExists(RegView::k32, existing + "\\new"));
  EXPECT_FALSE(outer.KeyExists(RegView::k64, existing));
}

}  // namespace
