#pragma once
// The registry store: hives, keys and REG_SZ / REG_DWORD values kept in one SQLite file
// (<sysroot>/var/lib/qev/registry.db). Key paths use '\' and compare without regard to
// case, as on the system this program came from; a trailing '\' is ignored. HKCU rows are
// keyed by the user id. The local machine hive has a 64-bit and a 32-bit view, stored
// apart; the other hives have one view.
//
// Every call opens what it needs, is safe against other processes using the same file
// (WAL, a busy time-out), and fails softly: a locked or corrupt store reports once through
// the diagnostic sink and answers as for a missing value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

enum class Hive { LocalMachine, CurrentUser, ClassesRoot };
enum class RegView { Default, View32, View64 };  // Default is the 64-bit view here
enum class RegType { String = 1, Dword = 4 };   // REG_SZ, REG_DWORD

struct RegValue {
  std::wstring name;
  RegType type = RegType::String;
  std::wstring text;  // REG_SZ data
  uint32_t dword = 0; // REG_DWORD data
};

class Registry {
 public:
  // The store file of the current machine folders (follows QEV_SYSROOT).
  static std::string StorePath();

  // Creates the key and every missing parent. False when the store cannot be written.
  static bool CreateKey(Hive hive, RegView view, const std::wstring& key);
  static bool KeyExists(Hive hive, RegView view, const std::wstring& key);
  // Removes the key, its sub-keys and their values.
  static bool DeleteKey(Hive hive, RegView view, const std::wstring& key);

  // An empty name is the key's default value.
  static std::optional<std::wstring> ReadString(Hive hive, RegView view, const std::wstring& key,
                                                const std::wstring& name);
  static std::optional<uint32_t> ReadDword(Hive hive, RegView view, const std::wstring& key,
                                           const std::wstring& name);
  // Writing creates the key when missing.
  static bool WriteString(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                          const std::wstring& text);
  static bool WriteDword(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                         uint32_t value);
  static bool DeleteValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name);

  // Direct sub-key names (last path component, as written) and values of a key, sorted.
  static std::vector<std::wstring> ListSubKeys(Hive hive, RegView view, const std::wstring& key);
  static std::vector<RegValue> ListValues(Hive hive, RegView view, const std::wstring& key);
};

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", ... (any case) to a hive; false when unknown.
bool ParseHive(const std::string& text, Hive& hive);

}  // namespace plat
