#pragma once
// The registry store: hives, keys and REG_SZ / REG_DWORD values kept in one SQLite file
// (<sysroot>/var/lib/qev/registry.db). Key paths use '\' and compare without regard to
// case (ASCII folding), as on the system this program came from; empty components (a
// leading, trailing or doubled '\') are ignored. Value names compare the same way. HKCU
// rows are keyed by the user id. The local machine hive has a 64-bit and a 32-bit view,
// stored apart; the other hives have one view and ignore the view argument.
//
// Each thread keeps one connection to the store of the current machine folders and opens
// a new one when QEV_SYSROOT points elsewhere or the file was replaced. The store is safe
// against other processes using the same file (WAL, writes in BEGIN IMMEDIATE, a busy
// time-out of 5000 ms, or QEV_REGISTRY_BUSY_MS). Every call fails softly: a locked store
// waits out the time-out, then reads answer as for a missing value and writes return
// false. A corrupt or unusable store is reported once per store file and process through
// the diagnostic sink ("[ERROR] registry store ..."); the file is never touched.
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

// Why a call failed, for callers (qev-reg) that must tell a missing value from a store
// that cannot be used.
enum class RegStatus {
  Ok,
  NotFound,      // no such key or value (also: no store file yet)
  BadName,       // a key component longer than 255 or a value name longer than 16383 characters
  StoreFailure,  // locked past the busy time-out, corrupt, or not writable
};

class Registry {
 public:
  // The store file of the current machine folders (follows QEV_SYSROOT).
  static std::string StorePath();

  // Creates the key and every missing parent. False when the store cannot be written.
  static bool CreateKey(Hive hive, RegView view, const std::wstring& key);
  // The hive's root (an empty path) always exists.
  static bool KeyExists(Hive hive, RegView view, const std::wstring& key);
  // Removes the key, its sub-keys and their values. False when the key did not exist, is
  // the hive's root, or the store cannot be written.
  static bool DeleteKey(Hive hive, RegView view, const std::wstring& key);

  // An empty name is the key's default value. A value of the other type counts as missing.
  static std::optional<std::wstring> ReadString(Hive hive, RegView view, const std::wstring& key,
                                                const std::wstring& name);
  static std::optional<uint32_t> ReadDword(Hive hive, RegView view, const std::wstring& key,
                                           const std::wstring& name);
  // Writing creates the key when missing and replaces a value of either type.
  static bool WriteString(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                          const std::wstring& text);
  static bool WriteDword(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                         uint32_t value);
  // False when the value did not exist or the store cannot be written.
  static bool DeleteValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name);

  // Direct sub-key names (last path component, as first written) and values of a key,
  // sorted by their case-folded names. Empty when the key is missing.
  static std::vector<std::wstring> ListSubKeys(Hive hive, RegView view, const std::wstring& key);
  static std::vector<RegValue> ListValues(Hive hive, RegView view, const std::wstring& key);

  // The same operations with the reason of a failure.
  static RegStatus QueryValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                              RegValue& out);
  static RegStatus SetValue(Hive hive, RegView view, const std::wstring& key, const RegValue& value);
  static RegStatus RemoveValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name);
  static RegStatus RemoveKey(Hive hive, RegView view, const std::wstring& key);
  static RegStatus MakeKey(Hive hive, RegView view, const std::wstring& key);
  static RegStatus EnumerateKey(Hive hive, RegView view, const std::wstring& key,
                                std::vector<std::wstring>& subKeys, std::vector<RegValue>& values);

  // Ends the calling thread's connection. A process that fork()s and goes on using the
  // store in the child (rather than exec'ing) calls this first: SQLite's lock bookkeeping
  // must not be inherited. The next call opens a new connection.
  static void CloseThreadConnection();
};

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", ... (any case) to a hive; false when unknown.
bool ParseHive(const std::string& text, Hive& hive);

}  // namespace plat
