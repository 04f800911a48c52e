// Registry sandbox for Wine tests: seeds keys and values in the 32-bit or the
// 64-bit view, reads them back raw (without the agent's registry layer), and
// puts the registry back as it found it when the test ends.
//
// Typical use:
//
//   twtest::RegistrySandbox reg;                       // HKEY_LOCAL_MACHINE
//   const std::string key = reg.UniquePath("mytest");  // "Software\\TwTest\\mytest-<pid>"
//   reg.SetString(twtest::RegView::k32, key, "Name", "value");
//   reg.SetDword(twtest::RegView::k64, key, "Count", 7);
//   ... run the code under test ...
//   EXPECT_EQ(reg.GetString(twtest::RegView::k32, key, "Out"), "expected");
//   reg.Track(twtest::RegView::k32, "Software\\Other");  // also delete what the code created
//   // ~RegistrySandbox: restores overwritten values, deletes created keys.
//
// Views: k32 is KEY_WOW64_32KEY (the agent's own view, "Wow6432Node" on
// 64-bit Windows), k64 is KEY_WOW64_64KEY (the native view). The 64-bit test
// programs see these as two different trees under HKLM\Software.
//
// Teardown, in reverse order of the changes:
//  - every value the sandbox wrote into a key that already existed is put back
//    to what it was (type and bytes), or deleted when it did not exist;
//  - every key the sandbox created is deleted with its whole tree; for a path
//    with several missing levels that is the highest level it created (but
//    never the shared root "Software\\TwTest" itself, so concurrent tests in
//    other processes keep their keys);
//  - every path given to Track() is deleted with its tree.
// Tests that change keys other test programs also touch (the agent key, for
// example) still need LOCK registry in their tw_add_test.
//
// Names, paths and text values are UTF-8; they are stored and read through the
// UTF-16 registry interface. All operations return false / std::nullopt on
// failure and never throw.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace twtest {

enum class RegView { k32, k64 };

// KEY_WOW64_32KEY or KEY_WOW64_64KEY.
REGSAM ViewFlag(RegView view);

// A value as stored: its type and its bytes.
struct RawRegValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

class RegistrySandbox {
 public:
  // Root under which all paths of this sandbox are taken.
  explicit RegistrySandbox(HKEY root = HKEY_LOCAL_MACHINE);
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // The shared parent of per-test keys.
  static constexpr const char* kRoot = "Software\\TwTest";
  // "Software\\TwTest\\<name>-<process id>": a key no other test process uses.
  static std::string UniquePath(const std::string& name);

  // Creates the key (and any missing parents). Remembered for deletion when new.
  bool CreateKey(RegView view, const std::string& path);
  // REG_SZ (or the given string type) with its terminator, as UTF-16.
  bool SetString(RegView view, const std::string& path, const std::string& name, const std::string& value,
                 DWORD type = REG_SZ);
  bool SetDword(RegView view, const std::string& path, const std::string& name, DWORD value);
  // REG_BINARY with exactly these bytes.
  bool SetBinary(RegView view, const std::string& path, const std::string& name, const std::string& bytes);
  // Any type with exactly these bytes (e.g. a REG_SZ without its terminator).
  bool SetRaw(RegView view, const std::string& path, const std::string& name, DWORD type, const std::string& bytes);
  // An empty name means the key's default value in all value operations.
  bool DeleteValue(RegView view, const std::string& path, const std::string& name);

  // Reads back without any interpretation; nullopt when key or value is missing.
  std::optional<RawRegValue> GetRaw(RegView view, const std::string& path, const std::string& name) const;
  // A REG_SZ / REG_EXPAND_SZ value as UTF-8, up to its first terminator
  // (nullopt for other types too).
  std::optional<std::string> GetString(RegView view, const std::string& path, const std::string& name) const;
  // A REG_DWORD value (nullopt for other types too).
  std::optional<DWORD> GetDword(RegView view, const std::string& path, const std::string& name) const;
  bool KeyExists(RegView view, const std::string& path) const;
  bool ValueExists(RegView view, const std::string& path, const std::string& name) const;
  // Names of the direct subkeys, in the registry's order.
  std::vector<std::string> SubKeys(RegView view, const std::string& path) const;

  // Deletes the key and everything below it now; true when it is gone afterwards.
  bool DeleteTree(RegView view, const std::string& path);
  // Deletes the tree at teardown too (for keys the code under test creates).
  void Track(RegView view, const std::string& path);

  HKEY Root() const { return root_; }

 private:
  struct SavedValue {
    RegView view;
    std::string path;
    std::string name;
    std::optional<RawRegValue> before;
  };
  struct Change {
    bool isValue;
    size_t index;  // into values_ or keys_
  };
  struct TrackedKey {
    RegView view;
    std::string path;
  };
  bool Store(RegView view, const std::string& path, const std::string& name, DWORD type, const void* data,
             size_t size);
  void RememberValue(RegView view, const std::string& path, const std::string& name);

  HKEY root_;
  std::vector<SavedValue> values_;
  std::vector<TrackedKey> keys_;
  std::vector<Change> changes_;
};

}  // namespace twtest
